/* dmxout.cpp -- puts a light feed on a DMX universe through olad.
 *
 * One loop: it subscribes to the producer like every consumer, keeps the
 * newest frame, and sends it to olad at most --rate times a second on a
 * fixed grid of time slots (a frame that arrives in a slot already used
 * waits for the next one, and a newer frame replaces it meanwhile). A
 * silent feed's last frame goes again every second. When olad goes away
 * the feed stays subscribed and olad is tried again every second. Made to
 * run unattended: one line per event, SIGINT and SIGTERM end it with 0.
 *
 * olad answers each frame (ola_link.h): while it has two unanswered, the
 * newest frame waits and the ones it replaces are dropped and counted,
 * and it goes the moment olad answers. A connection left unanswered for
 * seconds is stuck (a stopped daemon, a corrupt stream) and is made
 * afresh. The service manager hears that the loop is alive. */
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "dmx/dmx.h"
#include "dmx/dmx_loop.h"
#include "dmx/dmx_options.h"
#include "dmx/dmx_patch.h"
#include "dmx/ola_link.h"
#include "loop/loop.h"
#include "loop/loop_health.h"
#include "wire/feed_sub.h"

namespace {

const double FEED_SILENT_SECONDS = 2.0; /* when a quiet feed is worth a line */
const double MAX_WAIT = 0.25;           /* the loop turns at least this often */
const int MOST_READ_A_TURN = 256;       /* datagrams taken per turn */
const double BLACKOUT_WAIT = 2.0;       /* for olad to confirm the last frame */
const double DRAIN_WAIT = 0.5;          /* for olad to take the frames in hand at the end */
const double DROPPING_SAID_AFTER = 0.5; /* dropping this long is worth a line */
/* olad leaving a frame unanswered this long is stuck: a new connection.
 * While new connections stay unanswered too the wait doubles, up to the
 * most, since OLA's client keeps a little memory of each one given up. */
const double STALL_SECONDS = 3.0;
const double STALL_MOST_SECONDS = 60.0;

struct sender {
    dmxout_options o;
    dmx_patch patch;
    feed_sub sub;
    ola_link link;
    int values[LIGHT_CHANNELS];   /* the newest frame from the feed */
    unsigned char slots[DMX_SLOTS];
    bool have_frame;              /* a frame has come since the start */
    bool pending;                 /* the newest frame is not on the universe yet */
    double grid_start;            /* slot k of the rate's grid starts at grid_start + k / rate */
    long last_slot;               /* the slot of the last send */
    double last_send;
    double retry_at;              /* while olad is away: the next try */
    bool feed_silent;             /* said that the feed fell silent */
    bool held;                    /* the newest frame's turn came while olad could not take it */
    double dropping_since;        /* when the first of `dropped` was */
    long dropped;                 /* frames replaced while held, since olad last took one */
    long dropped_before;          /* ... and all the times before */
    bool dropping_said;
    bool outage;                  /* olad went away or stuck: say when it answers again */
    double stall_wait;            /* how long olad may leave a frame unanswered */
    long sent;                    /* frames handed to olad */
    long sent_then;               /* ... at the last figure of frames a second */
    long frames_per_second;
    loop_every second;
};

long slot_of(const sender &s, double t)
{
    return (long)floor((t - s.grid_start) * s.o.dmx.rate);
}

void lost_olad(sender &s, double t)
{
    if (!s.outage)
        fprintf(stderr,
                "dmxout: lost olad on port %u (connection closed); keeping the feed and trying "
                "olad again every second\n",
                s.o.dmx.ola_port);
    s.outage = true;
    s.retry_at = t + DMX_RETRY_SECONDS;
}

/* Put the newest frame on the universe (olad is ready for it). */
void send_frame(sender &s, double t)
{
    dmx_patch_apply(&s.patch, s.values, s.o.level, s.slots);
    s.last_slot = slot_of(s, t);
    s.last_send = t;
    if (ola_link_send(&s.link, s.o.dmx.universe, s.slots, s.patch.slots) != 0) {
        lost_olad(s, t); /* OLA's client gave the connection up */
        return;
    }
    s.pending = false;
    s.held = false;
    s.sent++;
}

void try_olad_again(sender &s, double t)
{
    char why[200];
    if (ola_link_connect(&s.link, why, sizeof why) != 0) {
        s.retry_at = t + DMX_RETRY_SECONDS;
        return;
    }
    /* the universe may have lost our levels with olad: send them at once;
     * olad's answer says it is back */
    if (s.have_frame)
        s.pending = true;
}

/* Said once olad has answered on a new connection (at once when there is
 * nothing to send yet). */
void olad_back(sender &s)
{
    if (!s.outage || ola_link_fd(&s.link) < 0 || (s.have_frame && s.link.answers == 0))
        return;
    printf("dmxout: olad on port %u is back; sending to universe %ld again\n", s.o.dmx.ola_port,
           s.o.dmx.universe);
    s.outage = false;
    s.stall_wait = STALL_SECONDS;
}

/* A frame left unanswered for the stall wait: close the connection and
 * make a new one at once. */
void check_stall(sender &s, double t)
{
    double since = ola_link_waiting_since(&s.link);
    if (since <= 0 || t - since < s.stall_wait)
        return;
    if (!s.outage)
        fprintf(stderr,
                "dmxout: olad on port %u has not answered for %.0f s; connecting to it again\n",
                s.o.dmx.ola_port, t - since);
    /* a new connection that never answered either: wait longer next time */
    if (s.outage && s.link.answers == 0)
        s.stall_wait = fmin(s.stall_wait * 2, STALL_MOST_SECONDS);
    s.outage = true;
    ola_link_close(&s.link);
    s.retry_at = t;
}

/* Dropping frames for olad's sake is said once it has lasted a moment,
 * and again when the newest has gone to an olad that answers. */
void say_dropping(sender &s, double t)
{
    if (s.dropped == 0)
        return;
    if (!s.held && !s.outage) {
        if (s.dropping_said)
            printf("dmxout: olad takes frames again; %ld dropped in %.1f s, the newest sent\n",
                   s.dropped, t - s.dropping_since);
        s.dropped_before += s.dropped;
        s.dropped = 0;
        s.dropping_said = false;
    } else if (!s.dropping_said && !s.outage && t - s.dropping_since >= DROPPING_SAID_AFTER) {
        printf("dmxout: olad is not taking frames; dropping all but the newest\n");
        s.dropping_said = true;
    }
}

/* The one-line state for the service manager: feed, olad, frames. */
const char *describe_health(sender &s, double t, char *buf, size_t size)
{
    const char *olad = ola_link_fd(&s.link) < 0 ? "away"
                       : s.outage               ? "not answering"
                       : s.held                 ? "not taking frames"
                                                : "up";
    snprintf(buf, size, "Feed %s:%u %s; olad %s; %ld frames/s to universe %ld, %ld dropped",
             s.o.feed_host, s.o.feed_port, feed_sub_live(&s.sub, t) ? "live" : "not live", olad,
             s.frames_per_second, s.o.dmx.universe, s.dropped_before + s.dropped);
    return buf;
}

void report_health(sender &s, double t)
{
    if (loop_every_due(&s.second, t)) {
        s.frames_per_second = s.sent - s.sent_then;
        s.sent_then = s.sent;
    }
    if (loop_health_due(t)) {
        char status[256];
        loop_health_alive(describe_health(s, t, status, sizeof status));
    }
}

/* When the loop must turn next: the rate's next slot for a waiting frame,
 * the repeat of a silent feed's frame, the next try of olad. */
double next_wake(const sender &s, double t)
{
    double wake = t + MAX_WAIT;
    bool up = ola_link_fd(&s.link) >= 0;
    /* while olad holds its share, its answer wakes the loop */
    bool ready = ola_link_ready(&s.link);
    if (ready && s.pending)
        wake = fmin(wake, s.grid_start + (double)(s.last_slot + 1) / s.o.dmx.rate);
    if (ready && s.have_frame)
        wake = fmin(wake, s.last_send + DMX_REPEAT_SECONDS);
    double since = ola_link_waiting_since(&s.link);
    if (since > 0)
        wake = fmin(wake, since + s.stall_wait);
    if (s.dropped > 0 && !s.dropping_said && !s.outage)
        wake = fmin(wake, s.dropping_since + DROPPING_SAID_AFTER);
    if (!up)
        wake = fmin(wake, s.retry_at);
    return wake;
}

void describe(const sender &s)
{
    char where[320];
    if (s.o.patch)
        snprintf(where, sizeof where, "patched by %.300s", s.o.patch);
    else
        snprintf(where, sizeof where, "at addresses %ld..%ld", s.o.dmx.start, s.o.dmx.start + 59);
    printf("dmxout: feed %s:%u (receiving on UDP port %u) -> olad on port %u, universe %ld, "
           "channels %s, level %d/256, at most %d frames/s\n",
           s.o.feed_host, s.o.feed_port, s.sub.local_port, s.o.dmx.ola_port, s.o.dmx.universe,
           where, s.o.level, s.o.dmx.rate);
}

/* Everything before the first turn: the patch, olad, the feed. 0, or the
 * exit status when the program cannot start. */
int start_sending(sender &s)
{
    char err[512];
    int patched = s.o.patch ? dmx_patch_load(&s.patch, s.o.patch, err, sizeof err)
                            : dmx_patch_from_start(&s.patch, s.o.dmx.start, err, sizeof err);
    if (patched != 0) {
        fprintf(stderr, "dmxout: %s\n", err);
        return 2;
    }
    /* a write to an olad that has gone away fails instead of ending us */
    loop_catch_signals(LOOP_IGNORE_PIPE);
    ola_link_init(&s.link, "dmxout", s.o.dmx.ola_port);
    if (ola_link_connect(&s.link, err, sizeof err) != 0) {
        ola_link_report_unreachable(&s.link, err);
        return 1;
    }
    feed_sub_init(&s.sub);
    feed_sub_set_target(&s.sub, s.o.feed_host, s.o.feed_port);
    if (feed_sub_open(&s.sub, 0, 0) < 0) {
        fprintf(stderr, "dmxout: cannot open a UDP socket for the feed\n");
        ola_link_close(&s.link);
        return 1;
    }
    feed_sub_request(&s.sub);
    describe(s);
    s.grid_start = loop_now();
    s.last_slot = -1;
    s.stall_wait = STALL_SECONDS;
    loop_every_start(&s.second, 1.0, s.grid_start);
    char status[256];
    loop_health_ready(describe_health(s, s.grid_start, status, sizeof status));
    return 0;
}

/* Take the newest frame of the feed, and say when the feed starts, falls
 * silent or comes back. */
void take_feed(sender &s)
{
    int n = feed_sub_read_newest(&s.sub, s.values, MOST_READ_A_TURN);
    if (n > 0) {
        /* the frame waiting for olad, and all but the newest that came */
        if (s.held && s.dropped++ == 0)
            s.dropping_since = loop_now();
        if (s.held)
            s.dropped += n - 1;
        if (!s.have_frame)
            printf("dmxout: first frame from the feed\n");
        else if (s.feed_silent)
            printf("dmxout: the feed is back\n");
        s.have_frame = true;
        s.pending = true;
        s.feed_silent = false;
    }
    feed_sub_turn(&s.sub);
    double t = loop_now();
    if (s.have_frame && !s.feed_silent && t - s.sub.frame_at >= FEED_SILENT_SECONDS) {
        printf("dmxout: no frame from the feed for %.0f s; repeating the last one every "
               "second\n",
               FEED_SILENT_SECONDS);
        s.feed_silent = true;
    }
}

/* One turn: wait for the feed, olad or the next thing due, then act.
 * false once a stop signal came (it wakes the wait). */
bool sending_turn(sender &s)
{
    double t = loop_now();
    struct pollfd fds[2] = {{s.sub.sock, POLLIN, 0}, {ola_link_fd(&s.link), POLLIN, 0}};
    if (dmx_loop_wait(fds, fds[1].fd >= 0 ? 2 : 1, next_wake(s, t) - t) < 0)
        return false;
    t = loop_now();
    if (fds[1].fd >= 0 && fds[1].revents && ola_link_service(&s.link) != 0)
        lost_olad(s, t);
    take_feed(s);

    t = loop_now();
    check_stall(s, t);
    if (ola_link_fd(&s.link) < 0 && t >= s.retry_at)
        try_olad_again(s, t);
    olad_back(s);
    /* a new frame in a free slot of the rate's grid, or the last one
     * again after a second of silence (always a later slot) */
    bool due = (s.pending && slot_of(s, t) > s.last_slot) ||
               (s.have_frame && t - s.last_send >= DMX_REPEAT_SECONDS);
    if (due && ola_link_ready(&s.link)) {
        send_frame(s, t);
    } else if (due && s.pending) {
        s.held = true;
    }
    say_dropping(s, t);
    report_health(s, t);
    return true;
}

/* After the stop signal: all channels at 0 when asked for, then close. */
void stop_sending(sender &s)
{
    const char *signal_name = loop_stop_signal() == SIGINT ? "SIGINT" : "SIGTERM";
    if (s.o.blackout_on_exit) {
        memset(s.values, 0, sizeof s.values);
        dmx_patch_apply(&s.patch, s.values, s.o.level, s.slots);
        if (ola_link_send_and_wait(&s.link, s.o.dmx.universe, s.slots, s.patch.slots,
                                   BLACKOUT_WAIT) == 0)
            printf("dmxout: %s: sent all channels at 0; stopping\n", signal_name);
        else
            fprintf(stderr, "dmxout: %s: olad did not take the channels at 0; stopping\n",
                    signal_name);
    } else {
        ola_link_drain(&s.link, DRAIN_WAIT);
        printf("dmxout: %s: stopping; the lamps keep their levels\n", signal_name);
    }
    ola_link_close(&s.link);
    feed_sub_close(&s.sub);
}

} // namespace

static sender s; /* the program's whole state */

int main(int argc, char **argv)
{
    char err[256];
    int settled =
        cli_settle(&dmxout_cli, dmxout_parse_options(argc, argv, &s.o, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    int failed = start_sending(s);
    if (failed)
        return failed;
    while (sending_turn(s)) {
    }
    stop_sending(s);
    return 0;
}
