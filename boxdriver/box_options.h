/* box_options.h -- the box driver's command line: serial device, the three
 * feed hosts, the first local port for feed sockets, the control socket's
 * port, and the feed and master level to start with. Without options the
 * driver runs with its built-in settings. */
#ifndef BOXDRIVER_BOX_OPTIONS_H
#define BOXDRIVER_BOX_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"
#include "wire/feeds.h"

/* The built-in feeds, numbered from 0 (the same in both builds). */
#define BOX_FEEDS WIRE_BUILTIN_FEEDS

struct box_options {
    const char *device;   /* serial device path (points into argv) */
    char host[3][16];     /* feed hosts A, B and C, dotted decimal IPv4 */
    int first_port;       /* local port of the first feed socket */
    int control_port;     /* control socket on 127.0.0.1, 0: none */
    int feed;             /* feed selected at start, 0..BOX_FEEDS-1 */
    int level;            /* master level at start, 0..256 */
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED. */
int box_parse_options(int argc, char **argv, box_options *o, char *err, size_t errlen);

/* The command line as --help describes it; the console fills in `about`
 * (the line speed and the feeds' hosts differ between the builds). */
extern cli_program box_cli;

#endif
