/* testfeed_options.cpp -- the test feed's options, one row each, and its
 * one operand, the pattern. */
#include "testfeed/testfeed_options.h"

#include <stdio.h>
#include <string.h>

#include "wire/wire.h"

namespace {

/* In testfeed_pattern order. */
const char *const PATTERNS[] = {"walk", "boxes", "all", "off", nullptr};

int take_pattern(void *record, const char *value, char *err, size_t errlen)
{
    for (int i = 0; PATTERNS[i]; i++) {
        if (strcmp(value, PATTERNS[i]) == 0) {
            ((testfeed_options *)record)->pattern = (testfeed_pattern)i;
            return 0;
        }
    }
    snprintf(err, errlen, "unknown pattern '%.40s' (walk, boxes, all or off)", value);
    return -1;
}

/* Not const: a program with no network says so in the port's row. */
cli_opt rows[] = {
    {.name = "port", .kind = CLI_INT,
     .help = "UDP server port; " WIRE_TEXT(WIRE_PORT_TEST) " is the box driver's \"Test pattern\" feed",
     .dflt = WIRE_TEXT(WIRE_PORT_TEST), .min = 1, .max = 65535, CLI_INTO(testfeed_options, port)},
    {.name = "rate", .kind = CLI_INT, .help = "frames per second", .dflt = "30", .min = 1,
     .max = 1000, CLI_INTO(testfeed_options, rate)},
    {.name = "hold", .kind = CLI_INT, .help = "frames per step of walk and boxes",
     .dflt = "one second's worth", .min = 1, .max = 1000000, CLI_INTO(testfeed_options, hold),
     .flags = CLI_SHOWN},
    {.name = "level", .kind = CLI_INT, .help = "level of lit channels", .dflt = "255", .min = 0,
     .max = 255, CLI_INTO(testfeed_options, level)},
    {.name = "frames", .kind = CLI_INT, .help = "stop after N frames", .dflt = "run for ever",
     .min = 0, .max = 2000000000L, CLI_INTO(testfeed_options, frames), .flags = CLI_SHOWN},
    {},
};

} // namespace

cli_program testfeed_cli = {
    .name = "testfeed",
    .synopsis = "[options] [walk|boxes|all|off]",
    .opts = rows,
    .footer = "patterns:\n"
              "  walk   one channel at full at a time, 0 to 59 (default)\n"
              "  boxes  one whole box at a time, 0 to 9\n"
              "  all    every channel at the level\n"
              "  off    every channel dark\n",
    .operand = take_pattern,
};

void testfeed_port_unused(void)
{
    rows[0].help = "taken so that a testfeed command line runs unchanged; unused, since "
                   "nothing is published";
}

int testfeed_parse_options(int argc, char **argv, testfeed_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    o->frames = -1;
    o->pattern = TESTFEED_WALK;
    int r = cli_parse(&testfeed_cli, argc, argv, o, err, errlen);
    if (o->hold == 0) /* not given: one second's worth */
        o->hold = o->rate;
    return r;
}
