/* testfeed.cpp -- the test feed on the network: its wiring test patterns
 * go to every subscriber of --port through the network light server. */
#include <stdint.h>

#include "netserver/hall.h"
#include "testfeed/testfeed.h"

static void publish_on(int port)
{
    server_port = (uint16_t)port;
}

int main(int argc, char **argv)
{
    static const testfeed_output network = {
        "testfeed",
        "Publishes wiring test patterns as light frames to every subscriber of --port.\n",
        publish_on};
    return testfeed_main(argc, argv, &network);
}
