/* dmxin.cpp -- turns a DMX universe of olad into a light feed.
 *
 * Registers with olad for the universe and keeps the newest 60 slots from
 * --start; publishes them through the network light server at a steady
 * --rate on an absolute schedule, whatever the console's pace, so that
 * subscriptions are taken in and aged evenly. Dark frames until the first
 * DMX arrives; while olad is away the last levels go on being published
 * and olad is tried again every second. SIGINT and SIGTERM end it with 0. */
#include <signal.h>
#include <stdio.h>

#include "dmx/dmx.h"
#include "dmx/dmx_loop.h"
#include "dmx/dmx_options.h"
#include "dmx/ola_link.h"
#include "loop/loop.h"
#include "netserver/hall.h"

namespace {

struct listener {
    dmxin_options o;
    ola_link link;
    int frame[LIGHT_CHANNELS]; /* what is published: the newest DMX, dark before any */
    long dmx_frames;           /* DMX frames taken in */
    double retry_at;           /* while olad is away: the next try */
    double period;             /* between frames published */
    double next;               /* when the next frame is published */
};

/* Newest DMX wins: take the 60 slots from --start; slots beyond a short
 * DMX frame are dark. */
void take_dmx(void *user, const unsigned char *slots, int count)
{
    listener *l = (listener *)user;
    int first = (int)l->o.dmx.start - 1;
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        l->frame[i] = first + i < count ? slots[first + i] : 0;
    if (l->dmx_frames++ == 0)
        printf("dmxin: first DMX on universe %ld (%d slots)\n", l->o.dmx.universe, count);
}

void try_olad_again(listener &l, double t)
{
    char why[200];
    if (ola_link_connect(&l.link, why, sizeof why) != 0) {
        l.retry_at = t + DMX_RETRY_SECONDS;
        return;
    }
    printf("dmxin: olad on port %u is back; listening to universe %ld again\n", l.o.dmx.ola_port,
           l.o.dmx.universe);
}

/* Everything before the first turn: the light server, olad and the
 * universe. 0, or the exit status when the program cannot start. */
int start_listening(listener &l)
{
    loop_catch_signals(LOOP_IGNORE_PIPE);
    server_port = l.o.port;
    if (init_lights() != 0) {
        /* the light server has said why on the line above */
        fprintf(stderr,
                "dmxin: cannot publish on UDP port %u; if another program holds it, choose "
                "another with --port\n",
                l.o.port);
        return 1;
    }
    char err[200];
    ola_link_init(&l.link, "dmxin", l.o.dmx.ola_port);
    if (ola_link_connect(&l.link, err, sizeof err) != 0) {
        ola_link_report_unreachable(&l.link, err);
        deinit_lights();
        return 1;
    }
    ola_link_listen(&l.link, l.o.dmx.universe, take_dmx, &l);
    printf("dmxin: universe %ld of olad on port %u, addresses %ld..%ld -> frames on UDP port "
           "%u, %d a second\n",
           l.o.dmx.universe, l.o.dmx.ola_port, l.o.dmx.start, l.o.dmx.start + 59, l.o.port,
           l.o.dmx.rate);
    l.period = 1.0 / l.o.dmx.rate;
    l.next = loop_now();
    return 0;
}

/* One turn: publish when due, wait for olad or the next frame's time,
 * take the DMX. false once a stop signal came (it wakes the wait). */
bool listening_turn(listener &l)
{
    double t = loop_now();
    if (t >= l.next) {
        renderFrame(l.frame);
        l.next += l.period;
        if (l.next <= t) /* fell behind (the machine slept): no burst to catch up */
            l.next = t + l.period;
    }
    bool up = ola_link_fd(&l.link) >= 0;
    double wake = up ? l.next : (l.next < l.retry_at ? l.next : l.retry_at);
    struct pollfd fd = {ola_link_fd(&l.link), POLLIN, 0};
    if (dmx_loop_wait(&fd, up ? 1 : 0, wake - t) < 0)
        return false;
    t = loop_now();
    if (up && fd.revents && ola_link_service(&l.link) != 0) {
        fprintf(stderr,
                "dmxin: lost olad on port %u (connection closed); publishing the last "
                "levels and trying olad again every second\n",
                l.o.dmx.ola_port);
        l.retry_at = t + DMX_RETRY_SECONDS;
    }
    if (ola_link_fd(&l.link) < 0 && t >= l.retry_at)
        try_olad_again(l, t);
    return true;
}

void stop_listening(listener &l)
{
    printf("dmxin: %s: stopping\n", loop_stop_signal() == SIGINT ? "SIGINT" : "SIGTERM");
    ola_link_close(&l.link);
    deinit_lights();
}

} // namespace

static listener l; /* the program's whole state */

int main(int argc, char **argv)
{
    char err[256];
    int settled =
        cli_settle(&dmxin_cli, dmxin_parse_options(argc, argv, &l.o, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    int failed = start_listening(l);
    if (failed)
        return failed;
    while (listening_turn(l)) {
    }
    stop_listening(l);
    return 0;
}
