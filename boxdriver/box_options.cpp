/* box_options.cpp -- parses the box driver's command line. Hosts must be
 * dotted decimal IPv4 text, since that is what the feed table holds and
 * what a subscription is sent to. */
#include "boxdriver/box_options.h"
#include "cli/cli.h"

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
    "  --help             this text\n"
    "The channel map is read from \"hall_config\" in the working directory.\n";

namespace {

} // namespace

int box_parse_options(int argc, char **argv, box_options *o, char *err,
                      size_t errlen)
{
    o->device = "/dev/ttyS0";
    for (int h = 0; h < 3; h++)
        o->host[h] = "127.0.0.1";
    o->first_port = 7881;
    o->help = 0;

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            o->help = 1;
            return 0;
        }
        static const char *const host_names[3] = {"--host-a", "--host-b",
                                                  "--host-c"};
        int host = -1;
        for (int h = 0; h < 3; h++)
            if (strcmp(a, host_names[h]) == 0)
                host = h;
        bool known = host >= 0 || strcmp(a, "--device") == 0 ||
                     strcmp(a, "--local-port") == 0;
        if (!known) {
            snprintf(err, errlen, "boxdriver: unknown argument \"%.40s\" (try --help)", a);
            return -1;
        }
        if (i + 1 >= argc) {
            snprintf(err, errlen, "boxdriver: %s needs a value", a);
            return -1;
        }
        const char *v = argv[++i];
        if (host >= 0) {
            struct in_addr addr;
            if (inet_pton(AF_INET, v, &addr) != 1) {
                snprintf(err, errlen, "boxdriver: %s takes a dotted decimal IPv4 address, not \"%.40s\"",
                         a, v);
                return -1;
            }
            o->host[host] = v;
        } else if (strcmp(a, "--device") == 0) {
            if (!*v || strlen(v) >= PATH_MAX) {
                snprintf(err, errlen, "boxdriver: --device takes a path of 1 to %d characters",
                         PATH_MAX - 1);
                return -1;
            }
            o->device = v;
        } else {
            long port;
            if (cli_parse_long(v, 1, 65535, &port) != 0) {
                snprintf(err, errlen, "boxdriver: --local-port takes a whole number from 1 to 65535, not \"%.40s\"",
                         v);
                return -1;
            }
            o->first_port = (int)port;
        }
    }
    return 0;
}
