/* hallview_options.cpp -- the terminal view's options, one row each. */
#include "tools/hallview_options.h"

#include <string.h>

#include "wire/wire.h"

namespace {

const cli_opt rows[] = {
    {.name = "host", .kind = CLI_HOST, .help = "producer's IPv4 address",
     .dflt = WIRE_DEFAULT_HOST, CLI_INTO(hallview_options, host)},
    {.name = "port", .kind = CLI_INT, .help = "producer's server port",
     .dflt = WIRE_TEXT(WIRE_DEFAULT_PORT), .min = 1, .max = 65535, CLI_INTO(hallview_options, port)},
    {.name = "once", .kind = CLI_FLAG, .help = "print one received frame as 60 numbers and exit",
     CLI_INTO(hallview_options, once)},
    {.name = "frames", .kind = CLI_INT, .help = "stop after N frames", .min = 1,
     .max = 2000000000L, CLI_INTO(hallview_options, frames)},
    {.name = "timeout", .kind = CLI_INT, .arg = "S",
     .help = "give up after S seconds without a frame; 0 waits for ever",
     .dflt = "10 with --once or --frames, otherwise 0", .min = 0, .max = 86400,
     CLI_INTO(hallview_options, timeout), .flags = CLI_SHOWN},
    {},
};

} // namespace

const cli_program hallview_cli = {
    .name = "hallview",
    .about = "Subscribes to a light feed and shows its 60 channels live in the terminal:\n"
             "one column per box (0..9 along the hallway), one row per channel (0..5).\n",
    .opts = rows,
};

int hallview_parse_options(int argc, char **argv, hallview_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    o->frames = -1;
    o->timeout = -1;
    int r = cli_parse(&hallview_cli, argc, argv, o, err, errlen);
    if (o->timeout < 0)
        o->timeout = (o->once || o->frames > 0) ? 10 : 0;
    return r;
}
