/* testfeed_sim.cpp -- the test feed drawn straight into the simulator,
 * with no network in between: the same patterns and command line as
 * testfeed, on the simulator's back-end. */
#include "testfeed/testfeed.h"

int main(int argc, char **argv)
{
    static const testfeed_output simulator = {
        "testfeed_sim",
        "Draws wiring test patterns straight into the hallway simulator, with no network\n"
        "in between: nothing is published. Escape or closing the window ends it.\n",
        nullptr};
    return testfeed_main(argc, argv, &simulator);
}
