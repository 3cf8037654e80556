/* options.cpp -- the simulator's command line. Refuses anything it does
 * not understand with a one-line reason rather than guessing. */
#include "hallsim/options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli_legacy.h"

namespace {

enum { KEY_HELP, KEY_WINDOW, KEY_FEED };

const char UNKNOWN[] = "hallsim: unknown argument '%s' (try --help)";

const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"window", 0, CLI_NO_VALUE, KEY_WINDOW, nullptr},
    {"feed", 0, CLI_VALUE, KEY_FEED, "hallsim: --feed needs HOST[:PORT]"},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {UNKNOWN, "hallsim: %s needs a value"};

int take(void *record, int key, const char *value, char *err, size_t errlen);

static_assert(HALLSIM_HOST_SIZE == 16, "cli_parse_host_port fills 16 bytes");

} // namespace

extern "C" {

const char hallsim_usage[] =
    "Usage: hallsim [--window] [--feed HOST[:PORT]]\n"
    "Draws the hallway and its 60 lights in 3D, lit by a live light feed.\n"
    "It loads wood.bmp, wall.bmp, carpet.bmp and ceiling.bmp from the working\n"
    "directory (the build puts them beside the program), else from the installed\n"
    "data folder, share/hallway-lights beside the program's bin/.\n"
    "\n"
    "  --window            a 640 x 480 window instead of the full screen\n"
    "  --feed HOST[:PORT]  producer to subscribe to (default " WIRE_DEFAULT_HOST ":" WIRE_TEXT(WIRE_DEFAULT_PORT) ");\n"
    "                      HOST is a dotted-decimal IPv4 address\n"
    "  --help              this text\n"
    "\n"
    "Frames arrive on the first free UDP port from 7879 to 8999 (printed as\n"
    "\"sock: PORT\"). Keys: arrows forward/back, s/d sideways, a/z up/down,\n"
    "mouse to look (middle/right button forward/back), Escape to quit.\n";

int hallsim_parse_feed(const char *text, char host[HALLSIM_HOST_SIZE],
                       unsigned short *port)
{
    return cli_parse_host_port(text, WIRE_DEFAULT_PORT, host, port);
}

int hallsim_parse_options(int argc, char **argv, struct hallsim_options *o,
                          char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    strcpy(o->host, WIRE_DEFAULT_HOST);
    o->port = WIRE_DEFAULT_PORT;
    return cli_legacy_parse(argc, argv, options, &wording, take, o, err, errlen);
}

} // extern "C"

namespace {

/* One option or operand into the hallsim_options record. --help does not
 * end the walk: what follows it is still checked. */
int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    struct hallsim_options *o = (struct hallsim_options *)record;
    switch (key) {
    case KEY_HELP:
        o->help = 1;
        return 0;
    case KEY_WINDOW:
        o->window = 1;
        return 0;
    case KEY_FEED:
        if (hallsim_parse_feed(value, o->host, &o->port) != 0) {
            snprintf(err, errlen,
                     "hallsim: bad --feed '%s': want a dotted-decimal IPv4 address "
                     "and an optional :PORT of 1 to 65535",
                     value);
            return -1;
        }
        return 0;
    default: /* no operands */
        snprintf(err, errlen, UNKNOWN, value);
        return -1;
    }
}

} // namespace
