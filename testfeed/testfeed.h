/* testfeed.h -- the test feed, whatever light output back-end carries
 * it: the wiring test patterns, frame by frame, handed to renderFrame at
 * a steady rate. testfeed (the network light server) and testfeed_sim
 * (the simulator's back-end) are each a main() around testfeed_run. */
#ifndef TESTFEED_TESTFEED_H
#define TESTFEED_TESTFEED_H

#include "testfeed/testfeed_options.h"

/* Open the light output, publish the pattern of *o until its frame count
 * is reached or SIGINT/SIGTERM comes, close the output. The exit status:
 * 0, or 1 with a message when the output cannot be opened or asks to
 * stop. */
int testfeed_run(const testfeed_options *o);

#endif
