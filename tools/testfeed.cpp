/* testfeed.cpp -- the test feed on the network: its wiring test patterns
 * go to every subscriber of --port through the network light server. */
#include <stdint.h>

#include "cli/cli_legacy.h"
#include "netserver/hall.h"
#include "testfeed/testfeed.h"

int main(int argc, char **argv)
{
    testfeed_options o;
    char err[256];
    int parsed = testfeed_parse_options(argc, argv, &o, err, sizeof err);
    int settled = cli_legacy_settle(parsed, err, o.help, testfeed_usage);
    if (settled != CLI_GO_ON)
        return settled;
    server_port = (uint16_t)o.port;
    return testfeed_run(&o);
}
