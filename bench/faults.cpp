/* faults.cpp -- faults injected into running chains, and how long until
 * the lamps show the right frame again; whether anything was lost or
 * held up meanwhile, and the programs' memory before and after.
 *
 *   line        boxemu ended and started again on the same --link, under
 *               a box driver fed numbered frames: the lamps (boxemu's
 *               feed) against the newest frame at the line's return
 *   olad-stop   olad stopped (SIGSTOP) for 15 s under dmxout fed 512 slots
 *               a thousand times a second, then continued: the universe
 *               against the newest frame at SIGCONT, dmxout's loop (the
 *               gaps between its watchdog messages, 1 ms apart)
 *   olad-kill   olad killed and started again on its port
 *   producer    testfeed killed and started again, three times, under
 *               the box driver: until the driver says the feed is live,
 *               and until the lamps show the new level
 *   subscriber  fifteen of a producer's subscribers stop reading: the
 *               frame rate to the one that reads
 *   page        a hallweb page stops reading: the frames a second of a
 *               page that reads, until hallweb lets the stalled one go
 *   watchdog    each service frozen with SIGSTOP under a systemd user
 *               manager (run in a private mount namespace, as root):
 *               until systemd has restarted it
 *
 *   faults [--only NAME]
 *
 * Needs port 7878 free (the box driver's "Main Music"): run it in a
 * network namespace of its own (unshare -n) when other programs may hold
 * it. Prints each fault's lines as it goes, then the table. */
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "boxemu/emu_support.h"
#include "hallweb/ws_client.h"
#include "support/notify.h"
#include "support/ola_client.h"
#include "support/olad.h"

using namespace emu_test;
using testing_ola::now;
namespace tp = testing_process;

namespace {

const std::string BIN = HALL_BINARY_DIR "/bin/";
const double LINE_FPS = 30;   /* the producer's pace into the box driver */
const double DMX_FPS = 1000;  /* ... and into dmxout, with 512 slots */
const size_t DMX_AT = 452;    /* the frame's first slot (--start 453) */

/* One line of the closing table. */
struct Row {
    std::string fault, recovery, target, lost, held_up, memory;
};
std::vector<Row> table;

void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    printf("faults: ");
    vprintf(fmt, ap);
    printf("\n");
    va_end(ap);
}

std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *f, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, f);
    vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

/* A process's resident memory in kB, -1 when it is gone. */
long rss_kb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (in >> key) {
        long kb;
        if (key == "VmRSS:" && in >> kb)
            return kb;
    }
    return -1;
}

/* CPU seconds a process has used, from the scheduler's own count. */
double cpu_seconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns / 1e9;
}

std::string memory(long before, long after)
{
    return fmt("%ld -> %ld kB", before, after);
}

/* Our sockets stay ours: the programs started later must not hold them. */
int cloexec(int fd)
{
    if (fd >= 0)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

bool said(const tp::Child &c, const std::string &text, bool err = false)
{
    return (err ? tp::err(c) : tp::out(c)).find(text) != std::string::npos;
}

size_t times_said(const tp::Child &c, const std::string &text)
{
    return testing_olad::count(tp::out(c), text);
}

/* A service manager's end for one program: when each "alive" arrived
 * (the kernel's receive time, so that the bench's own delays do not
 * count) and the last state line. */
struct Heard {
    testing_notify::Manager m;
    std::vector<double> alive;
    std::string status;

    bool open(long watchdog_usec)
    {
        if (!m.open(watchdog_usec))
            return false;
        int on = 1, size = 8 << 20;
        setsockopt(m.sock, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(m.sock, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        return true;
    }
    void take()
    {
        timespec real, mono;
        clock_gettime(CLOCK_REALTIME, &real);
        clock_gettime(CLOCK_MONOTONIC, &mono);
        double offset = (real.tv_sec - mono.tv_sec) + (real.tv_nsec - mono.tv_nsec) / 1e9;
        for (;;) {
            char buf[1024], control[256];
            iovec iov = {buf, sizeof buf - 1};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            ssize_t n = recvmsg(m.sock, &msg, MSG_DONTWAIT);
            if (n <= 0)
                return;
            buf[n] = '\0';
            double at = now();
            for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec ts;
                    memcpy(&ts, CMSG_DATA(c), sizeof ts);
                    at = ts.tv_sec + ts.tv_nsec / 1e9 - offset;
                }
            if (strstr(buf, "WATCHDOG=1"))
                alive.push_back(at);
            if (const char *s = strstr(buf, "STATUS="))
                status = std::string(s + 7, strcspn(s + 7, "\n"));
        }
    }
    /* The longest and the 99th percentile wait between alive messages
     * from `from` to `to`: how long the loop stood still. */
    std::pair<double, double> gaps(double from, double to) const
    {
        std::vector<double> g;
        double last = from;
        for (double a : alive)
            if (a > from && a <= to) {
                g.push_back(a - last);
                last = a;
            }
        g.push_back(to - last);
        std::sort(g.begin(), g.end());
        return {g.back(), g[(size_t)(0.99 * (double)(g.size() - 1))]};
    }
};

/* The bench as a producer for one consumer: it learns the consumer's
 * port from its subscription and sends it numbered frames on a steady
 * schedule. */
struct Producer {
    int sock = -1;
    unsigned short consumer = 0;
    double fps = 30, next = 0;
    long sent = -1;

    bool wait_consumer(unsigned short port, int timeout_ms)
    {
        for (int waited = 0; waited < timeout_ms; waited += 100) {
            bool got = false;
            unsigned short from = 0;
            testing_udp::receive(sock, 100, &got, &from);
            if (got && (port == 0 || from == port)) {
                consumer = from;
                next = now();
                return true;
            }
        }
        return false;
    }
    /* Send what is due (a short burst at most to catch up); true when it
     * sent. */
    template <class Make> bool due(Make make)
    {
        double t = now();
        if (t < next)
            return false;
        std::vector<unsigned char> f = make(++sent);
        testing_udp::send_to(sock, consumer, f.data(), f.size());
        next += 1 / fps;
        if (next < t - 0.005) /* fell far behind (the machine is busy): start afresh */
            next = t + 1 / fps;
        return true;
    }
};

std::vector<unsigned char> line_frame(long n)
{
    unsigned char f[60];
    number_frame(n, f, 255);
    return std::vector<unsigned char>(f, f + 60);
}

std::vector<unsigned char> dmx_frame(long n)
{
    std::vector<unsigned char> f(60, 100);
    f[0] = (unsigned char)(n >> 8 & 0xff);
    f[1] = (unsigned char)(n & 0xff);
    return f;
}

/* ---- the serial chain: producer -> boxdriver -> boxemu ------------ */

struct LineChain {
    std::string dir, link;
    Producer feed;
    tp::Child driver, emu;
    unsigned short emu_port = 0, driver_port = 0;
    Subscriber lamps;
    Heard heard;
    long shown = -1;         /* the newest frame number the lamps showed */
    double shown_at = 0;
    unsigned char lit[60] = {0}; /* what the lamps showed last */
    double renewed = 0;

    void start_emu()
    {
        emu_port = testing_udp::free_port();
        emu = tp::start({BIN + "boxemu", "--port", std::to_string(emu_port), "--link", link});
    }
    /* Serve everything for up to `seconds`, or until done() holds. */
    template <class Done> bool pump(double seconds, Done done)
    {
        double end = now() + seconds;
        while (now() < end) {
            if (done())
                return true;
            if (feed.sock >= 0 && feed.consumer)
                feed.due(line_frame);
            if (now() - renewed > 0.5) {
                lamps.renew();
                renewed = now();
            }
            if (lamps.next(lit, 2)) {
                int n = frame_number(lit);
                if (n >= 0 && feed.sent >= 0) {
                    shown = unwrap_number(n, feed.sent);
                    shown_at = now();
                }
            }
            heard.take();
        }
        return done();
    }
    bool pump(double seconds)
    {
        return pump(seconds, [] { return false; });
    }
};

void line_fault(LineChain &c)
{
    long before = rss_kb(c.driver.pid);
    long sent_before = c.feed.sent;
    double pulled = now();
    tp::stop(c.emu);
    c.pump(5, [&] { return said(c.driver, "Line lost: "); });
    c.pump(2);
    c.start_emu();
    struct stat st;
    while (lstat(c.link.c_str(), &st) != 0 && now() - pulled < 20)
        c.pump(0.001);
    double back = now();
    long newest = c.feed.sent;
    c.lamps.close_it();
    c.lamps.open(c.emu_port);
    c.shown = -1;
    long first = -1;
    bool right = c.pump(5, [&] {
        if (c.shown >= 0 && first < 0)
            first = c.shown;
        return c.shown >= newest;
    });
    double recovered = c.shown_at - back;
    c.pump(1);
    auto gap = c.heard.gaps(pulled, now());
    say("line: pulled, back after %.1f s; lamps right again %.2f s after the return; first "
        "frame shown #%ld, newest then #%ld; driver's loop: longest gap between alive "
        "messages %.0f ms",
        back - pulled, recovered, first, newest, gap.first * 1000);
    table.push_back({"line pulled and back", right ? fmt("%.2f s", recovered) : "never",
                     "1.5 s", fmt("%ld frames while gone; first shown %s", newest - sent_before,
                                  first >= newest ? "the newest" : "stale"),
                     fmt("loop gap %.0f ms", gap.first * 1000),
                     memory(before, rss_kb(c.driver.pid))});
}

void producer_fault(LineChain &c)
{
    size_t quiet = times_said(c.driver, "Feed is not live!");
    close(c.feed.sock);
    c.feed.sock = -1;
    c.pump(5, [&] { return times_said(c.driver, "Feed is not live!") > quiet; });
    std::vector<double> live, lit;
    long before = rss_kb(c.driver.pid);
    tp::Child feed;
    for (int round = 0; round <= 3; round++) {
        int level = round % 2 ? 100 : 200;
        size_t lives = times_said(c.driver, "Feed is live!");
        feed = tp::start({BIN + "testfeed", "--port", "7878", "--rate", "30", "--level",
                          std::to_string(level), "all"});
        double up = 0;
        c.pump(5, [&] {
            if (!up && said(feed, "Network Lights Client Initialized."))
                up = now();
            return up > 0;
        });
        double live_at = 0, lit_at = 0;
        c.pump(6, [&] {
            if (!live_at && times_said(c.driver, "Feed is live!") > lives)
                live_at = now();
            if (!lit_at && abs((int)c.lit[0] - level) <= 4)
                lit_at = now();
            return live_at && lit_at;
        });
        if (round > 0) { /* round 0 only starts the feed */
            live.push_back(live_at ? live_at - up : 99);
            lit.push_back(lit_at ? lit_at - up : 99);
        }
        quiet = times_said(c.driver, "Feed is not live!");
        kill(feed.pid, SIGKILL);
        waitpid(feed.pid, nullptr, 0);
        feed.pid = -1;
        c.pump(5, [&] { return times_said(c.driver, "Feed is not live!") > quiet; });
        c.pump(0.3 + 0.55 * round); /* at another moment of the driver's rhythm each time */
    }
    std::sort(live.begin(), live.end());
    std::sort(lit.begin(), lit.end());
    say("producer: killed and started again 3 times: the driver's feed live again after "
        "%.2f / %.2f / %.2f s, the lamps at the new level after %.2f / %.2f / %.2f s",
        live[0], live[1], live[2], lit[0], lit[1], lit[2]);
    table.push_back({"producer killed, restarted", fmt("%.2f s (worst of 3)", live[2]), "2 s",
                     fmt("lamps new level %.2f s", lit[2]), "",
                     memory(before, rss_kb(c.driver.pid))});
}

void line_faults(bool line, bool producer)
{
    LineChain c;
    char dir[] = "/tmp/hallfaultsXXXXXX";
    c.dir = mkdtemp(dir);
    c.link = c.dir + "/line";
    c.feed.sock = cloexec(testing_udp::open_socket(7878));
    c.feed.fps = LINE_FPS;
    if (c.feed.sock < 0) {
        say("line, producer: port 7878 is taken; run the bench in a namespace of its own");
        return;
    }
    c.start_emu();
    tp::wait_for_output(c.emu, "lamps on UDP port", 10000);
    c.lamps.open(c.emu_port);
    cloexec(c.lamps.sock);
    c.heard.open(100000); /* alive every 50 ms */
    c.driver_port = testing_udp::free_port();
    c.driver = tp::start({BIN + "boxdriver", "--device", c.link, "--feed", "0", "--local-port",
                          std::to_string(c.driver_port)});
    c.heard.m.close_it_env();
    if (!c.feed.wait_consumer(c.driver_port, 5000) || !c.pump(5, [&] { return c.shown >= 0; })) {
        say("line: the chain did not start: %s", tp::out(c.driver).c_str());
    } else {
        c.pump(2);
        if (line)
            line_fault(c);
        if (producer)
            producer_fault(c);
    }
    tp::stop(c.driver);
    tp::stop(c.emu);
    c.lamps.close_it();
    if (c.feed.sock >= 0)
        close(c.feed.sock);
    c.heard.m.close_it();
    rmdir(c.dir.c_str());
}

/* ---- the DMX chain: producer -> dmxout -> olad -> a client -------- */

struct DmxChain {
    testing_olad::Olad olad;
    testing_ola::Client client;
    Producer feed;
    tp::Child dmxout;
    Heard heard;
    long shown = -1;
    double shown_at = 0;

    template <class Done> bool pump(double seconds, Done done)
    {
        double end = now() + seconds;
        while (now() < end) {
            if (done())
                return true;
            feed.due(dmx_frame);
            if (client.sock && !client.closed) {
                pollfd p{client.sock->ReadDescriptor(), POLLIN, 0};
                for (int i = 0; i < 64 && poll(&p, 1, 0) > 0; i++) {
                    if (client.sock->IsClosed()) {
                        client.closed = true;
                        break;
                    }
                    client.sock->PerformRead();
                }
                for (auto &f : client.frames)
                    if (f.data.size() > DMX_AT + 1) {
                        shown = (f.data[DMX_AT] << 8 | f.data[DMX_AT + 1]);
                        shown_at = f.t;
                    }
                client.frames.clear();
            }
            heard.take();
            if (feed.next - now() > 0.0002)
                usleep(100);
        }
        return done();
    }
    bool pump(double seconds)
    {
        return pump(seconds, [] { return false; });
    }
};

std::string dropped_said(const tp::Child &c)
{
    std::string out = tp::out(c);
    size_t at = out.rfind("olad takes frames again; ");
    return at == std::string::npos ? "none said" : fmt("%ld dropped", atol(out.c_str() + at + 25));
}

void olad_stop_fault(DmxChain &c)
{
    double floor_from = now();
    c.pump(3);
    auto floor = c.heard.gaps(floor_from, now()); /* the same loop with olad reading */
    long before = rss_kb(c.dmxout.pid);
    long sent_before = c.feed.sent;
    kill(c.olad.pid, SIGSTOP);
    double stopped = now();
    c.pump(15);
    long newest = c.feed.sent;
    double continued = now();
    kill(c.olad.pid, SIGCONT);
    bool right = c.pump(10, [&] { return c.shown >= newest; });
    double recovered = c.shown_at - continued;
    c.pump(1);
    auto gap = c.heard.gaps(stopped, now());
    long after = rss_kb(c.dmxout.pid);
    say("olad-stop: 15 s stopped, %ld frames sent meanwhile; the newest at SIGCONT on the "
        "universe %.3f s later; dmxout: %s; its loop: longest gap between alive messages "
        "%.1f ms, 99th percentile %.1f ms (frame time 1 ms; with olad reading: %.1f and %.1f "
        "ms); memory %ld -> %ld kB",
        newest - sent_before, recovered, dropped_said(c.dmxout).c_str(), gap.first * 1000,
        gap.second * 1000, floor.first * 1000, floor.second * 1000, before, after);
    table.push_back({"olad stopped 15 s, continued", right ? fmt("%.3f s", recovered) : "never",
                     "1 s", dropped_said(c.dmxout),
                     fmt("gap %.0f/p99 %.1f ms (%.0f/%.1f)", gap.first * 1000, gap.second * 1000,
                         floor.first * 1000, floor.second * 1000),
                     memory(before, after)});
}

void olad_kill_fault(DmxChain &c)
{
    long before = rss_kb(c.dmxout.pid);
    unsigned short port = c.olad.port;
    double killed = now();
    kill(c.olad.pid, SIGKILL);
    waitpid(c.olad.pid, nullptr, 0);
    c.olad.pid = -1;
    double cpu = cpu_seconds(c.dmxout.pid);
    c.pump(2);
    double share = (cpu_seconds(c.dmxout.pid) - cpu) / (now() - killed);
    testing_ola::close(c.client);
    bool up = testing_olad::start(c.olad, port);
    double restarted = now();
    long newest = c.feed.sent;
    if (!up || !testing_ola::connect(c.client, port) || !testing_ola::listen(c.client, 1)) {
        say("olad-kill: olad did not start again: %s", c.olad.error.c_str());
        return;
    }
    bool right = c.pump(10, [&] { return c.shown >= newest; });
    double recovered = c.shown_at - restarted;
    c.pump(1);
    say("olad-kill: killed, started again after %.1f s; the newest frame on the universe "
        "%.3f s after olad was back (dmxout tries it every second); dmxout used %.0f%% of a "
        "core while olad was gone",
        restarted - killed, recovered, share * 100);
    table.push_back({"olad killed, restarted", right ? fmt("%.3f s", recovered) : "never", "2 s",
                     "the frames while olad was gone", fmt("%.0f%% of a core meanwhile", share * 100),
                     memory(before, rss_kb(c.dmxout.pid))});
}

void dmx_faults(bool stop, bool kill_it)
{
    DmxChain c;
    if (!testing_olad::start(c.olad)) {
        say("olad: %s", c.olad.error.c_str());
        return;
    }
    testing_ola::connect(c.client, c.olad.port);
    cloexec(c.client.sock ? c.client.sock->ReadDescriptor() : -1);
    testing_ola::listen(c.client, 1);
    c.feed.sock = cloexec(testing_udp::open_socket(0));
    c.feed.fps = DMX_FPS;
    c.heard.open(2000); /* alive every millisecond */
    c.dmxout = tp::start({BIN + "dmxout", "--feed",
                          "127.0.0.1:" + std::to_string(testing_udp::local_port(c.feed.sock)),
                          "--ola-port", std::to_string(c.olad.port), "--rate", "1000", "--start",
                          "453"});
    c.heard.m.close_it_env();
    if (!c.feed.wait_consumer(0, 5000) || !c.pump(5, [&] { return c.shown >= 0; })) {
        say("olad: the chain did not start: %s", tp::err(c.dmxout).c_str());
    } else {
        c.pump(2);
        if (stop)
            olad_stop_fault(c);
        if (kill_it)
            olad_kill_fault(c);
    }
    tp::stop(c.dmxout);
    testing_ola::close(c.client);
    testing_olad::remove(c.olad);
    close(c.feed.sock);
    c.heard.m.close_it();
}

/* ---- subscribers and pages that stop reading ---------------------- */

/* Datagrams that came on s within `seconds`, renewing the subscription
 * to `port` every half second. */
long count_frames(int s, unsigned short port, double seconds,
                  const std::vector<int> &readers = {})
{
    long n = 0;
    double end = now() + seconds, renewed = 0;
    while (now() < end) {
        if (now() - renewed > 0.5) {
            testing_udp::send_to(s, port, "A", 1);
            renewed = now();
        }
        bool got = false;
        testing_udp::receive(s, 5, &got);
        n += got;
        for (int r : readers)
            testing_udp::drain(r);
    }
    return n;
}

void subscriber_fault()
{
    unsigned short port = testing_udp::free_port();
    auto feed = tp::start({BIN + "testfeed", "--port", std::to_string(port), "--rate", "200",
                           "boxes"});
    usleep(300000);
    int reader = testing_udp::open_socket(0);
    std::vector<int> stalled;
    for (int i = 0; i < 15; i++) {
        int s = testing_udp::open_socket(0);
        int small = 0;
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        testing_udp::send_to(s, port, "A", 1);
        stalled.push_back(s);
    }
    count_frames(reader, port, 1, stalled);
    long before = rss_kb(feed.pid);
    double reading = count_frames(reader, port, 3, stalled) / 3.0;
    /* from now on the fifteen only renew */
    long stopped_n = 0;
    double end = now() + 5, renewed = 0;
    while (now() < end) {
        if (now() - renewed > 0.5) {
            for (int s : stalled)
                testing_udp::send_to(s, port, "A", 1);
            renewed = now();
        }
        stopped_n += count_frames(reader, port, 0.25);
    }
    double stopped = stopped_n / 5.0;
    long after = rss_kb(feed.pid);
    say("subscriber: 200 frames/s to 16 subscribers; the one that reads gets %.1f frames/s "
        "while the others read, %.1f while fifteen do not",
        reading, stopped);
    table.push_back({"15 subscribers stop reading", fmt("%.0f -> %.0f frames/s", reading, stopped),
                     "unchanged", "frames to the stalled ones only", "", memory(before, after)});
    for (int s : stalled)
        close(s);
    close(reader);
    tp::stop(feed);
}

/* A page that opens its WebSocket and then never reads, with a small
 * receive buffer so that its connection fills soon. */
int stalled_page(int port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int small = 1024;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((unsigned short)port);
    if (connect(s, (sockaddr *)&a, sizeof a) != 0) {
        close(s);
        return -1;
    }
    std::string hello = fmt("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Key: "
                            "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
                            port);
    if (write(s, hello.data(), hello.size()) < 0) {
        close(s);
        return -1;
    }
    return s;
}

void page_fault()
{
    unsigned short feed_port = testing_udp::free_port();
    auto feed = tp::start({BIN + "testfeed", "--port", std::to_string(feed_port), "--rate", "100",
                           "boxes"});
    Heard heard;
    heard.open(1000000);
    auto web = tp::start({BIN + "hallweb", "--listen", "127.0.0.1:0", "--feed",
                          "F=127.0.0.1:" + std::to_string(feed_port)});
    heard.m.close_it_env();
    int port = -1;
    if (tp::wait_for_output(web, "hallweb: serving http://", 10000)) {
        std::string out = tp::out(web);
        port = atoi(out.c_str() + out.find(':', out.find("serving http://") + 15) + 1);
    }
    std::atomic<long> frames{0};
    ws_test::client page;
    page.keep_binary = false;
    page.on_binary = [&](const unsigned char *, size_t) { frames++; };
    if (port <= 0 || !page.open(port)) {
        say("page: hallweb did not serve: %s", tp::err(web).c_str());
        tp::stop(web);
        tp::stop(feed);
        return;
    }
    usleep(1000000);
    long before = rss_kb(web.pid);
    long f0 = frames;
    usleep(3000000);
    double reading = (frames - f0) / 3.0;
    int stalled = stalled_page(port);
    double since = now(), let_go = 0, slowest = 1e9;
    long f1 = frames, f_stall = frames;
    bool two = false;
    for (int second = 0; second < 60 && (!let_go || now() - let_go < 3); second++) {
        usleep(1000000);
        long f2 = frames;
        slowest = std::min(slowest, (double)(f2 - f1));
        f1 = f2;
        heard.take();
        two = two || heard.status.rfind("2 pages", 0) == 0;
        if (two && !let_go && heard.status.rfind("1 pages", 0) == 0)
            let_go = now();
    }
    double during = (frames - f_stall) / (now() - since);
    long after = rss_kb(web.pid);
    say("page: the reading page gets %.1f frames/s before, %.1f on average and at least %.0f in "
        "any second while another page reads nothing; hallweb lets the stalled page go after "
        "%.0f s",
        reading, during, slowest, let_go ? let_go - since : -1);
    table.push_back({"a page stops reading", fmt("%.0f -> min %.0f frames/s", reading, slowest),
                     "unchanged",
                     let_go ? fmt("stalled page let go after %.0f s", let_go - since)
                            : "stalled page kept",
                     "", memory(before, after)});
    if (stalled >= 0)
        close(stalled);
    page.close();
    tp::stop(web);
    tp::stop(feed);
    heard.m.close_it();
}

/* ---- a frozen service under a systemd user manager ---------------- */

std::string run_out(const std::string &cmd)
{
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

std::string unit_property(const std::string &unit, const std::string &property)
{
    return run_out("systemctl --user show -p " + property + " --value " + unit + " 2>/dev/null");
}

/* In a child of its own: a private mount namespace whose /run/systemd
 * says "booted with systemd", and a user manager in it. The manager's
 * directory, or "" with the reason printed. */
std::string start_user_manager(pid_t *manager)
{
    struct stat st;
    if (getuid() != 0 || stat("/run/systemd", &st) != 0 || access("/lib/systemd/systemd", X_OK))
        return "";
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") || mkdir("/run/systemd/system", 0755))
        return "";
    char dir[] = "/tmp/hallfaults_sdXXXXXX";
    if (!mkdtemp(dir))
        return "";
    setenv("XDG_RUNTIME_DIR", dir, 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    *manager = fork();
    if (*manager == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl("/lib/systemd/systemd", "systemd", "--user", (char *)nullptr);
        _exit(127);
    }
    std::string priv = std::string(dir) + "/systemd/private";
    for (int waited = 0; waited < 10000 && access(priv.c_str(), F_OK) != 0; waited += 50)
        usleep(50000);
    usleep(500000);
    return access(priv.c_str(), F_OK) == 0 ? dir : "";
}

void watchdog_rows(unsigned short olad_port)
{
    fflush(stdout);
    int pipe_fd[2];
    if (pipe(pipe_fd) != 0)
        return;
    pid_t child = fork();
    if (child == 0) {
        close(pipe_fd[0]);
        FILE *rows = fdopen(pipe_fd[1], "w");
        pid_t manager = -1;
        if (start_user_manager(&manager).empty()) {
            fprintf(rows, "watchdog|not measured: no systemd user manager can run here (needs "
                          "root and a private mount namespace)\n");
            fclose(rows);
            _exit(0);
        }
        struct Service {
            std::string name;
            std::string command;
        };
        std::vector<Service> services = {
            {"boxdriver", BIN + "boxdriver --device /nonexistent/line"},
            {"dmxout", BIN + "dmxout --feed 127.0.0.1:9 --ola-port " + std::to_string(olad_port)},
            {"hallweb", BIN + "hallweb --listen 127.0.0.1:0 --feed F=127.0.0.1:9"},
        };
        if (access((std::string(HALL_BINARY_DIR) + "/lib/libglim.so").c_str(), R_OK) == 0)
            services.push_back({"glimhost", "-E DISPLAY= -E PULSE_SERVER=unix:/nonexistent " +
                                                BIN + "glimhost --headless --mute --port " +
                                                std::to_string(testing_udp::free_port())});
        for (auto &s : services) {
            std::string unit = "hall-frozen-" + s.name + ".service";
            std::string cmd = "systemd-run --user --quiet --collect --unit=" + unit +
                              " -p Type=notify -p WatchdogSec=2 -p Restart=on-failure "
                              "-p RestartSec=0 ";
            /* glimhost's environment comes before its command */
            size_t bin = s.command.find(BIN);
            cmd += s.command.substr(0, bin) + "-- " + s.command.substr(bin) + " 2>&1";
            std::string why = run_out(cmd);
            double t0 = now();
            while (unit_property(unit, "ActiveState") != "active" && now() - t0 < 30)
                usleep(50000);
            std::string pid_text = unit_property(unit, "MainPID");
            pid_t pid = atoi(pid_text.c_str());
            if (pid <= 0) {
                fprintf(rows, "watchdog|%s|did not start: %s\n", s.name.c_str(), why.c_str());
                continue;
            }
            kill(pid, SIGSTOP);
            double frozen = now(), restarted = 0, ready = 0;
            while (now() - frozen < 20 && !ready) {
                pid_t now_pid = atoi(unit_property(unit, "MainPID").c_str());
                if (!restarted && now_pid > 0 && now_pid != pid)
                    restarted = now();
                if (restarted && unit_property(unit, "ActiveState") == "active")
                    ready = now();
                usleep(20000);
            }
            fprintf(rows, "watchdog|%s|%.2f|%.2f\n", s.name.c_str(),
                    restarted ? restarted - frozen : -1, ready ? ready - frozen : -1);
            run_out("systemctl --user stop " + unit + " 2>&1");
        }
        kill(manager, SIGTERM);
        waitpid(manager, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(getenv("XDG_RUNTIME_DIR"), ignored);
        fclose(rows);
        _exit(0);
    }
    close(pipe_fd[1]);
    FILE *rows = fdopen(pipe_fd[0], "r");
    char line[512];
    while (fgets(line, sizeof line, rows)) {
        line[strcspn(line, "\n")] = '\0';
        std::vector<std::string> f;
        for (char *p = strtok(line, "|"); p; p = strtok(nullptr, "|"))
            f.push_back(p);
        if (f.size() == 2) {
            say("watchdog: %s", f[1].c_str());
            table.push_back({"frozen service (SIGSTOP)", "-", "WatchdogSec", f[1], "", ""});
        } else if (f.size() == 3) {
            say("watchdog: %s %s", f[1].c_str(), f[2].c_str());
        } else if (f.size() == 4) {
            say("watchdog: %s frozen: restarted by systemd after %s s, ready again after %s s "
                "(WatchdogSec=2)",
                f[1].c_str(), f[2].c_str(), f[3].c_str());
            table.push_back({f[1] + " frozen (SIGSTOP)", f[2] + " s", "2 s (WatchdogSec)",
                             "ready again " + f[3] + " s", "", ""});
        }
    }
    fclose(rows);
    waitpid(child, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_TIMERSLACK, 1UL); /* the producers' pace to the microsecond */
    std::string only = argc == 3 && strcmp(argv[1], "--only") == 0 ? argv[2] : "";
    if (argc > 1 && only.empty()) {
        printf("usage: faults [--only line|olad-stop|olad-kill|producer|subscriber|page|"
               "watchdog]\n");
        return strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    auto want = [&](const char *name) { return only.empty() || only == name; };
    if (want("line") || want("producer"))
        line_faults(want("line"), want("producer"));
    if (want("olad-stop") || want("olad-kill"))
        dmx_faults(want("olad-stop"), want("olad-kill"));
    if (want("subscriber"))
        subscriber_fault();
    if (want("page"))
        page_fault();
    if (want("watchdog")) {
        testing_olad::Olad olad;
        bool up = testing_olad::start(olad);
        watchdog_rows(up ? olad.port : 9);
        testing_olad::remove(olad);
    }

    printf("\n%-30s %-26s %-18s %-40s %-28s %s\n", "fault", "recovery", "target",
           "lost / dropped", "held up", "memory before -> after");
    for (auto &r : table)
        printf("%-30s %-26s %-18s %-40s %-28s %s\n", r.fault.c_str(), r.recovery.c_str(),
               r.target.c_str(), r.lost.c_str(), r.held_up.c_str(), r.memory.c_str());
    return 0;
}
