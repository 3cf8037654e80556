/* options.cpp -- the simulator's options, one row each. Refuses anything
 * it does not understand with a one-line reason rather than guessing. */
#include "hallsim/options.h"

#include <string.h>

namespace {

const cli_opt rows[] = {
    {.name = "window", .kind = CLI_FLAG, .help = "a 640 x 480 window instead of the full screen",
     CLI_INTO(hallsim_options, window)},
    {.name = "feed", .kind = CLI_HOST_PORT,
     .help = "producer to subscribe to; HOST is a dotted-decimal IPv4 address",
     .dflt = WIRE_DEFAULT_HOST ":" WIRE_TEXT(WIRE_DEFAULT_PORT), .min = WIRE_DEFAULT_PORT,
     CLI_INTO(hallsim_options, host), .port_at = offsetof(hallsim_options, port)},
    {},
};

} // namespace

extern "C" {

const cli_program hallsim_cli = {
    .name = "hallsim",
    .synopsis = "[--window] [--feed HOST[:PORT]]",
    .about = "Draws the hallway and its 60 lights in 3D, lit by a live light feed.\n"
             "It loads wood.bmp, wall.bmp, carpet.bmp and ceiling.bmp from the working\n"
             "directory (the build puts them beside the program), else from the installed\n"
             "data folder, share/hallway-lights beside the program's bin/.\n",
    .opts = rows,
    .footer = "Frames arrive on the first free UDP port from 7879 to 8999 (printed as\n"
              "\"sock: PORT\"). Keys: arrows forward/back, s/d sideways, a/z up/down,\n"
              "mouse to look (middle/right button forward/back), Escape to quit.\n",
};

int hallsim_parse_options(int argc, char **argv, struct hallsim_options *o, char *err,
                          size_t errlen)
{
    memset(o, 0, sizeof *o);
    return cli_parse(&hallsim_cli, argc, argv, o, err, errlen);
}

} // extern "C"
