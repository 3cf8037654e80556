/* net_hall_server.cpp -- the box driver's console.
 *
 * The operator picks one of the built-in feeds and a master level; every
 * frame of the chosen feed is scaled by the level and handed to the serial
 * box back-end (hall.cpp). One loop around select on the feed socket, the
 * keyboard and, with --control, the control socket, whose keys act exactly
 * as typed ones (control.cpp). With neither a keyboard nor a screen (a
 * service logging to the journal) there is no menu to redraw: each event
 * is one line. State: the feed table, the subscription, the level and the
 * last frame, all in file-level variables below. */
#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "boxdriver/box_options.h"
#include "boxdriver/control.h"
#include "boxdriver/hall.h"
#include "cli/cli.h"
#include "wire/feed_sub.h"
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
const long SELECT_TIMEOUT_US = 500000;
const long long SECOND_NS = 1000000000LL;
const int MAX_WAITING_READS = 64;     /* datagrams taken per turn at most */

feed_record feed_list[WIRE_BUILTIN_FEEDS + 1]; /* the feeds and a terminator */
int num_feeds = WIRE_BUILTIN_FEEDS;
int selected_feed = 0;
int next_port = 7881;                 /* local port of the next feed socket */
int scale = 256;                      /* master level, 0..256 in steps of 16 */
feed_sub feed;                        /* the selected feed's subscription */
int light_data[LIGHT_CHANNELS];       /* the frame last read */

long long line_report_ns = 0;         /* when the line's figures were last taken */
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

/* Put line editing back, then die of the signal as usual. */
void restore_on_signal(int sig)
{
    restore_console();
    signal(sig, SIG_DFL);
    raise(sig);
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

long long monotonic_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * SECOND_NS + ts.tv_nsec;
}

/* Once a second: the frames the line carried and the frames replaced
 * while waiting for it, in a line under the menu whenever they change
 * (the line's rate by more than a frame a second, or replacing begins
 * or ends), so the operator sees when the feed outruns the line. */
void report_line(long long now)
{
    if (now - line_report_ns < SECOND_NS)
        return;
    long long written, replaced;
    hall_line_counts(&written, &replaced);
    double seconds = (double)(now - line_report_ns) / SECOND_NS;
    long rate = lround((double)(written - line_written) / seconds);
    long lost = lround((double)(replaced - line_replaced) / seconds);
    if (line_report_ns > 0 &&
        (labs(rate - line_shown) > 1 || (lost > 0) != (replaced_shown > 0))) {
        printf("Line: %ld frames/s, %ld frames/s replaced\n", rate, lost);
        line_shown = rate;
        replaced_shown = lost;
    }
    line_report_ns = now;
    line_written = written;
    line_replaced = replaced;
}

/* Act on one key. 0 to go on, -1 when no new feed socket could be opened. */
int handle_key(unsigned char key)
{
    switch (key) {
    case 'u':
    case 'U':
        scale += 16;
        if (scale > 256)
            scale = 256;
        break;
    case 'd':
    case 'D':
        scale -= 16;
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
    bool live = feed.frame_at > 0 && feed_now() - feed.frame_at < CONTROL_LIVE_SECONDS;
    *out = {feeds, num_feeds, selected_feed, scale, live};
}

/* A key over the control socket is the console's own key. */
const control_hooks control_hooks_table = {handle_key, describe_state};

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
        const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
        for (int sig : signals)
            signal(sig, restore_on_signal);
    }
    setvbuf(stdin, NULL, _IONBF, 0);
    return 0;
}

/* Scale light_data in place by the master level (256 keeps it). 0. */
static int scale_frame()
{
    double factor = scale * 0.00390625;
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        light_data[i] = (int)(light_data[i] * factor);
    return 0;
}

int main(int argc, char **argv)
{
    box_options options;
    char err[256];
    int parsed = box_parse_options(argc, argv, &options, err, sizeof err);
    char usage[2048 + PATH_MAX]; /* the text with the program's path filled in */
    usage[0] = '\0';
    if (parsed == 0 && options.help)
        snprintf(usage, sizeof usage, box_usage, argv[0], BOX_BAUD,
                 MAIN_MUSIC_HOST == WIRE_HOST_A ? "\"Main Music\" and \"Local comp\""
                                                : "\"Local comp\"",
                 MAIN_MUSIC_HOST == WIRE_HOST_B
                     ? "\"Main Music\", \"Test pattern\" and \"Pong! Pong!\""
                     : "\"Test pattern\" and \"Pong! Pong!\"");
    int settled = cli_settle(parsed, err, options.help, usage);
    if (settled != CLI_GO_ON)
        return settled;
    hall_set_device(options.device);
    fill_feed_list(options.host);
    next_port = options.first_port;
    selected_feed = options.feed;
    scale = options.level;
    attended = isatty(0) || isatty(1);

    /* Without the device the console runs all the same. The loop below
     * sends frames that wait for the line. */
    init_lights();
    hall_line_pace(1);

    feed_sub_init(&feed);
    if (subscribe(false) < 0)
        return -1;
    if (options.control_port != CONTROL_PORT_NONE && control_open(options.control_port) < 0)
        return 1;
    set_raw_mode();
    display_menu();

    int previous_ready = 0;
    long long turn_ends = monotonic_ns() + SELECT_TIMEOUT_US * 1000LL;
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(feed.sock, &readable);
        if (console_open)
            FD_SET(0, &readable);
        int control = control_fd();
        if (control >= 0)
            FD_SET(control, &readable);
        /* A turn waits up to half a second for input; a frame waiting for
         * the line wakes the loop sooner, for the line alone. */
        long long left = turn_ends - monotonic_ns();
        left = left < 0 ? 0 : (left + 999) / 1000;
        struct timeval timeout = {(time_t)(left / 1000000), (suseconds_t)(left % 1000000)};
        int for_line = hall_line_timeout(&timeout);
        int ready = select((feed.sock > control ? feed.sock : control) + 1, &readable, NULL, NULL,
                           &timeout);
        if (ready < 0)
            continue;
        long long now = monotonic_ns();
        if (ready == 0 && for_line && now < turn_ends) {
            hall_line_service();
            report_line(now);
            continue;
        }
        turn_ends = now + SELECT_TIMEOUT_US * 1000LL;

        /* The control socket is no feed: the status line leaves it out. */
        bool asked = control >= 0 && FD_ISSET(control, &readable);
        if (asked)
            ready--;
        /* Unattended only the feed counts, not the end of input. */
        if (!attended)
            ready = FD_ISSET(feed.sock, &readable) ? 1 : 0;
        if (ready != previous_ready) {
            if (!attended)
                printf(ready ? "Feed is live!\n" : "Feed is not live!\n");
            else if (ready == 0)
                printf("\nFeed is not live!      \n");
            else
                printf("\nFeed is live!    %i    \n", ready);
            fflush(stdout);
            previous_ready = ready;
        }

        if (FD_ISSET(feed.sock, &readable))
            read_feed();
        if (console_open && FD_ISSET(0, &readable) && read_console() < 0)
            return -1;
        if (asked && control_turn(&control_hooks_table) < 0)
            return -1;
        hall_line_service();
        report_line(now);

        feed_sub_turn(&feed);
    }
}
