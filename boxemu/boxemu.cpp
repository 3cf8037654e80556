/* boxemu.cpp -- the ten dimmer boxes in software, at the far end of the
 * serial line: takes the line's bytes at the line's pace (emu_line.cpp),
 * decodes the commands into 60 lamp levels (boxline/decode.h) and
 * publishes them through the network light server, so that hallview and
 * hallsim show what the lamps would show. One loop around ppoll; state in
 * the file-level variables below. Meant to run unattended too: it prints
 * one line per event (line active or quiet, a driver's line settings,
 * faults, a lost device), never redraws. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "boxemu/emu_line.h"
#include "boxemu/emu_options.h"
#include "boxline/decode.h"
#include "loop/loop.h"
#include "netserver/hall.h"

namespace {

const long long SECOND_NS = 1000000000LL;
const long long REFRESH_NS = 100000000LL; /* the feed repeats the lamps this
                                             often when nothing changes */
const long long LOOK_NS = 250000000LL;    /* how often the pty's settings
                                             are looked at */
const long long QUIET_NS = SECOND_NS;     /* no byte for this long: quiet */
const long long REOPEN_NS = SECOND_NS;    /* a lost device is tried again */

emu_options opts;
emu_line line;
boxline_decoder decoder;
int lamps[LIGHT_CHANNELS];         /* levels in the boxes' own order */
bool lamps_changed = false;        /* commands taken since the last publish */
long long published_ns = 0;        /* when the lamps last went out */

bool line_active = false;          /* bytes came within QUIET_NS */
long long last_byte_ns = 0;
long long active_frames = 0;       /* decoder's frame count when it became active */

long long tick_ns = 0;             /* the next once-a-second report */
long long tick_from_ns = 0;        /* the start of the second it covers */
boxline_counts tick_counts;        /* the counts at that start */
long long look_ns = 0;             /* the next look at the pty's settings */
long long reopen_ns = 0;           /* when to try a lost device again, 0: not lost */

bool linked = false;               /* --link was made and is ours to remove */

void publish(long long now)
{
    renderFrame(lamps);
    published_ns = now;
    lamps_changed = false;
}

/* A UDP port that cannot be bound is refused before anything is made,
 * with one line instead of the light server's two. 0, or -1 after the
 * message. */
int check_port(int port)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        fprintf(stderr, "boxemu: socket: %s\n", strerror(errno));
        return -1;
    }
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons((unsigned short)port);
    int r = bind(s, (struct sockaddr *)&a, sizeof a);
    int bind_errno = errno;
    close(s);
    if (r != 0) {
        fprintf(stderr, "boxemu: UDP port %d: %s\n", port, strerror(bind_errno));
        return -1;
    }
    return 0;
}

/* The symbolic link to the pty; a stale link of an earlier run is
 * replaced, anything else at the path is left alone. 0, or -1 after the
 * message. */
int make_link(const char *path, const char *target)
{
    struct stat st;
    if (lstat(path, &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            fprintf(stderr, "boxemu: --link %s: exists and is not a symbolic link\n", path);
            return -1;
        }
        unlink(path);
    }
    if (symlink(target, path) != 0) {
        fprintf(stderr, "boxemu: --link %s: %s\n", path, strerror(errno));
        return -1;
    }
    linked = true;
    return 0;
}

/* Remove the link if it still points at this run's pty. */
void remove_link()
{
    if (!linked)
        return;
    char target[PATH_MAX];
    ssize_t n = readlink(opts.link, target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (strcmp(target, line.path) == 0)
            unlink(opts.link);
    }
    linked = false;
}

/* One line naming the faults of the last second, kind by kind. */
void report_faults(const boxline_counts &was, const boxline_counts &is)
{
    long long stray = is.stray - was.stray, bad = is.bad_address - was.bad_address,
              cut = is.cut_short - was.cut_short, errs = is.line_errors - was.line_errors;
    long long all = stray + bad + cut + errs;
    if (all == 0)
        return;
    char text[256];
    int used = snprintf(text, sizeof text, "boxemu: %lld fault%s on the line (", all,
                        all == 1 ? "" : "s");
    const char *sep = "";
    struct { long long n; const char *what; } kinds[] = {
        {stray, "stray delay bytes"},
        {bad, "unknown box or pair"},
        {cut, "cut short"},
        {errs, "received in error"},
    };
    for (auto &k : kinds) {
        if (k.n == 0 || used >= (int)sizeof text)
            continue;
        used += snprintf(text + used, sizeof text - used, "%s%s: %lld", sep, k.what, k.n);
        sep = ", ";
    }
    if (used < (int)sizeof text)
        snprintf(text + used, sizeof text - used, ")");
    printf("%s\n", text);
}

/* Once a second: the statistics line (--stats), faults, a line gone quiet. */
void tick(long long now)
{
    const boxline_counts &c = decoder.counts;
    double seconds = (double)(now - tick_from_ns) / SECOND_NS;
    if (opts.stats && seconds > 0)
        printf("boxemu: %.1f frames/s, %.0f bytes/s, %.0f faults/s (in all %lld frames, "
               "%lld bytes, %lld faults)\n",
               (double)(c.frames - tick_counts.frames) / seconds,
               (double)(c.bytes - tick_counts.bytes) / seconds,
               (double)(boxline_faults(&c) - boxline_faults(&tick_counts)) / seconds,
               c.frames, c.bytes, boxline_faults(&c));
    report_faults(tick_counts, c);
    if (line_active && now - last_byte_ns >= QUIET_NS) {
        line_active = false;
        printf("boxemu: line quiet after %lld frames\n", c.frames - active_frames);
    }
    tick_counts = c;
    tick_from_ns = now;
    tick_ns = now + SECOND_NS;
}

/* The pty's settings: say what a driver set, and when the speed is not
 * the boxes' own. */
void look(long long now)
{
    long baud = 0;
    if (emu_line_look(&line, &baud)) {
        if (baud == opts.baud)
            printf("boxemu: the driver set the line to %ld baud\n", baud);
        else if (baud > 0)
            printf("boxemu: the driver set the line to %ld baud, but these boxes take %ld: "
                   "real boxes would read garbage\n", baud, opts.baud);
        else
            printf("boxemu: the driver set the line to an unusual speed; these boxes take "
                   "%ld baud\n", opts.baud);
    }
    look_ns = now + LOOK_NS;
}

/* A device read failed or hung up: close it and try again later. A pty
 * never fails while boxemu holds both ends; if it does, boxemu stops.
 * 0 to go on, -1 to stop. */
int lose_device(long long now, const char *why)
{
    if (!opts.device) {
        fprintf(stderr, "boxemu: %s: %s\n", line.path, why);
        return -1;
    }
    printf("boxemu: %s: %s; trying again every second\n", line.path, why);
    emu_line_close(&line);
    reopen_ns = now + REOPEN_NS;
    return 0;
}

void reopen_device(long long now)
{
    char err[PATH_MAX + 128];
    if (emu_line_open_device(&line, opts.device, opts.baud, err, sizeof err) == 0) {
        printf("boxemu: %s open again\n", opts.device);
        reopen_ns = 0;
    } else {
        reopen_ns = now + REOPEN_NS;
    }
}

/* Take what the line has carried by now and show it. 0, or -1 to stop. */
int take_bytes(long long now)
{
    unsigned char buf[512];
    for (;;) {
        long n = emu_line_take(&line, now, buf, sizeof buf);
        if (n < 0)
            return lose_device(now, strerror(errno));
        if (n == 0)
            return 0;
        if (!line_active) {
            line_active = true;
            active_frames = decoder.counts.frames;
            printf("boxemu: line active\n");
        }
        last_byte_ns = now;
        /* Byte by byte, so that every frame is shown even when a late
         * wake-up takes several at once. */
        for (long i = 0; i < n; i++) {
            lamps_changed = true;
            if (boxline_decode(&decoder, buf + i, 1, lamps) > 0)
                publish(now);
        }
    }
}

long long earliest(long long a, long long b)
{
    return b > 0 && b < a ? b : a;
}

/* The loop: wait for input or the next thing due, take bytes at the
 * line's pace, publish, report. Ends on a signal or at the end of a file
 * of captured bytes. 0, or 1 after a failure. */
int run()
{
    long long now = loop_now_ns();
    tick_from_ns = now;
    tick_ns = now + SECOND_NS;
    look_ns = now + LOOK_NS;
    publish(now);
    while (!loop_stop_signal()) {
        long long wake = earliest(tick_ns, published_ns + REFRESH_NS);
        if (line.keep >= 0)
            wake = earliest(wake, look_ns);
        wake = earliest(wake, emu_line_wake(&line));
        wake = earliest(wake, reopen_ns);
        long long wait = wake - loop_now_ns();
        if (wait < 0)
            wait = 0;
        struct timespec timeout = {(time_t)(wait / SECOND_NS), (long)(wait % SECOND_NS)};
        /* the floor's descriptor: a stop signal ends the wait at once */
        struct pollfd p[2] = {{line.fd, (short)(line.idle ? POLLIN : 0), 0},
                              {loop_signal_fd(), POLLIN, 0}};
        if (ppoll(p, 2, &timeout, nullptr) < 0 && errno != EINTR) {
            fprintf(stderr, "boxemu: ppoll: %s\n", strerror(errno));
            return 1;
        }
        now = loop_now_ns();

        if (line.fd >= 0 && (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) &&
            !(p[0].revents & POLLIN) && lose_device(now, "the device hung up") != 0)
            return 1;
        if (line.fd >= 0 && (p[0].revents & POLLIN))
            emu_line_start(&line, now);
        if (take_bytes(now) != 0)
            return 1;
        if (emu_line_ended(&line)) {
            publish(now);
            printf("boxemu: end of %s\n", line.path);
            return 0;
        }
        /* A command or two with no frame end (a driver's single command):
         * shown once the line has nothing more for now. */
        if (lamps_changed && line.idle)
            publish(now);
        if (now >= published_ns + REFRESH_NS)
            publish(now);
        if (reopen_ns > 0 && now >= reopen_ns)
            reopen_device(now);
        if (line.keep >= 0 && now >= look_ns)
            look(now);
        if (now >= tick_ns)
            tick(now);
    }
    return 0;
}

/* Everything before the loop: the port, the line (and its link), the
 * light server, the stop signals. 0, or the exit status when boxemu
 * cannot start. */
int start_boxes()
{
    char err[PATH_MAX + 256];
    if (check_port(opts.port) != 0)
        return 1;
    int opened = opts.device
                     ? emu_line_open_device(&line, opts.device, opts.baud, err, sizeof err)
                     : emu_line_open_pty(&line, opts.baud, err, sizeof err);
    if (opened != 0) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    if (opts.link && make_link(opts.link, line.path) != 0)
        return 1;

    /* First line: the device for the driver (scripts read it). */
    printf("%s\n", line.path);
    server_port = (uint16_t)opts.port;
    if (init_lights() != 0) {
        fprintf(stderr, "boxemu: cannot publish the lamps on UDP port %d\n", opts.port);
        remove_link();
        return 1;
    }
    char link_note[PATH_MAX + 16] = "";
    if (opts.link)
        snprintf(link_note, sizeof link_note, " (link %s)", opts.link);
    printf("boxemu: %d boxes at %ld baud on %s%s, lamps on UDP port %d\n", BOXLINE_BOXES,
           opts.baud, line.path, link_note, opts.port);

    loop_catch_signals(LOOP_HUP);
    boxline_decoder_init(&decoder, line.marked);
    return 0;
}

void stop_boxes()
{
    if (loop_stop_signal())
        printf("boxemu: stopped (%lld frames, %lld faults in all)\n", decoder.counts.frames,
               boxline_faults(&decoder.counts));
    remove_link();
    emu_line_close(&line);
}

} // namespace

int main(int argc, char **argv)
{
    char err[256];
    int settled =
        cli_settle(&emu_cli, emu_parse_options(argc, argv, &opts, err, sizeof err), err);
    if (settled != CLI_GO_ON)
        return settled;
    int failed = start_boxes();
    if (failed)
        return failed;
    int status = run();
    stop_boxes();
    return status;
}
