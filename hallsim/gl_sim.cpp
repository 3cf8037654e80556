/* gl_sim.cpp -- hallsim: subscribes to a light feed and draws every frame
 * as a 3D hallway through the simulator back-end.
 *
 * One free-running loop: read a frame if one is waiting, draw it (or the
 * last one again), renew the subscription when it is due. State: the
 * received frame and the subscription. */
#include <stdio.h>

#include <SDL.h>

#include "hallsim/hall.h"
#include "hallsim/options.h"
#include "wire/feed_sub.h"

namespace {

const int FIRST_PORT = 7879; /* receiving ports tried, first free one wins */
const int LAST_PORT = 8999;

int light_data[LIGHT_CHANNELS]; /* the frame last received */
feed_sub feed;                  /* the producer's feed */

/* Leave through here once the window is open, so that a full-screen
 * display mode is given back. */
int fail_after_init(void)
{
    SDL_Quit();
    return -1;
}

/* The window first, then the receiving socket and the first request, as
 * the start-up order has it. 0, or -1 (the reason printed) on failure. */
int start_sim(const hallsim_options &o)
{
    feed_sub_init(&feed);
    feed_sub_set_target(&feed, o.host, o.port);
    hall_set_windowed(o.window);
    if (init_lights() != 0)
        return -1;
    int port = feed_sub_open(&feed, FIRST_PORT, LAST_PORT);
    if (port < 0)
        return fail_after_init();
    printf("sock: %i\n", port);
    feed_sub_request(&feed);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    struct hallsim_options o;
    char err[256];
    int settled =
        cli_settle(&hallsim_cli, hallsim_parse_options(argc, argv, &o, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    if (start_sim(o) != 0)
        return -1;
    /* Ends through renderFrame when the user quits. A short datagram or a
     * failed receive is said (at most once a second) and passed over:
     * whatever reaches the port from the network, the last frame stays
     * on the screen. */
    for (;;) {
        feed_sub_read(&feed, light_data);
        renderFrame(light_data);
        feed_sub_turn(&feed);
    }
}
