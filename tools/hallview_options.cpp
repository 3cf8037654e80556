/* hallview_options.cpp -- parses the terminal view's command line. */
#include "tools/hallview_options.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "cli/cli.h"
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

int hallview_parse_options(int argc, char **argv, hallview_options *o,
                           char *err, size_t errlen)
{
    strcpy(o->host, WIRE_DEFAULT_HOST);
    o->port = WIRE_DEFAULT_PORT;
    o->once = 0;
    o->frames = -1;
    o->timeout = -1;
    o->help = 0;

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        long v;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            o->help = 1;
            return 0;
        } else if (strcmp(a, "--once") == 0) {
            o->once = 1;
        } else if (strcmp(a, "--host") == 0 || strcmp(a, "--port") == 0 ||
                   strcmp(a, "--frames") == 0 || strcmp(a, "--timeout") == 0) {
            if (i + 1 >= argc) {
                snprintf(err, errlen, "hallview: %s needs a value", a);
                return -1;
            }
            const char *value = argv[++i];
            if (strcmp(a, "--host") == 0) {
                struct in_addr parsed;
                if (strlen(value) >= sizeof o->host || inet_pton(AF_INET, value, &parsed) != 1) {
                    snprintf(err, errlen, "hallview: --host takes a dotted IPv4 address such as 127.0.0.1, not \"%.40s\"", value);
                    return -1;
                }
                strcpy(o->host, value);
            } else if (strcmp(a, "--port") == 0) {
                if (cli_parse_long(value, 1, 65535, &v) != 0) {
                    snprintf(err, errlen, "hallview: --port takes a number from 1 to 65535, not \"%.40s\"", value);
                    return -1;
                }
                o->port = (int)v;
            } else if (strcmp(a, "--frames") == 0) {
                if (cli_parse_long(value, 1, 2000000000L, &v) != 0) {
                    snprintf(err, errlen, "hallview: --frames takes a positive whole number, not \"%.40s\"", value);
                    return -1;
                }
                o->frames = v;
            } else {
                if (cli_parse_long(value, 0, 86400, &v) != 0) {
                    snprintf(err, errlen, "hallview: --timeout takes seconds from 0 to 86400, not \"%.40s\"", value);
                    return -1;
                }
                o->timeout = (int)v;
            }
        } else {
            snprintf(err, errlen, "hallview: unknown argument \"%.40s\" (try --help)", a);
            return -1;
        }
    }
    if (o->timeout < 0)
        o->timeout = (o->once || o->frames > 0) ? 10 : 0;
    return 0;
}
