/* box_options.h -- the box driver's command line: serial device, the three
 * feed hosts, the first local port for feed sockets, the control socket's
 * port, and the feed and master level to start with. Without options the
 * driver runs with its built-in settings. */
#ifndef BOXDRIVER_BOX_OPTIONS_H
#define BOXDRIVER_BOX_OPTIONS_H

#include <stddef.h>

#include "wire/feeds.h"

/* The built-in feeds, numbered from 0 (the same in both builds). */
#define BOX_FEEDS WIRE_BUILTIN_FEEDS

struct box_options {
    const char *device;   /* serial device path (points into argv) */
    const char *host[3];  /* feed hosts A, B and C, dotted decimal IPv4 */
    int first_port;       /* local port of the first feed socket */
    int control_port;     /* control socket on 127.0.0.1, 0: none */
    int feed;             /* feed selected at start, 0..BOX_FEEDS-1 */
    int level;            /* master level at start, 0..256 */
    int help;             /* --help was given */
};

/* Fill *o from the arguments (defaults first). 0 on success; -1 with a
 * one-line explanation in err otherwise. */
int box_parse_options(int argc, char **argv, box_options *o, char *err,
                      size_t errlen);

/* The --help text, a printf format: program name, line speed, then the
 * feeds of host A and those of host B. */
extern const char box_usage[];

#endif
