/* testfeed_options.h -- the test feed's command line. */
#ifndef TESTFEED_TESTFEED_OPTIONS_H
#define TESTFEED_TESTFEED_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

enum testfeed_pattern { TESTFEED_WALK, TESTFEED_BOXES, TESTFEED_ALL, TESTFEED_OFF };

struct testfeed_options {
    int port;        /* server port to publish on */
    int rate;        /* frames per second */
    int hold;        /* frames per step of walk and boxes */
    int level;       /* level of the lit channels */
    long frames;     /* stop after this many frames; -1 runs for ever */
    testfeed_pattern pattern;
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED. */
int testfeed_parse_options(int argc, char **argv, testfeed_options *o, char *err,
                           size_t errlen);

/* For a program that publishes nothing: --help says --port is unused. */
void testfeed_port_unused(void);

/* The command line as --help describes it; each program fills in `name`
 * and `about`. */
extern cli_program testfeed_cli;

#endif
