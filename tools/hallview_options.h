/* hallview_options.h -- the terminal view's command line. */
#ifndef TOOLS_HALLVIEW_OPTIONS_H
#define TOOLS_HALLVIEW_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

struct hallview_options {
    char host[16];     /* producer's dotted-decimal address */
    int port;          /* producer's server port */
    int once;          /* print one frame as 60 numbers and exit */
    long frames;       /* stop after this many frames; -1 for ever */
    int timeout;       /* seconds to wait for a frame before giving up; 0 never */
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED. */
int hallview_parse_options(int argc, char **argv, hallview_options *o, char *err,
                           size_t errlen);

/* The command line as --help describes it. */
extern const cli_program hallview_cli;

#endif
