/* testfeed_options.h -- the test feed's command line. */
#ifndef TESTFEED_TESTFEED_OPTIONS_H
#define TESTFEED_TESTFEED_OPTIONS_H

#include <stddef.h>

enum testfeed_pattern { TESTFEED_WALK, TESTFEED_BOXES, TESTFEED_ALL, TESTFEED_OFF };

struct testfeed_options {
    int port;        /* server port to publish on */
    int rate;        /* frames per second */
    int hold;        /* frames per step of walk and boxes */
    int level;       /* level of the lit channels */
    long frames;     /* stop after this many frames; -1 runs for ever */
    testfeed_pattern pattern;
    int help;        /* --help was given */
};

/* Fill *o from the arguments (defaults first). 0 on success; -1 with a
 * one-line explanation in err otherwise. */
int testfeed_parse_options(int argc, char **argv, testfeed_options *o,
                           char *err, size_t errlen);

extern const char testfeed_usage[];

#endif
