/* hallview_options.cpp -- parses the terminal view's command line. */
#include "tools/hallview_options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli_legacy.h"
#include "wire/wire.h"

const char hallview_usage[] =
    "usage: hallview [options]\n"
    "Subscribes to a light feed and shows its 60 channels live in the terminal:\n"
    "one column per box (0..9 along the hallway), one row per channel (0..5).\n"
    "options:\n"
    "  --host ADDR    producer's IPv4 address (default " WIRE_DEFAULT_HOST ")\n"
    "  --port N       producer's server port (default " WIRE_TEXT(WIRE_DEFAULT_PORT) ")\n"
    "  --once         print one received frame as 60 numbers and exit\n"
    "  --frames N     stop after N frames\n"
    "  --timeout S    give up after S seconds without a frame (default: 10 with\n"
    "                 --once or --frames, otherwise wait for ever)\n"
    "  --help         this text\n";

namespace {

enum { KEY_HELP, KEY_ONCE, KEY_HOST, KEY_PORT, KEY_FRAMES, KEY_TIMEOUT };

const char UNKNOWN[] = "hallview: unknown argument \"%.40s\" (try --help)";

const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"once", 0, CLI_NO_VALUE, KEY_ONCE, nullptr},
    {"host", 0, CLI_VALUE, KEY_HOST, nullptr},
    {"port", 0, CLI_VALUE, KEY_PORT, nullptr},
    {"frames", 0, CLI_VALUE, KEY_FRAMES, nullptr},
    {"timeout", 0, CLI_VALUE, KEY_TIMEOUT, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {UNKNOWN, "hallview: %s needs a value"};

/* One option or operand into the hallview_options record. */
int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    hallview_options *o = (hallview_options *)record;
    long v;
    switch (key) {
    case KEY_HELP:
        o->help = 1;
        return 1;
    case KEY_ONCE:
        o->once = 1;
        return 0;
    case KEY_HOST:
        if (strlen(value) >= sizeof o->host || !cli_is_ipv4(value)) {
            snprintf(err, errlen, "hallview: --host takes a dotted IPv4 address such as 127.0.0.1, not \"%.40s\"", value);
            return -1;
        }
        strcpy(o->host, value);
        return 0;
    case KEY_PORT:
        if (cli_parse_long(value, 1, 65535, &v) != 0) {
            snprintf(err, errlen, "hallview: --port takes a number from 1 to 65535, not \"%.40s\"", value);
            return -1;
        }
        o->port = (int)v;
        return 0;
    case KEY_FRAMES:
        if (cli_parse_long(value, 1, 2000000000L, &v) != 0) {
            snprintf(err, errlen, "hallview: --frames takes a positive whole number, not \"%.40s\"", value);
            return -1;
        }
        o->frames = v;
        return 0;
    case KEY_TIMEOUT:
        if (cli_parse_long(value, 0, 86400, &v) != 0) {
            snprintf(err, errlen, "hallview: --timeout takes seconds from 0 to 86400, not \"%.40s\"", value);
            return -1;
        }
        o->timeout = (int)v;
        return 0;
    default: /* no operands */
        snprintf(err, errlen, UNKNOWN, value);
        return -1;
    }
}

} // namespace

int hallview_parse_options(int argc, char **argv, hallview_options *o,
                           char *err, size_t errlen)
{
    strcpy(o->host, WIRE_DEFAULT_HOST);
    o->port = WIRE_DEFAULT_PORT;
    o->once = 0;
    o->frames = -1;
    o->timeout = -1;
    o->help = 0;
    int r = cli_legacy_parse(argc, argv, options, &wording, take, o, err, errlen);
    if (r != 0 || o->help)
        return r;
    if (o->timeout < 0)
        o->timeout = (o->once || o->frames > 0) ? 10 : 0;
    return 0;
}
