/* dmxin.cpp -- turns a DMX universe of olad into a light feed.
 *
 * Registers with olad for the universe and keeps the newest 60 slots from
 * --start; publishes them through the network light server at a steady
 * --rate on an absolute schedule, whatever the console's pace, so that
 * subscriptions are taken in and aged evenly. Dark frames until the first
 * DMX arrives; while olad is away the last levels go on being published
 * and olad is tried again every second. SIGINT and SIGTERM end it with 0. */
#include <stdio.h>

#include "cli/cli_legacy.h"
#include "dmx/dmx.h"
#include "dmx/dmx_loop.h"
#include "dmx/dmx_options.h"
#include "dmx/ola_link.h"
#include "netserver/hall.h"
#include "loop/loop.h"
#include "wire/feed_sub.h"

namespace {

struct listener {
    dmxin_options o;
    ola_link link;
    int frame[LIGHT_CHANNELS]; /* what is published: the newest DMX, dark before any */
    long dmx_frames;           /* DMX frames taken in */
    double retry_at;           /* while olad is away: the next try */
};

/* Newest DMX wins: take the 60 slots from --start; slots beyond a short
 * DMX frame are dark. */
void take_dmx(void *user, const unsigned char *slots, int count)
{
    listener *l = (listener *)user;
    int first = (int)l->o.start - 1;
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        l->frame[i] = first + i < count ? slots[first + i] : 0;
    if (l->dmx_frames++ == 0)
        printf("dmxin: first DMX on universe %ld (%d slots)\n", l->o.universe, count);
}

void try_olad_again(listener &l, double t)
{
    char why[200];
    if (ola_link_connect(&l.link, why, sizeof why) != 0) {
        l.retry_at = t + DMX_RETRY_SECONDS;
        return;
    }
    printf("dmxin: olad on port %u is back; listening to universe %ld again\n", l.o.ola_port,
           l.o.universe);
}

} // namespace

static listener l; /* the program's whole state */

int main(int argc, char **argv)
{
    char err[512];
    int parsed = dmxin_parse_options(argc, argv, &l.o, err, sizeof err);
    int settled = cli_legacy_settle(parsed, err, l.o.help, dmxin_usage);
    if (settled != CLI_GO_ON)
        return settled;

    dmx_loop_catch_signals();
    server_port = l.o.port;
    if (init_lights() != 0) {
        /* the light server has said why on the line above */
        fprintf(stderr,
                "dmxin: cannot publish on UDP port %u; if another program holds it, choose "
                "another with --port\n",
                l.o.port);
        return 1;
    }
    ola_link_init(&l.link, "dmxin", l.o.ola_port);
    if (ola_link_connect(&l.link, err, sizeof err) != 0) {
        ola_link_report_unreachable(&l.link, err);
        deinit_lights();
        return 1;
    }
    ola_link_listen(&l.link, l.o.universe, take_dmx, &l);
    printf("dmxin: universe %ld of olad on port %u, addresses %ld..%ld -> frames on UDP port "
           "%u, %d a second\n",
           l.o.universe, l.o.ola_port, l.o.start, l.o.start + 59, l.o.port, l.o.rate);

    const double period = 1.0 / l.o.rate;
    double next = loop_now();
    for (;;) {
        double t = loop_now();
        if (t >= next) {
            renderFrame(l.frame);
            next += period;
            if (next <= t) /* fell behind (the machine slept): no burst to catch up */
                next = t + period;
        }
        bool up = ola_link_fd(&l.link) >= 0;
        double wake = up ? next : (next < l.retry_at ? next : l.retry_at);
        struct pollfd fd = {ola_link_fd(&l.link), POLLIN, 0};
        if (dmx_loop_wait(&fd, up ? 1 : 0, wake - t) < 0)
            break;
        t = loop_now();
        if (up && fd.revents && ola_link_service(&l.link) != 0) {
            fprintf(stderr,
                    "dmxin: lost olad on port %u (connection closed); publishing the last "
                    "levels and trying olad again every second\n",
                    l.o.ola_port);
            l.retry_at = t + DMX_RETRY_SECONDS;
        }
        if (ola_link_fd(&l.link) < 0 && t >= l.retry_at)
            try_olad_again(l, t);
    }

    const char *signal_name;
    dmx_loop_stopping(&signal_name);
    printf("dmxin: %s: stopping\n", signal_name);
    ola_link_close(&l.link);
    deinit_lights();
    return 0;
}
