/* hallview.cpp -- a terminal consumer of a light feed.
 *
 * Opens a UDP socket on a free port, subscribes it to the producer and
 * draws every frame as a 10 x 6 grid of grey cells (boxes along, channels
 * across) with the frame rate and the time since the last frame. Renews
 * the subscription as the subscription record has it: every so many loop
 * turns and at least every so many seconds. */
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "cli/cli_legacy.h"
#include "interface_2001.h"
#include "tools/hallview_options.h"
#include "loop/loop.h"
#include "wire/feed_sub.h"

namespace {

const double REDRAW_SECONDS = 1.0 / 30; /* the eye needs no more */

volatile sig_atomic_t stop_requested = 0;
bool on_terminal = false;

void on_signal(int)
{
    stop_requested = 1;
}

void print_numbers(const int values[LIGHT_CHANNELS])
{
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        printf(i ? " %d" : "%d", values[i]);
    printf("\n");
}

/* The 256-colour palette's greys: 16 is black, 231 white, 232..255 the
 * ramp between. */
int grey_colour(int v)
{
    if (v <= 0)
        return 16;
    if (v >= 255)
        return 231;
    return 232 + v * 24 / 256;
}

void draw_grid(const int values[LIGHT_CHANNELS], const hallview_options &o,
               double fps, double since, long frames)
{
    printf("\x1b[H");
    printf("feed %s:%d   %6.1f frames/s   last frame %5.1f s ago   frames %ld\x1b[K\n",
           o.host, o.port, fps, since, frames);
    printf("        ");
    for (int b = 0; b < LIGHT_BOXES; b++)
        printf(" box %d", b);
    printf("\x1b[K\n");
    static const char *names[LIGHT_CHANNELS_PER_BOX] = {
        "lo left", "up left", "ceil L ", "ceil R ", "up rght", "lo rght"};
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
        printf("%s ", names[c]);
        for (int b = 0; b < LIGHT_BOXES; b++) {
            int v = values[b * LIGHT_CHANNELS_PER_BOX + c];
            printf(" \x1b[48;5;%dm\x1b[38;5;%dm %3d \x1b[0m", grey_colour(v),
                   v < 128 ? 250 : 16, v);
        }
        printf("\x1b[K\n");
    }
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    hallview_options o;
    char err[256];
    int parsed = hallview_parse_options(argc, argv, &o, err, sizeof err);
    int settled = cli_legacy_settle(parsed, err, o.help, hallview_usage);
    if (settled != CLI_GO_ON)
        return settled;
    feed_sub feed;
    feed_sub_init(&feed);
    feed_sub_set_target(&feed, o.host, (unsigned short)o.port);
    if (feed_sub_open(&feed, 0, 0) < 0)
        return 1;
    feed_sub_request(&feed);

    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    on_terminal = !o.once && isatty(1);
    if (on_terminal)
        printf("\x1b[2J\x1b[?25l");

    int values[LIGHT_CHANNELS] = {0};
    long frames = 0;
    double start = loop_now(), last_frame = start, last_draw = 0;
    double rate_mark = start;
    long rate_frames = 0;
    double fps = 0;
    int status = 0;
    while (!stop_requested) {
        fd_set in;
        FD_ZERO(&in);
        FD_SET(feed.sock, &in);
        struct timeval tv = {0, 100000};
        select(feed.sock + 1, &in, NULL, NULL, &tv);

        /* Every frame is taken (and printed when not on a terminal). */
        bool got = false;
        int r;
        while ((r = feed_sub_read(&feed, values)) != 0) {
            if (r == 1) {
                got = true;
                frames++;
                rate_frames++;
                last_frame = feed.frame_at;
                if (o.once || !on_terminal)
                    print_numbers(values);
                if (o.once || (o.frames > 0 && frames >= o.frames))
                    break;
            }
        }
        if (o.once && frames > 0)
            break;
        if (o.frames > 0 && frames >= o.frames)
            break;

        feed_sub_turn(&feed);
        double t = loop_now();
        if (t - rate_mark >= 1.0) {
            fps = rate_frames / (t - rate_mark);
            rate_frames = 0;
            rate_mark = t;
        }
        if (on_terminal && (got || t - last_draw >= 0.5) && t - last_draw >= REDRAW_SECONDS) {
            draw_grid(values, o, fps, frames ? t - last_frame : t - start, frames);
            last_draw = t;
        }
        if (o.timeout > 0 && t - last_frame >= o.timeout) {
            fprintf(stderr, "hallview: no frame from %s:%d for %d s\n", o.host, o.port,
                    o.timeout);
            status = 1;
            break;
        }
    }
    if (on_terminal)
        printf("\x1b[?25h\n");
    feed_sub_close(&feed);
    return status;
}
