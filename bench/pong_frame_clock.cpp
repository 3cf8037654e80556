/* pong_frame_clock.cpp -- runs the game's frame loop for 10 seconds and
 * prints the mean frame period (target 33.0 ms), the largest lateness of
 * a frame start after its due time (target under 11 ms: the wait is cut
 * into 10 ms slices) and the share of one CPU the game used. The lights
 * go to a free port with one subscriber, the paddles listen on free ports
 * and one paddle datagram arrives every frame, as in play. Uses the X
 * display when there is one, SDL's dummy video driver otherwise. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "wire/feed_client.h"
#include "netserver/hall.h"
#include "pong/my_pong.h"
#include "support/udp.h"

namespace {

const int FRAMES = 303; /* 303 x 33 ms = 10.0 s */
double starts[FRAMES];  /* monotonic start time of each frame, ms */
int started;
int controller = -1;    /* sends paddle datagrams to paddle 1 */
sockaddr_in paddle1;

double now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double cpu_ms()
{
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

void frame_started(uint32_t)
{
    if (started < FRAMES)
        starts[started++] = now_ms();
    /* a stick swinging back and forth, one message per frame */
    int32_t v = (started * 2000) % 65536 - 32768;
    unsigned char d[5];
    memcpy(d, &v, 4);
    d[4] = 0;
    sendto(controller, d, sizeof d, 0, (sockaddr *)&paddle1, sizeof paddle1);
}

} // namespace

int main()
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (!getenv("DISPLAY"))
        setenv("SDL_VIDEODRIVER", "dummy", 1);

    /* the light server on a port that was free a moment ago */
    int probe = open_udp_server(0);
    server_port = testing_udp::local_port(probe);
    close(probe);
    int saved_stdout = dup(1);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1); /* the game's messages still cost, but stay out of sight */
    if (init_lights() != 0 || open_window() != 0) {
        dup2(saved_stdout, 1);
        fprintf(stderr, "pong_frame_clock: cannot start the game\n");
        return 1;
    }
    int subscriber = testing_udp::open_socket();
    testing_udp::send_to(subscriber, server_port, "A", 1);

    srand(1);
    reset_game();
    int pdl1 = open_udp_server(0), pdl2 = open_udp_server(0);
    controller = socket(AF_INET, SOCK_DGRAM, 0);
    paddle1.sin_family = AF_INET;
    paddle1.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    paddle1.sin_port = htons(testing_udp::local_port(pdl1));

    pong_frame_started = frame_started;
    double wall0 = now_ms(), cpu0 = cpu_ms();
    frame_loop(pdl1, pdl2, FRAMES);
    double wall = now_ms() - wall0, cpu = cpu_ms() - cpu0;
    dup2(saved_stdout, 1);

    double worst = 0, total_late = 0;
    int worst_frame = 0, over_10 = 0;
    for (int k = 0; k < started; k++) {
        double late = starts[k] - (starts[0] + k * (double)PONG_FRAME_MS);
        total_late += late;
        over_10 += late > 10.0;
        if (late > worst) {
            worst = late;
            worst_frame = k;
        }
    }
    double period = (starts[started - 1] - starts[0]) / (started - 1);
    printf("pong frame clock, %d frames (%s video)\n", started,
           getenv("DISPLAY") ? "X11" : "dummy");
    printf("  mean period:     %.3f ms (target 33.0 +- 0.1)\n", period);
    printf("  worst lateness:  %.2f ms at frame %d (target under 11)\n", worst, worst_frame);
    printf("  mean lateness:   %.2f ms; %d frames more than 10 ms late\n",
           total_late / started, over_10);
    printf("  CPU share:       %.2f %% of one core\n", 100.0 * cpu / wall);
    close(subscriber);
    return 0;
}
