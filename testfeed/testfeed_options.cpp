/* testfeed_options.cpp -- parses the test feed's command line. */
#include "testfeed/testfeed_options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli.h"
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

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            o->help = 1;
            return 0;
        }
        struct { const char *name; long min, max; } numeric[] = {
            {"--port", 1, 65535}, {"--rate", 1, 1000}, {"--hold", 1, 1000000},
            {"--level", 0, 255}, {"--frames", 0, 2000000000L},
        };
        bool matched = false;
        for (size_t k = 0; k < sizeof numeric / sizeof numeric[0]; k++) {
            if (strcmp(a, numeric[k].name) != 0)
                continue;
            matched = true;
            long v;
            if (i + 1 >= argc) {
                snprintf(err, errlen, "testfeed: %s needs a value", a);
                return -1;
            }
            if (cli_parse_long(argv[++i], numeric[k].min, numeric[k].max, &v) != 0) {
                snprintf(err, errlen, "testfeed: %s takes a whole number from %ld to %ld, not \"%.40s\"",
                         a, numeric[k].min, numeric[k].max, argv[i]);
                return -1;
            }
            switch (k) {
            case 0: o->port = (int)v; break;
            case 1: o->rate = (int)v; break;
            case 2: o->hold = (int)v; break;
            case 3: o->level = (int)v; break;
            default: o->frames = v; break;
            }
        }
        if (matched)
            continue;
        if (strcmp(a, "walk") == 0)
            o->pattern = TESTFEED_WALK;
        else if (strcmp(a, "boxes") == 0)
            o->pattern = TESTFEED_BOXES;
        else if (strcmp(a, "all") == 0)
            o->pattern = TESTFEED_ALL;
        else if (strcmp(a, "off") == 0)
            o->pattern = TESTFEED_OFF;
        else {
            snprintf(err, errlen, "testfeed: unknown argument \"%.40s\" (try --help)", a);
            return -1;
        }
    }
    if (o->hold < 0)
        o->hold = o->rate;
    return 0;
}
