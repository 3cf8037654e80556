/* net_hall_server.cpp -- the box driver's console.
 *
 * The operator picks one of the built-in feeds and a master level; every
 * frame of the chosen feed is scaled by the level and handed to the serial
 * box back-end (hall.cpp). One loop around select on the feed socket, the
 * keyboard and, with --control, the control socket, whose keys act exactly
 * as typed ones (drvctl.cpp). With neither a keyboard nor a screen (a
 * service logging to the journal) there is no menu to redraw: each event
 * is one line. State: the feed table, the subscription, the level and the
 * last frame, all in file-level variables below. */
#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include "boxdriver/box_options.h"
#include "boxdriver/drvctl.h"
#include "boxdriver/hall.h"
#include "loop/loop.h"
#include "loop/loop_health.h"
#include "wire/feed_sub.h"
#include "wire/control.h"
#include "wire/control_server.h"
#include "wire/feeds.h"
#include "wire/wire.h"

static int display_menu();
static int set_raw_mode();
static int scale_frame();

namespace {

/* A producer the operator can pick. */
struct feed_record {
    const char *name;
    char host[INET_ADDRSTRLEN];   /* dotted decimal; empty ends the table */
    unsigned short port;          /* the producer's server port */
};

/* The built-in feeds are the floor's table (wire/feeds.h); the 57600
 * baud build's installation plays its main music, row 0, from host B. */
#if BOX_BAUD == 57600
const wire_host_role MAIN_MUSIC_HOST = WIRE_HOST_B;
#else
const wire_host_role MAIN_MUSIC_HOST = WIRE_HOST_A;
#endif

/* Feed sockets take the ports up to LAST_PORT, then start again here. */
const int WRAP_PORT = 7879;
const int LAST_PORT = 10000;
const double TURN_SECONDS = 0.5;      /* a turn waits this long for input */
const int MAX_WAITING_READS = 64;     /* datagrams taken per turn at most */

feed_record feed_list[WIRE_BUILTIN_FEEDS + 1]; /* the feeds and a terminator */
int num_feeds = WIRE_BUILTIN_FEEDS;
int selected_feed = 0;
int next_port = 7881;                 /* local port of the next feed socket */
int scale = CONTROL_LEVEL_MAX;        /* master level, 0..256 in steps of 16 */
feed_sub feed;                        /* the selected feed's subscription */
int light_data[LIGHT_CHANNELS];       /* the frame last read */
bool shown_live = false;              /* the liveness last shown */
double turn_ends = 0;                 /* when the present turn's wait ends */

double line_report_at = 0;            /* when the line's figures were last taken */
long long line_written = 0, line_replaced = 0;  /* ... and their counts then */
long line_shown = -1, replaced_shown = -1;       /* the figures last printed */

bool console_open = true;             /* standard input still gives keys */
bool attended = true;                 /* a terminal on either side: the menu */
bool console_changed = false;         /* saved_console must be put back */
struct termios saved_console;

void fill_feed_list(const char *const hosts[3])
{
    for (int i = 0; i < num_feeds; i++) {
        const wire_feed_row *row = &wire_builtin_feeds[i];
        feed_list[i].name = row->name;
        snprintf(feed_list[i].host, sizeof feed_list[i].host, "%s",
                 hosts[i == 0 ? MAIN_MUSIC_HOST : row->host]);
        feed_list[i].port = row->port;
    }
    feed_list[num_feeds].name = "";
    feed_list[num_feeds].host[0] = '\0';
    feed_list[num_feeds].port = 0;
}

/* Open the subscription's socket on the next port and ask the selected
 * feed. When keep_trying is set, a port that is in use is passed over for
 * the one after it (up to LAST_PORT, then from WRAP_PORT), so that a change
 * of feed never ends the driver. 0, or -1 when no port binds. */
int subscribe(bool keep_trying)
{
    int port = feed_sub_open(&feed, next_port, keep_trying ? LAST_PORT : next_port);
    if (port < 0 && keep_trying)
        port = feed_sub_open(&feed, WRAP_PORT, next_port - 1);
    if (port < 0)
        return -1;
    next_port = port + 1 > LAST_PORT ? WRAP_PORT : port + 1;
    printf("sock: %i\n", feed.sock);
    feed_sub_set_target(&feed, feed_list[selected_feed].host, feed_list[selected_feed].port);
    feed_sub_request(&feed);
    return 0;
}

void restore_console()
{
    if (console_changed)
        tcsetattr(0, TCSANOW, &saved_console);
}

/* Take every waiting frame and show the newest: when frames come faster
 * than the line carries them, the lamps stay current instead of lagging
 * behind a queue. Short datagrams and errors are reported and passed. */
void read_feed()
{
    if (feed_sub_read_newest(&feed, light_data, MAX_WAITING_READS) > 0) {
        scale_frame();
        renderFrame(light_data);
    }
}

/* Once a second: the frames the line carried and the frames replaced
 * while waiting for it, in a line under the menu whenever they change
 * (the line's rate by more than a frame a second, or replacing begins
 * or ends), so the operator sees when the feed outruns the line. */
void report_line(double now)
{
    if (now - line_report_at < 1.0)
        return;
    long long written, replaced;
    hall_line_counts(&written, &replaced);
    double seconds = now - line_report_at;
    long rate = lround((double)(written - line_written) / seconds);
    long lost = lround((double)(replaced - line_replaced) / seconds);
    if (line_report_at > 0 &&
        (labs(rate - line_shown) > 1 || (lost > 0) != (replaced_shown > 0))) {
        printf("Line: %ld frames/s, %ld frames/s replaced\n", rate, lost);
        line_shown = rate;
        replaced_shown = lost;
    }
    line_report_at = now;
    line_written = written;
    line_replaced = replaced;
}

/* Act on one key. 0 to go on, -1 when no new feed socket could be opened. */
int handle_key(unsigned char key)
{
    switch (key) {
    case 'u':
    case 'U':
        scale += CONTROL_LEVEL_STEP;
        if (scale > CONTROL_LEVEL_MAX)
            scale = CONTROL_LEVEL_MAX;
        break;
    case 'd':
    case 'D':
        scale -= CONTROL_LEVEL_STEP;
        if (scale < 0)
            scale = 0;
        break;
    case 'q':
        exit(0);
    default:
        if (key >= '0' && key <= '9') {
            if (key - '0' < num_feeds)
                selected_feed = key - '0';
            /* Even the same feed moves to a fresh port, so that frames
             * still sent to the old one are never mixed in. */
            if (subscribe(true) < 0)
                return -1;
        }
        break;
    }
    if (attended)
        display_menu();
    else if (key >= '0' && key <= '9')
        printf("Feed %i: %s (%s:%i)\n", selected_feed, feed_list[selected_feed].name,
               feed_list[selected_feed].host, feed_list[selected_feed].port);
    else if (key == 'u' || key == 'U' || key == 'd' || key == 'D')
        printf("Master level %i\n", scale);
    return 0;
}

/* The console as the control socket describes it. */
void describe_state(control_state *out)
{
    static control_feed feeds[WIRE_BUILTIN_FEEDS];
    for (int i = 0; i < num_feeds; i++)
        feeds[i] = {feed_list[i].name, feed_list[i].host, feed_list[i].port};
    bool live = feed_sub_live(&feed, loop_now());
    *out = {feeds, num_feeds, selected_feed, scale, live};
}

/* A key over the control socket is the console's own key. */
const drvctl_hooks drvctl_hooks_table = {handle_key, describe_state};
control_server control = {-1, nullptr, nullptr};

/* One key from standard input, if there is one. At end of input (or when
 * the terminal is gone) the keyboard is left alone from then on and the
 * lamps are driven unattended. 0, or -1 as for handle_key. */
int read_console()
{
    unsigned char key;
    ssize_t n = read(0, &key, 1);
    if (n == 1)
        return handle_key(key);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return 0;
    console_open = false;
    printf("Console input ended; driving the lamps unattended.\n");
    return 0;
}

} // namespace

/* Clear the screen (on a terminal) and print the feeds and the level; the
 * result of the last print. */
static int display_menu()
{
    fflush(stdout);
    if (isatty(1) && system("clear") != 0) {
        /* nothing cleared: the menu is printed all the same */
    }
    printf("FEEDS\n-----\n");
    for (int i = 0; feed_list[i].host[0]; i++)
        printf("%s%i. %s \t\t %s:%i\n", i == selected_feed ? "=>" : "  ", i,
               feed_list[i].name, feed_list[i].host, feed_list[i].port);
    printf("\n");
    printf("Scale _U_p / _D_own : %i\n", scale);
    return printf("\n");
}

/* Take keys as they are typed, without Enter; echo stays on. 0, or -1
 * after a message when the console settings cannot be read or set. */
static int set_raw_mode()
{
    struct termios t;
    if (tcgetattr(0, &t) < 0) {
        perror("tcgetattr");
        return -1;
    }
    struct termios original = t;
    t.c_lflag &= ~ICANON;
    if (tcsetattr(0, TCSANOW, &t) < 0) {
        perror("tcsetattr");
        return -1;
    }
    saved_console = original;
    if (!console_changed) {
        console_changed = true;
        atexit(restore_console);
    }
    setvbuf(stdin, NULL, _IONBF, 0);
    return 0;
}

/* Scale light_data in place by the master level (256 keeps it). 0. */
static int scale_frame()
{
    double factor = scale * (1.0 / CONTROL_LEVEL_MAX);
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        light_data[i] = (int)(light_data[i] * factor);
    return 0;
}

/* The about text of --help: the line speed and which feeds each host
 * option names differ between the builds. */
static const char *describe_build()
{
    static char about[512];
    snprintf(about, sizeof about,
             "Shows a chosen light feed on the dimmer boxes of the serial line (%d baud).\n"
             "Keys: 0-6 pick a feed, u/d master level up/down, q quit.\n"
             "Host A serves %s; host B serves %s.\n",
             BOX_BAUD,
             MAIN_MUSIC_HOST == WIRE_HOST_A ? "\"Main Music\" and \"Local comp\""
                                            : "\"Local comp\"",
             MAIN_MUSIC_HOST == WIRE_HOST_B ? "\"Main Music\", \"Test pattern\" and \"Pong! Pong!\""
                                            : "\"Test pattern\" and \"Pong! Pong!\"");
    return about;
}

/* The one-line state the service manager shows: feed, liveness, line. */
static const char *describe_health(char *buf, size_t size)
{
    snprintf(buf, size, "Feed %d: %s, %s; line %s, %ld frames/s", selected_feed,
             feed_list[selected_feed].name, feed_sub_live(&feed, loop_now()) ? "live" : "not live",
             hall_line_check() ? "up" : "lost", line_shown < 0 ? 0 : line_shown);
    return buf;
}

/* Everything before the first turn: the back-end, the first subscription,
 * the control socket and the console. 0, or the exit status on failure. */
static int start_console(const box_options *options)
{
    hall_set_device(options->device);
    const char *hosts[3] = {options->host[0], options->host[1], options->host[2]};
    fill_feed_list(hosts);
    next_port = options->first_port;
    selected_feed = options->feed;
    scale = options->level;
    attended = isatty(0) || isatty(1);
    loop_catch_signals(LOOP_HUP);

    /* Without the device the console runs all the same. The loop below
     * sends frames that wait for the line. */
    init_lights();
    hall_line_pace(1);
    hall_line_keep(1);

    feed_sub_init(&feed);
    if (subscribe(false) < 0)
        return -1;
    char err[160];
    if (options->control_port != CONTROL_PORT_NONE &&
        control_server_open(&control, options->control_port, drvctl_answer,
                            (void *)&drvctl_hooks_table, err, sizeof err) != 0) {
        fprintf(stderr, "control: %s\n", err);
        return 1;
    }
    set_raw_mode();
    display_menu();
    turn_ends = loop_now() + TURN_SECONDS;
    char status[256];
    loop_health_ready(describe_health(status, sizeof status));
    return 0;
}

/* Show on the console whether the feed is live, when that changes. Only
 * frames count: a key or a control datagram says nothing about the feed. */
static void show_liveness(double now)
{
    bool live = feed_sub_live(&feed, now);
    if (live == shown_live)
        return;
    if (!attended)
        printf(live ? "Feed is live!\n" : "Feed is not live!\n");
    else if (!live)
        printf("\nFeed is not live!      \n");
    else
        printf("\nFeed is live!    %i    \n", 1);
    fflush(stdout);
    shown_live = live;
}

/* One turn of the console: wait for a frame, a key or a control datagram
 * (or for the line to free), then act on what came. 0 to go on, -1 when
 * the driver cannot. */
static int console_turn()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(feed.sock, &readable);
    if (console_open)
        FD_SET(0, &readable);
    if (control.sock >= 0)
        FD_SET(control.sock, &readable);
    /* A turn waits up to half a second for input; a frame waiting for
     * the line wakes the loop sooner, for the line alone. */
    struct timeval timeout = loop_timeval_until(turn_ends, loop_now());
    int for_line = hall_line_timeout(&timeout);
    int ready = select((feed.sock > control.sock ? feed.sock : control.sock) + 1, &readable, NULL,
                       NULL, &timeout);
    if (ready < 0)
        return 0;
    double now = loop_now();
    if (ready == 0 && for_line && now < turn_ends) {
        hall_line_service();
        report_line(now);
        return 0;
    }
    turn_ends = now + TURN_SECONDS;
    bool asked = control.sock >= 0 && FD_ISSET(control.sock, &readable);

    if (FD_ISSET(feed.sock, &readable))
        read_feed();
    if (console_open && FD_ISSET(0, &readable) && read_console() < 0)
        return -1;
    if (asked && control_server_turn(&control) < 0)
        return -1;
    hall_line_check();
    hall_line_service();
    report_line(now);
    show_liveness(now);
    if (loop_health_due(now)) {
        char status[256];
        loop_health_alive(describe_health(status, sizeof status));
    }

    feed_sub_turn(&feed);
    return 0;
}

int main(int argc, char **argv)
{
    box_options options;
    char err[256];
    box_cli.about = describe_build();
    int settled = cli_settle(&box_cli, box_parse_options(argc, argv, &options, err, sizeof err),
                             err);
    if (settled != CLI_GO_ON)
        return settled;
    int failed = start_console(&options);
    if (failed)
        return failed;
    while (!loop_stop_signal())
        if (console_turn() < 0)
            return -1;
    /* Line editing back, then end of the signal as before. */
    restore_console();
    loop_die_of_signal();
    return 0;
}
