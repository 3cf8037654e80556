/* gl_sim.cpp -- hallsim: subscribes to a light feed and draws every frame
 * as a 3D hallway through the simulator back-end.
 *
 * One free-running loop: read the newest frame if one is waiting, draw
 * it (or the last one again), renew the subscription every 250 turns.
 * State: the received frame and the feed socket. */
#include <fcntl.h>
#include <stdio.h>

#include <SDL.h>

#include "wire/feed_client.h"
#include "hallsim/hall.h"
#include "hallsim/options.h"

namespace {

const int FIRST_PORT = 7879; /* receiving ports tried, first free one wins */
const int LAST_PORT = 8999;
const unsigned RENEW_EVERY = 250; /* loop turns between subscription requests */

int light_data[LIGHT_CHANNELS]; /* the frame last received */
int sock = -1;                  /* feed socket, -1 until a port is bound */

/* Leave through here once the window is open, so that a full-screen
 * display mode is given back. */
int fail_after_init(void)
{
    SDL_Quit();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    struct hallsim_options o;
    char err[256];
    if (hallsim_parse_options(argc, argv, &o, err, sizeof err) != 0) {
        fprintf(stderr, "%s\n", err);
        return 2;
    }
    if (o.help) {
        fputs(hallsim_usage, stdout);
        return 0;
    }
    feed_set_target(o.host, o.port);
    hall_set_windowed(o.window);

    if (init_lights() != 0)
        return -1;

    sock = -1;
    int port = FIRST_PORT;
    for (; sock < 0 && port <= LAST_PORT; port++)
        sock = open_udp_server(port);
    if (sock < 0)
        return fail_after_init();
    printf("sock: %i\n", port - 1);

    request_subscription(sock);
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
        /* A blocking socket would stall the picture until a frame came. */
        perror("fcntl(O_NONBLOCK)");
        return fail_after_init();
    }

    for (unsigned turn = 1;; turn++) {
        if (read_data_packet(sock, light_data) < 0)
            return fail_after_init();
        renderFrame(light_data);
        if (turn % RENEW_EVERY == 0)
            request_subscription(sock);
    }
}
