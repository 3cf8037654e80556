/* box_options.cpp -- the box driver's options, one row each. Hosts must
 * be dotted decimal IPv4 text, since that is what the feed table holds and
 * what a subscription is sent to. */
#include "boxdriver/box_options.h"

#include <string.h>

#include "wire/control.h"
#include "wire/wire.h"

namespace {

const cli_opt rows[] = {
    {.name = "device", .kind = CLI_PATH,
     .help = "serial device (USB adapters are /dev/ttyUSB0 and the like)",
     .dflt = "/dev/ttyS0", CLI_INTO(box_options, device)},
    {.name = "host-a", .kind = CLI_HOST, .help = "host A of the feeds above",
     .dflt = WIRE_DEFAULT_HOST, CLI_INTO(box_options, host[0])},
    {.name = "host-b", .kind = CLI_HOST, .help = "host B of the feeds above",
     .dflt = WIRE_DEFAULT_HOST, CLI_INTO(box_options, host[1])},
    {.name = "host-c", .kind = CLI_HOST, .help = "host of \"Guest 1\" to \"Guest 3\"",
     .dflt = WIRE_DEFAULT_HOST, CLI_INTO(box_options, host[2])},
    {.name = "local-port", .kind = CLI_INT,
     .help = "local UDP port of the first feed socket; each change of feed takes the next",
     .dflt = "7881", .min = 1, .max = 65535, CLI_INTO(box_options, first_port)},
    {.name = "control", .kind = CLI_INT, .arg = "PORT",
     .help = "take the keys 0-9, u, d (and ? to ask) as one-byte UDP datagrams on "
             "127.0.0.1:PORT, answering each with the feeds, feed, level and liveness as a "
             "line of JSON (for hallweb --driver)",
     .dflt = "none", .min = 1, .max = 65535, CLI_INTO(box_options, control_port),
     .flags = CLI_SHOWN},
    {.name = "feed", .kind = CLI_INT, .help = "the feed shown at start", .dflt = "0", .min = 0,
     .max = BOX_FEEDS - 1, CLI_INTO(box_options, feed)},
    {.name = "level", .kind = CLI_INT, .arg = "L",
     .help = "the master level at start; 128 halves every frame",
     .dflt = WIRE_TEXT(CONTROL_LEVEL_MAX), .min = 0, .max = CONTROL_LEVEL_MAX,
     CLI_INTO(box_options, level)},
    {},
};

} // namespace

cli_program box_cli = {
    .name = "boxdriver",
    .about = "Shows a chosen light feed on the dimmer boxes of the serial line.\n",
    .opts = rows,
    .footer = "The channel map is read from \"hall_config\" in the working directory.\n"
              "Without a terminal (a service logging to the journal) the menu is shown\n"
              "once, then each event is one line; at the end of standard input the\n"
              "driver runs on.\n",
};

int box_parse_options(int argc, char **argv, box_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    o->control_port = CONTROL_PORT_NONE;
    return cli_parse(&box_cli, argc, argv, o, err, errlen);
}
