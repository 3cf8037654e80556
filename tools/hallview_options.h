/* hallview_options.h -- the terminal view's command line. */
#ifndef TOOLS_HALLVIEW_OPTIONS_H
#define TOOLS_HALLVIEW_OPTIONS_H

#include <stddef.h>

struct hallview_options {
    char host[64];     /* producer's dotted-decimal address */
    int port;          /* producer's server port */
    int once;          /* print one frame as 60 numbers and exit */
    long frames;       /* stop after this many frames; -1 for ever */
    int timeout;       /* seconds to wait for a frame before giving up; 0 never */
    int help;
};

/* Fill *o from the arguments (defaults first). 0 on success; -1 with a
 * one-line explanation in err otherwise. */
int hallview_parse_options(int argc, char **argv, hallview_options *o,
                           char *err, size_t errlen);

extern const char hallview_usage[];

#endif
