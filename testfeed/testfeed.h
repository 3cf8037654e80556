/* testfeed.h -- the test feed, whatever light output back-end carries
 * it: the wiring test patterns, frame by frame, handed to renderFrame at
 * a steady rate. testfeed (the network light server) and testfeed_sim
 * (the simulator's back-end) each call testfeed_main from their main. */
#ifndef TESTFEED_TESTFEED_H
#define TESTFEED_TESTFEED_H

#include "testfeed/testfeed_options.h"

/* What differs between the programs: the name in messages, what --help
 * says the program does, and how the back-end takes --port before
 * init_lights (NULL: it has no port, and --port is taken but unused). */
struct testfeed_output {
    const char *name;
    const char *about;
    void (*use_port)(int port);
};

/* The whole program: the command line, then the patterns until the frame
 * count is reached or SIGINT/SIGTERM comes. The exit status: that of the
 * command line (2 when refused, 0 after --help), 0 after the run, or 1
 * with a message when the output cannot be opened or asks to stop. */
int testfeed_main(int argc, char **argv, const testfeed_output *output);

#endif
