/* options.h -- the simulator's command line: --window, --feed
 * HOST[:PORT] and --help. Kept apart from the program so that tests and
 * fuzz targets can call the parser. */
#ifndef HALLSIM_OPTIONS_H
#define HALLSIM_OPTIONS_H

#include <stddef.h>

#include "wire/wire.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HALLSIM_HOST_SIZE 16 /* dotted-decimal IPv4 text and its 0 */

struct hallsim_options {
    int help;                     /* --help was given */
    int window;                   /* --window: 640 x 480 window */
    char host[HALLSIM_HOST_SIZE]; /* producer to subscribe to */
    unsigned short port;          /* its server port */
};

/* Parse "HOST[:PORT]" (dotted-decimal IPv4, port 1..65535, the music
 * show's port when left out). 0 on success; -1 with host and port untouched otherwise. */
int hallsim_parse_feed(const char *text, char host[HALLSIM_HOST_SIZE],
                       unsigned short *port);

/* Fill *o from the arguments (defaults first). 0 on success; -1 with a
 * one-line explanation in err otherwise. */
int hallsim_parse_options(int argc, char **argv, struct hallsim_options *o,
                          char *err, size_t errlen);

extern const char hallsim_usage[];

#ifdef __cplusplus
}
#endif

#endif
