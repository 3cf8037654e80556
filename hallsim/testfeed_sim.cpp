/* testfeed_sim.cpp -- the test feed drawn straight into the simulator,
 * with no network in between: the same patterns and command line as
 * testfeed, on the simulator's back-end (--port is taken but unused). */
#include "cli/cli_legacy.h"
#include "testfeed/testfeed.h"

int main(int argc, char **argv)
{
    testfeed_options o;
    char err[256];
    int parsed = testfeed_parse_options(argc, argv, &o, err, sizeof err);
    int settled = cli_legacy_settle(parsed, err, o.help, testfeed_usage);
    if (settled != CLI_GO_ON)
        return settled;
    return testfeed_run(&o);
}
