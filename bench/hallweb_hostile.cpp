/* hallweb_hostile.cpp -- the lamps and the web console while one hostile
 * host (127.0.0.2) does its worst, beside an idle run. The real chain:
 * testfeed on 7879 (the box driver's "Test pattern" feed), the box driver
 * on a pseudo-terminal, hallweb watching the feed and steering the driver.
 * For each load -- 50 connections that send a header line a second, 40
 * WebSocket connections that never read, 1,100 sockets asking the
 * producer for frames once a second, then all three -- the frames a
 * second on the line (the driver changes feed at the start of each, so it
 * subscribes afresh under the load), a page's load time from 127.0.0.3
 * (the page, its three files, the WebSocket and the first frame), frames
 * from the hostile host that reached the line, and the CPU of hallweb and
 * the producer. Then, one at a time: four frames that declare 200 MB,
 * token guessing over 32 connections, 10,000 short datagrams from the
 * producer, a request naming another host, and a token file others can
 * read. Uses the fixed ports 7879, 7890, 8080 and 9123..9140.
 *
 *     hallweb_hostile [--bin DIR]   (the programs of DIR; default this build's)
 */
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "hallweb/raw_client.h"
#include "support/process.h"
#include "support/udp.h"

namespace {

const uint32_t HOSTILE = 0x7f000002, VISITOR = 0x7f000003;
const int WEB_PORT = 8080, CONTROL_PORT = 7890, FEED_PORT = 7879, DRIVER_PORT = 9123;
const double PHASE_SECONDS = 10.0;   /* measured, after 2 s for the load to build */

std::string bin, dir;
pid_t feed_pid, driver_pid, web_pid;
std::atomic<long> line_frames{0}, foreign_frames{0};
std::atomic<bool> running{true};

double now_s()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

pid_t start(const std::vector<std::string> &args, const std::string &log, int in = -1)
{
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in >= 0 ? in : open("/dev/null", O_RDONLY), 0);
        dup2(out, 1);
        dup2(out, 2);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

long count_of(const std::string &text, const std::string &what)
{
    long n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

/* A figure of /proc/PID/status, in kB. */
long status_kb(pid_t pid, const char *field)
{
    std::string s = testing_process::read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = s.find(field);
    return at == std::string::npos ? -1 : atol(s.c_str() + at + strlen(field));
}

long cpu_ticks(pid_t pid)
{
    std::string s = testing_process::read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t at = s.rfind(')');
    long utime = 0, stime = 0;
    if (at == std::string::npos ||
        sscanf(s.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime,
               &stime) != 2)
        return 0;
    return utime + stime;
}

/* The line, read as the boxes would: a frame starts at the address byte
 * of box 1's first pair; one with more than ten lamps lit (an early
 * firing, a small delay) is not the walking test pattern's (one lit
 * channel) but a stranger's. */
void read_line(int master)
{
    unsigned char buf[4096];
    int lit = 0;
    while (running) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        ssize_t n = read(master, buf, sizeof buf);
        for (ssize_t i = 0; i < n; i++) {
            if (buf[i] == 0x84) {
                line_frames++;
                foreign_frames += lit > 10;
                lit = 0;
            } else if (buf[i] < 0x40) {
                lit++;
            }
        }
    }
}

/* Full frames from the hostile host to the driver's feed ports, ten a
 * second, all along. */
void send_strangers()
{
    int s = testing_udp::bind_socket(HOSTILE, 0);
    std::vector<unsigned char> frame(60, 255);
    while (running) {
        for (int port = DRIVER_PORT; port < DRIVER_PORT + 18; port++)
            testing_udp::send_to(s, (unsigned short)port, frame.data(), frame.size());
        usleep(100000);
    }
    close(s);
}

/* --- the loads, each on a thread of its own until `on` goes false --- */

/* Connections that send one header line a second and never end their
 * request; each closed one is opened again. */
void slow_headers(std::atomic<bool> *on, int count)
{
    std::vector<int> fds(count, -1);
    while (*on) {
        for (int &fd : fds) {
            if (fd >= 0 && !raw_test::send_all(fd, "X-Slow: " + std::to_string(rand()) + "\r\n")) {
                close(fd);
                fd = -1;
            }
            if (fd < 0 && (fd = raw_test::connect_from(HOSTILE, WEB_PORT)) >= 0)
                raw_test::send_all(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n");
        }
        for (int i = 0; i < 10 && *on; i++)
            usleep(100000);
    }
    for (int fd : fds)
        close(fd);
}

/* WebSocket connections that never read; each one the server ends is
 * opened again. */
void silent_pages(std::atomic<bool> *on, int count)
{
    std::vector<pollfd> ps(count, pollfd{-1, POLLRDHUP, 0});
    while (*on) {
        for (pollfd &p : ps)
            if (p.fd < 0 && (p.fd = raw_test::connect_from(HOSTILE, WEB_PORT)) >= 0)
                raw_test::send_request(p.fd, "/ws", "127.0.0.1:8080", true);
        poll(ps.data(), ps.size(), 100);
        for (pollfd &p : ps)
            if (p.fd >= 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                close(p.fd);
                p.fd = -1;
            }
    }
    for (pollfd &p : ps)
        close(p.fd);
}

/* Sockets that each ask the producer for frames once a second; what it
 * sends them is left unread (small buffers: the system drops it). */
void subscription_flood(std::atomic<bool> *on, int count)
{
    std::vector<int> socks;
    for (int i = 0; i < count; i++) {
        int s = testing_udp::bind_socket(HOSTILE, 0);
        int small = 1;
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        socks.push_back(s);
    }
    while (*on) {
        for (int s : socks)
            testing_udp::send_to(s, FEED_PORT, "A", 1);
        for (int i = 0; i < 10 && *on; i++)
            usleep(100000);
    }
    for (int s : socks)
        close(s);
}

/* --- a visitor's page --- */

/* The page, its files, the WebSocket and the first frame from 127.0.0.3:
 * milliseconds, or -1 when any of it failed within 5 s. */
double page_load()
{
    double t0 = now_s();
    for (const char *path : {"/", "/hallweb.css", "/hallweb.js", "/favicon.svg"}) {
        int fd = raw_test::connect_from(VISITOR, WEB_PORT);
        bool ok = fd >= 0 && raw_test::send_request(fd, path, "127.0.0.1:8080", false) &&
                  raw_test::read_status(fd) == 200 && raw_test::ended(fd, 5000);
        close(fd);
        if (!ok)
            return -1;
    }
    int fd = raw_test::connect_from(VISITOR, WEB_PORT);
    bool ok = fd >= 0 && raw_test::send_request(fd, "/ws", "127.0.0.1:8080", true) &&
              raw_test::read_status(fd) == 101 && raw_test::read_frame(fd, nullptr).opcode == 2;
    close(fd);
    return ok ? (now_s() - t0) * 1000 : -1;
}

void control_key(char key)
{
    int s = testing_udp::open_socket(0);
    testing_udp::send_to(s, CONTROL_PORT, &key, 1);
    usleep(200000);
    close(s);
}

struct phase_figures {
    double fps, load_median, load_max, web_cpu, feed_cpu;
    int loads, failed;
    long foreign;
};

enum { SLOW = 1, SILENT = 2, FLOOD = 4 };

phase_figures run_phase(int loads)
{
    std::atomic<bool> on{true};
    std::vector<std::thread> threads;
    if (loads & SLOW)
        threads.emplace_back(slow_headers, &on, 50);
    if (loads & SILENT)
        threads.emplace_back(silent_pages, &on, 40);
    if (loads & FLOOD)
        threads.emplace_back(subscription_flood, &on, 1100);
    usleep(1000000);
    control_key('2'); /* away and back: a fresh subscription under the load */
    control_key('1');
    usleep(800000);
    long frames0 = line_frames, foreign0 = foreign_frames;
    long web0 = cpu_ticks(web_pid), feed0 = cpu_ticks(feed_pid);
    double t0 = now_s();
    std::vector<double> times;
    phase_figures f{};
    while (now_s() - t0 < PHASE_SECONDS) {
        double ms = page_load();
        f.loads++;
        if (ms < 0)
            f.failed++;
        else
            times.push_back(ms);
        usleep(400000);
    }
    double wall = now_s() - t0;
    f.fps = (double)(line_frames - frames0) / wall;
    f.foreign = foreign_frames - foreign0;
    double hz = (double)sysconf(_SC_CLK_TCK);
    f.web_cpu = 100.0 * (double)(cpu_ticks(web_pid) - web0) / hz / wall;
    f.feed_cpu = 100.0 * (double)(cpu_ticks(feed_pid) - feed0) / hz / wall;
    std::sort(times.begin(), times.end());
    f.load_median = times.empty() ? -1 : times[times.size() / 2];
    f.load_max = times.empty() ? -1 : times.back();
    on = false;
    for (auto &t : threads)
        t.join();
    usleep(500000);
    return f;
}

/* --- the single faults --- */

void frames_of_200_mb()
{
    long rss0 = status_kb(web_pid, "VmRSS:");
    std::atomic<int> closed_early{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; i++)
        senders.emplace_back([&closed_early] {
            int fd = raw_test::connect_from(HOSTILE, WEB_PORT);
            if (fd < 0 || !raw_test::send_request(fd, "/ws", "127.0.0.1:8080", true) ||
                raw_test::read_status(fd) != 101)
                return;
            uint64_t declared = 200ull << 20, sent = 0;
            raw_test::send_frame(fd, 0x82, "", declared);
            std::string chunk(1 << 16, 'x');
            double t0 = now_s();
            while (sent < declared && now_s() - t0 < 30 && raw_test::send_all(fd, chunk))
                sent += chunk.size();
            closed_early += sent < declared;
            usleep(500000);
            close(fd);
        });
    long peak = rss0;
    bool done = false;
    std::thread watch([&] {
        while (!done) {
            peak = std::max(peak, status_kb(web_pid, "VmRSS:"));
            usleep(50000);
        }
    });
    for (auto &t : senders)
        t.join();
    done = true;
    watch.join();
    printf("4 frames declaring 200 MB: hallweb %ld MB before, %ld MB at the peak; %d of 4 "
           "connections closed before the frame was sent whole\n",
           rss0 / 1024, peak / 1024, closed_early.load());
}

void token_guessing()
{
    std::string log = dir + "/hallweb.log";
    long lines0 = count_of(testing_process::read_file(log), "wrong token");
    std::atomic<long> answered{0}, refused{0};
    std::atomic<bool> on{true};
    std::vector<std::thread> guessers;
    for (int i = 0; i < 32; i++)
        guessers.emplace_back([&] {
            int fd = raw_test::connect_from(HOSTILE, WEB_PORT);
            if (fd < 0 || !raw_test::send_request(fd, "/ws", "127.0.0.1:8080", true) ||
                raw_test::read_status(fd) != 101) {
                close(fd);
                return;
            }
            std::string guess = "{\"type\":\"auth\",\"token\":\"guess-guess\"}";
            while (on) {
                raw_test::send_frame(fd, 0x81, guess, guess.size());
                raw_test::frame f; /* past the frames and the status, to the answer */
                do
                    f = raw_test::read_frame(fd, "", 2000);
                while (f.opcode == 2 ||
                       (f.opcode == 1 && f.data.find("\"type\":\"auth\"") == std::string::npos &&
                        f.data.find("\"type\":\"error\"") == std::string::npos));
                if (f.opcode != 1)
                    break;
                if (f.data.find("\"ok\":false") != std::string::npos)
                    answered++;
                else
                    refused++;
            }
            close(fd);
        });
    double seconds = 5;
    usleep((useconds_t)(seconds * 1e6));
    on = false;
    for (auto &t : guessers)
        t.join();
    long lines = count_of(testing_process::read_file(log), "wrong token") - lines0;
    printf("token guessing over 32 connections: %.1f wrong tokens checked a second, %.1f refused "
           "unchecked; %ld log lines\n",
           answered / seconds, refused / seconds, lines);
}

void short_datagrams(int producer, unsigned short web_feed_port)
{
    std::string log = dir + "/hallweb.log";
    long lines0 = count_of(testing_process::read_file(log), "Small packet");
    for (int i = 0; i < 10000; i++) {
        testing_udp::send_to(producer, web_feed_port, "x", 1);
        if (i % 200 == 199)
            usleep(20000);
    }
    usleep(1500000);
    printf("10,000 one-byte datagrams from the producer: %ld \"Small packet\" lines\n",
           count_of(testing_process::read_file(log), "Small packet") - lines0);
}

void other_host()
{
    int fd = raw_test::connect_from(HOSTILE, WEB_PORT);
    raw_test::send_request(fd, "/", "evil.example", false);
    int page = raw_test::read_status(fd);
    close(fd);
    fd = raw_test::connect_from(HOSTILE, WEB_PORT);
    raw_test::send_all(fd, "GET /ws HTTP/1.1\r\nHost: evil.example\r\nOrigin: http://evil.example\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    int ws = raw_test::read_status(fd);
    close(fd);
    printf("Host: evil.example: the page %d, a WebSocket with a matching Origin %d\n", page, ws);
}

void readable_token()
{
    std::string path = dir + "/readable.token";
    FILE *f = fopen(path.c_str(), "w");
    fputs("correct-horse-battery\n", f);
    fclose(f);
    chmod(path.c_str(), 0644);
    pid_t pid = start({bin + "/hallweb", "--listen", "127.0.0.1:8081", "--feed", "F=127.0.0.1:9",
                       "--driver", "127.0.0.1:7890", "--token-file", path},
                      dir + "/readable.log");
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 30 && !ended; i++) {
        usleep(100000);
        ended = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!ended) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    std::string said = testing_process::read_file(dir + "/readable.log");
    printf("a token file others can read: %s\n",
           ended ? ("refused, status " + std::to_string(WEXITSTATUS(status)) + ": " +
                    said.substr(0, said.find('\n')))
                       .c_str()
                 : "taken, the console served");
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    bin = argc == 3 && strcmp(argv[1], "--bin") == 0 ? argv[2] : HALL_BIN_DIR;
    char tmpl[] = "/tmp/hallweb_hostileXXXXXX";
    dir = mkdtemp(tmpl);
    signal(SIGPIPE, SIG_IGN);

    int master, slave;
    char line[128];
    if (openpty(&master, &slave, line, nullptr, nullptr) != 0) {
        perror("openpty");
        return 1;
    }
    struct termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    int producer = testing_udp::open_socket(0);
    std::string token = dir + "/token";
    FILE *tf = fopen(token.c_str(), "w");
    fputs("correct-horse-battery\n", tf);
    fclose(tf);
    chmod(token.c_str(), 0600);

    feed_pid = start({bin + "/testfeed", "--port", std::to_string(FEED_PORT), "walk"},
                     dir + "/testfeed.log");
    driver_pid = start({bin + "/boxdriver", "--device", line, "--feed", "1", "--local-port",
                        std::to_string(DRIVER_PORT), "--control", std::to_string(CONTROL_PORT)},
                       dir + "/boxdriver.log");
    web_pid = start({bin + "/hallweb", "--listen", "127.0.0.1:" + std::to_string(WEB_PORT),
                     "--feed", "Test pattern=127.0.0.1:" + std::to_string(FEED_PORT), "--feed",
                     "Bench=127.0.0.1:" + std::to_string(testing_udp::local_port(producer)),
                     "--driver", "127.0.0.1:" + std::to_string(CONTROL_PORT), "--token-file",
                     token},
                    dir + "/hallweb.log");
    bool subscribed = false;
    unsigned short web_feed_port = 0;
    testing_udp::receive(producer, 5000, &subscribed, &web_feed_port);
    std::thread lamps(read_line, master), strangers(send_strangers);
    usleep(1500000);
    if (!subscribed || line_frames == 0) {
        fprintf(stderr, "hallweb_hostile: the chain did not start (%s)\n", dir.c_str());
        running = false;
    }

    struct {
        const char *name;
        int loads;
    } phases[] = {{"idle", 0},
                  {"50 slow headers", SLOW},
                  {"40 silent pages", SILENT},
                  {"1,100 subscribers", FLOOD},
                  {"all three", SLOW | SILENT | FLOOD}};
    if (running) {
        printf("programs from %s; each load from 127.0.0.2, the page from 127.0.0.3\n",
               bin.c_str());
        printf("%-18s %10s %24s %9s %9s %9s\n", "load", "lamps fps", "page load median/max",
               "strangers", "hallweb", "producer");
        double idle_fps = 0;
        for (auto &p : phases) {
            phase_figures f = run_phase(p.loads);
            if (!p.loads)
                idle_fps = f.fps;
            char load[64];
            snprintf(load, sizeof load, "%.0f/%.0f ms, %d of %d failed", f.load_median,
                     f.load_max, f.failed, f.loads);
            printf("%-18s %10.1f %24s %9ld %8.1f%% %8.1f%%   (fps %.2f x idle)\n", p.name,
                   f.fps, load, f.foreign, f.web_cpu, f.feed_cpu,
                   idle_fps > 0 ? f.fps / idle_fps : 0);
        }
        printf("targets: the lamps' frame rate as idle, the page under 100 ms, no stranger's "
               "frame on the line\n");
        frames_of_200_mb();
        token_guessing();
        short_datagrams(producer, web_feed_port);
        other_host();
        readable_token();
    }

    running = false;
    lamps.join();
    strangers.join();
    for (pid_t pid : {web_pid, driver_pid, feed_pid})
        kill(pid, SIGTERM);
    for (pid_t pid : {web_pid, driver_pid, feed_pid})
        waitpid(pid, nullptr, 0);
    printf("logs in %s\n", dir.c_str());
    return 0;
}
