/* options.cpp -- the simulator's command line. Refuses anything it does
 * not understand with a one-line reason rather than guessing. */
#include "hallsim/options.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "cli/cli.h"

extern "C" {

const char hallsim_usage[] =
    "Usage: hallsim [--window] [--feed HOST[:PORT]]\n"
    "Draws the hallway and its 60 lights in 3D, lit by a live light feed.\n"
    "Start it in the directory that holds wood.bmp, wall.bmp, carpet.bmp\n"
    "and ceiling.bmp (the build puts them beside the program).\n"
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
    if (text == NULL)
        return -1;
    const char *colon = strchr(text, ':');
    size_t host_len = colon ? (size_t)(colon - text) : strlen(text);
    if (host_len == 0 || host_len >= HALLSIM_HOST_SIZE)
        return -1;
    char h[HALLSIM_HOST_SIZE];
    memcpy(h, text, host_len);
    h[host_len] = '\0';
    struct in_addr parsed;
    if (inet_pton(AF_INET, h, &parsed) != 1)
        return -1;
    long p = WIRE_DEFAULT_PORT;
    if (colon && cli_parse_long(colon + 1, 1, 65535, &p) != 0)
        return -1;
    memcpy(host, h, host_len + 1);
    *port = (unsigned short)p;
    return 0;
}

int hallsim_parse_options(int argc, char **argv, struct hallsim_options *o,
                          char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    strcpy(o->host, WIRE_DEFAULT_HOST);
    o->port = WIRE_DEFAULT_PORT;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const char *feed = NULL;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            o->help = 1;
        } else if (strcmp(arg, "--window") == 0) {
            o->window = 1;
        } else if (strcmp(arg, "--feed") == 0) {
            if (i + 1 >= argc) {
                snprintf(err, errlen, "hallsim: --feed needs HOST[:PORT]");
                return -1;
            }
            feed = argv[++i];
        } else if (strncmp(arg, "--feed=", 7) == 0) {
            feed = arg + 7;
        } else {
            snprintf(err, errlen, "hallsim: unknown argument '%s' (try --help)", arg);
            return -1;
        }
        if (feed && hallsim_parse_feed(feed, o->host, &o->port) != 0) {
            snprintf(err, errlen,
                     "hallsim: bad --feed '%s': want a dotted-decimal IPv4 address "
                     "and an optional :PORT of 1 to 65535",
                     feed);
            return -1;
        }
    }
    return 0;
}

} // extern "C"
