/* hallview.cpp -- a terminal consumer of a light feed.
 *
 * Opens a UDP socket on a free port, subscribes it to the producer and
 * draws every frame as a 10 x 6 grid of grey cells (boxes along, channels
 * across) with the frame rate and the time since the last frame. Renews
 * the subscription as the subscription record has it: every so many loop
 * turns and at least every so many seconds. State: the subscription, the
 * frame last read and the counts behind the header line, below. */
#include <stdio.h>
#include <sys/select.h>
#include <unistd.h>

#include "interface_2001.h"
#include "loop/loop.h"
#include "tools/hallview_options.h"
#include "wire/feed_sub.h"

namespace {

const double REDRAW_SECONDS = 1.0 / 30; /* the eye needs no more */
const int GO_ON = -1;                   /* a turn's answer while the view runs */

bool on_terminal = false;               /* drawing the grid, not printing numbers */
feed_sub feed;                          /* the producer's feed */
int values[LIGHT_CHANNELS];             /* the frame last read */
long frames = 0;                        /* frames read so far */
double start = 0, last_frame = 0, last_draw = 0;
double rate_mark = 0;                   /* when rate_frames started counting */
long rate_frames = 0;
double fps = 0;                         /* the rate in the header line */

void print_numbers()
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

/* The header line and the grid of the frame last read; `since`: seconds
 * since the last frame (or since the start, before any). */
void draw_grid(const hallview_options &o, double since)
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

/* Open the socket, ask for frames, and take over the screen when it is a
 * terminal. 0, or -1 when no socket could be opened. */
int view_start(const hallview_options &o)
{
    feed_sub_init(&feed);
    feed_sub_set_target(&feed, o.host, (unsigned short)o.port);
    if (feed_sub_open(&feed, 0, 0) < 0)
        return -1;
    feed_sub_request(&feed);
    loop_catch_signals(0);
    on_terminal = !o.once && isatty(1);
    if (on_terminal)
        printf("\x1b[2J\x1b[?25l");
    start = last_frame = rate_mark = loop_now();
    return 0;
}

/* Take every waiting frame (printed when not on a terminal), up to the
 * last one wanted. true when one came. */
bool take_frames(const hallview_options &o)
{
    bool got = false;
    int r;
    while ((r = feed_sub_read(&feed, values)) != 0) {
        if (r == 1) {
            got = true;
            frames++;
            rate_frames++;
            last_frame = feed.frame_at;
            if (o.once || !on_terminal)
                print_numbers();
            if (o.once || (o.frames > 0 && frames >= o.frames))
                break;
        }
    }
    return got;
}

/* One turn: wait up to a tenth of a second for frames, take them, renew
 * when due, redraw. GO_ON, or the exit status once the view is done. */
int view_turn(const hallview_options &o)
{
    fd_set in;
    FD_ZERO(&in);
    FD_SET(feed.sock, &in);
    struct timeval tv = {0, 100000};
    select(feed.sock + 1, &in, NULL, NULL, &tv);

    bool got = take_frames(o);
    if ((o.once && frames > 0) || (o.frames > 0 && frames >= o.frames))
        return 0;

    feed_sub_turn(&feed);
    double t = loop_now();
    if (t - rate_mark >= 1.0) {
        fps = rate_frames / (t - rate_mark);
        rate_frames = 0;
        rate_mark = t;
    }
    if (on_terminal && (got || t - last_draw >= 0.5) && t - last_draw >= REDRAW_SECONDS) {
        draw_grid(o, frames ? t - last_frame : t - start);
        last_draw = t;
    }
    if (o.timeout > 0 && t - last_frame >= o.timeout) {
        fprintf(stderr, "hallview: no frame from %s:%d for %d s\n", o.host, o.port, o.timeout);
        return 1;
    }
    return GO_ON;
}

/* Give the terminal its cursor back and close the socket. */
void view_end()
{
    if (on_terminal)
        printf("\x1b[?25h\n");
    feed_sub_close(&feed);
}

} // namespace

int main(int argc, char **argv)
{
    hallview_options o;
    char err[256];
    int settled =
        cli_settle(&hallview_cli, hallview_parse_options(argc, argv, &o, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    if (view_start(o) != 0)
        return 1;
    int status = GO_ON;
    while (status == GO_ON && !loop_stop_signal())
        status = view_turn(o);
    view_end();
    return status == GO_ON ? 0 : status;
}
