/* testfeed_options.cpp -- parses the test feed's command line. */
#include "testfeed/testfeed_options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli_legacy.h"
#include "wire/wire.h"

const char testfeed_usage[] =
    "usage: testfeed [options] [walk|boxes|all|off]\n"
    "Publishes wiring test patterns as light frames to every subscriber.\n"
    "  walk   one channel at full at a time, 0 to 59 (default)\n"
    "  boxes  one whole box at a time, 0 to 9\n"
    "  all    every channel at the level\n"
    "  off    every channel dark\n"
    "options:\n"
    "  --port N     UDP server port (default " WIRE_TEXT(WIRE_PORT_TEST) ", the box driver's \"Test pattern\" feed)\n"
    "  --rate N     frames per second, 1..1000 (default 30)\n"
    "  --hold N     frames per step of walk and boxes (default: one second's worth)\n"
    "  --level N    level of lit channels, 0..255 (default 255)\n"
    "  --frames N   stop after N frames (default: run for ever)\n"
    "  --help       this text\n";

namespace {

enum { KEY_HELP, KEY_PORT, KEY_RATE, KEY_HOLD, KEY_LEVEL, KEY_FRAMES };

const char UNKNOWN[] = "testfeed: unknown argument \"%.40s\" (try --help)";

const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"port", 0, CLI_VALUE, KEY_PORT, nullptr},
    {"rate", 0, CLI_VALUE, KEY_RATE, nullptr},
    {"hold", 0, CLI_VALUE, KEY_HOLD, nullptr},
    {"level", 0, CLI_VALUE, KEY_LEVEL, nullptr},
    {"frames", 0, CLI_VALUE, KEY_FRAMES, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {UNKNOWN, "testfeed: %s needs a value"};

/* The range of each number option, from KEY_PORT on. */
const struct {
    const char *name;
    long min, max;
} numbers[] = {
    {"--port", 1, 65535},
    {"--rate", 1, 1000},
    {"--hold", 1, 1000000},
    {"--level", 0, 255},
    {"--frames", 0, 2000000000L},
};

const struct {
    const char *name;
    testfeed_pattern pattern;
} patterns[] = {
    {"walk", TESTFEED_WALK},
    {"boxes", TESTFEED_BOXES},
    {"all", TESTFEED_ALL},
    {"off", TESTFEED_OFF},
};

/* One option or operand (a pattern name) into the testfeed_options record. */
int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    testfeed_options *o = (testfeed_options *)record;
    if (key == KEY_HELP) {
        o->help = 1;
        return 1;
    }
    if (key == CLI_OPERAND) {
        for (const auto &p : patterns) {
            if (strcmp(value, p.name) == 0) {
                o->pattern = p.pattern;
                return 0;
            }
        }
        snprintf(err, errlen, UNKNOWN, value);
        return -1;
    }
    const auto &n = numbers[key - KEY_PORT];
    long v;
    if (cli_parse_long(value, n.min, n.max, &v) != 0) {
        snprintf(err, errlen, "testfeed: %s takes a whole number from %ld to %ld, not \"%.40s\"",
                 n.name, n.min, n.max, value);
        return -1;
    }
    switch (key) {
    case KEY_PORT: o->port = (int)v; break;
    case KEY_RATE: o->rate = (int)v; break;
    case KEY_HOLD: o->hold = (int)v; break;
    case KEY_LEVEL: o->level = (int)v; break;
    default: o->frames = v; break;
    }
    return 0;
}

} // namespace

int testfeed_parse_options(int argc, char **argv, testfeed_options *o,
                           char *err, size_t errlen)
{
    o->port = WIRE_PORT_TEST;
    o->rate = 30;
    o->hold = -1;
    o->level = 255;
    o->frames = -1;
    o->pattern = TESTFEED_WALK;
    o->help = 0;
    int r = cli_legacy_parse(argc, argv, options, &wording, take, o, err, errlen);
    if (r != 0 || o->help)
        return r;
    if (o->hold < 0)
        o->hold = o->rate;
    return 0;
}
