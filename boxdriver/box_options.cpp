/* box_options.cpp -- parses the box driver's command line. Hosts must be
 * dotted decimal IPv4 text, since that is what the feed table holds and
 * what a subscription is sent to. */
#include "boxdriver/box_options.h"
#include "cli/cli.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "wire/control.h"
#include "wire/wire.h"

const char box_usage[] =
    "usage: %s [options]\n"
    "Shows a chosen light feed on the dimmer boxes of the serial line (%d baud).\n"
    "Keys: 0-6 pick a feed, u/d master level up/down, q quit.\n"
    "options:\n"
    "  --device PATH      serial device (default /dev/ttyS0; USB adapters are\n"
    "                     /dev/ttyUSB0 and the like)\n"
    "  --host-a ADDR      host of %s\n"
    "  --host-b ADDR      host of %s\n"
    "  --host-c ADDR      host of \"Guest 1\" to \"Guest 3\"\n"
    "                     (every host defaults to 127.0.0.1)\n"
    "  --local-port N     local UDP port of the first feed socket, 1..65535\n"
    "                     (default 7881; each change of feed takes the next)\n"
    "  --control PORT     take the keys 0-9, u, d (and ? to ask) as one-byte UDP\n"
    "                     datagrams on 127.0.0.1:PORT, answering each with the\n"
    "                     feeds, feed, level and liveness as a line of JSON\n"
    "                     (for hallweb --driver); default: no such socket\n"
    "  --feed N           the feed shown at start, 0..6 (default 0)\n"
    "  --level L          the master level at start, 0..256 (default 256;\n"
    "                     128 halves every frame)\n"
    "  --help             this text\n"
    "The channel map is read from \"hall_config\" in the working directory.\n"
    "Without a terminal (a service logging to the journal) the menu is shown\n"
    "once, then each event is one line; at the end of standard input the\n"
    "driver runs on.\n";

namespace {

enum { KEY_HELP, KEY_DEVICE, KEY_HOST_A, KEY_HOST_B, KEY_HOST_C, KEY_LOCAL_PORT, KEY_CONTROL,
       KEY_FEED, KEY_LEVEL };

const char UNKNOWN[] = "boxdriver: unknown argument \"%.40s\" (try --help)";

const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"device", 0, CLI_VALUE, KEY_DEVICE, nullptr},
    {"host-a", 0, CLI_VALUE, KEY_HOST_A, nullptr},
    {"host-b", 0, CLI_VALUE, KEY_HOST_B, nullptr},
    {"host-c", 0, CLI_VALUE, KEY_HOST_C, nullptr},
    {"local-port", 0, CLI_VALUE, KEY_LOCAL_PORT, nullptr},
    {"control", 0, CLI_VALUE, KEY_CONTROL, nullptr},
    {"feed", 0, CLI_VALUE, KEY_FEED, nullptr},
    {"level", 0, CLI_VALUE, KEY_LEVEL, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {UNKNOWN, "boxdriver: %s needs a value"};

/* One option or operand into the box_options record. */
int take(void *record, int key, const char *v, char *err, size_t errlen)
{
    box_options *o = (box_options *)record;
    long port, number;
    switch (key) {
    case KEY_HELP:
        o->help = 1;
        return 1;
    case KEY_HOST_A:
    case KEY_HOST_B:
    case KEY_HOST_C:
        if (!cli_is_ipv4(v)) {
            snprintf(err, errlen, "boxdriver: --host-%c takes a dotted decimal IPv4 address, not \"%.40s\"",
                     'a' + (key - KEY_HOST_A), v);
            return -1;
        }
        o->host[key - KEY_HOST_A] = v;
        return 0;
    case KEY_DEVICE:
        if (!*v || strlen(v) >= PATH_MAX) {
            snprintf(err, errlen, "boxdriver: --device takes a path of 1 to %d characters",
                     PATH_MAX - 1);
            return -1;
        }
        o->device = v;
        return 0;
    case KEY_LOCAL_PORT:
        if (cli_parse_long(v, 1, 65535, &port) != 0) {
            snprintf(err, errlen, "boxdriver: --local-port takes a whole number from 1 to 65535, not \"%.40s\"",
                     v);
            return -1;
        }
        o->first_port = (int)port;
        return 0;
    case KEY_CONTROL:
        if (cli_parse_long(v, 1, 65535, &port) != 0) {
            snprintf(err, errlen, "boxdriver: --control takes a UDP port from 1 to 65535, not \"%.40s\"",
                     v);
            return -1;
        }
        o->control_port = (int)port;
        return 0;
    case KEY_FEED:
        if (cli_parse_long(v, 0, BOX_FEEDS - 1, &number) != 0) {
            snprintf(err, errlen, "boxdriver: --feed takes a feed number from 0 to %d, not \"%.40s\"",
                     BOX_FEEDS - 1, v);
            return -1;
        }
        o->feed = (int)number;
        return 0;
    case KEY_LEVEL:
        if (cli_parse_long(v, 0, 256, &number) != 0) {
            snprintf(err, errlen, "boxdriver: --level takes a whole number from 0 to 256, not \"%.40s\"",
                     v);
            return -1;
        }
        o->level = (int)number;
        return 0;
    default: /* the driver takes no operands */
        snprintf(err, errlen, UNKNOWN, v);
        return -1;
    }
}

} // namespace

int box_parse_options(int argc, char **argv, box_options *o, char *err,
                      size_t errlen)
{
    o->device = "/dev/ttyS0";
    for (int h = 0; h < 3; h++)
        o->host[h] = WIRE_DEFAULT_HOST;
    o->first_port = 7881;
    o->control_port = CONTROL_PORT_NONE;
    o->feed = 0;
    o->level = 256;
    o->help = 0;
    return cli_parse(argc, argv, options, &wording, take, o, err, errlen);
}
