/* boxdriver_latency.cpp -- how long a frame takes from the producer's
 * datagram to its 90 bytes on the serial line, through the box driver and,
 * for scale, through a bare UDP-to-pty relay in the same run (once writing
 * each frame at once, once in the box protocol's 11 writes). Frames go one
 * at a time, in turn on each path, and to the driver no faster than its
 * line carries them (it paces itself to the line). Then the frame rate
 * the driver writes when fed as fast as it takes frames: the line's.
 * Needs port 7878 free (the driver's "Main Music" feed). */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../tests/support/udp.h"

namespace {

const int FRAMES = 500;
const int WARM_UP = 20;
/* The driver holds a frame while the one before is on the line (25.8 ms
 * at 38400 baud); frames to it go this far apart. */
const double DRIVER_SPACING_US = 28000;

double now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

struct Line {
    int master, slave;
    char path[128];
};

bool open_line(Line &l)
{
    if (openpty(&l.master, &l.slave, l.path, nullptr, nullptr) != 0)
        return false;
    struct termios t;
    tcgetattr(l.slave, &t);
    cfmakeraw(&t);
    tcsetattr(l.slave, TCSANOW, &t);
    return true;
}

/* Read n bytes from fd; false after 2 s without them. */
bool read_bytes(int fd, size_t n)
{
    unsigned char buf[256];
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            return false;
        ssize_t r = read(fd, buf, std::min(sizeof buf, n - got));
        if (r <= 0)
            return false;
        got += (size_t)r;
    }
    return true;
}

/* The bare relay: one datagram in, 90 bytes out, in one write or in the
 * box protocol's 3, 9, ..., 9, 6-byte writes. */
[[noreturn]] void relay(const char *line_path, int sock, bool box_writes)
{
    int fd = open(line_path, O_RDWR | O_NOCTTY);
    unsigned char in[60], out[90];
    for (;;) {
        if (recv(sock, in, sizeof in, 0) != 60)
            continue;
        for (int c = 0; c < 30; c++) {
            out[c * 3] = (unsigned char)(0x80 | ((c / 3 + 1) << 2) | (c % 3));
            out[c * 3 + 1] = in[c * 2] >> 1;
            out[c * 3 + 2] = in[c * 2 + 1] >> 1;
        }
        if (!box_writes && write(fd, out, sizeof out) < 0)
            _exit(1);
        for (int at = 0; box_writes && at < 90; at += at ? 9 : 3)
            if (write(fd, out + at, at == 84 ? 6 : at ? 9 : 3) < 0)
                _exit(1);
    }
}

struct Figures {
    double median, p99;
};

Figures figures(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[(size_t)(v.size() * 0.99)]};
}

} // namespace

int main()
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    /* path 0: the box driver; 1: the bare relay, one write per frame;
     * 2: the same relay writing as the box protocol does */
    const char *names[3] = {"box driver", "bare relay", "relay, 11 writes"};
    Line lines[3];
    for (Line &l : lines)
        if (!open_line(l)) {
            perror("openpty");
            return 1;
        }
    int producer = testing_udp::open_socket(7878);
    if (producer < 0) {
        fprintf(stderr, "boxdriver_latency: port 7878 is in use\n");
        return 1;
    }
    unsigned short ports[3] = {0, 0, 0};
    pid_t pids[3];
    for (int r = 1; r < 3; r++) {
        int sock = testing_udp::open_socket(0);
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(sock, (sockaddr *)&a, &len);
        ports[r] = ntohs(a.sin_port);
        pids[r] = fork();
        if (pids[r] == 0)
            relay(lines[r].path, sock, r == 2);
        close(sock);
    }

    pids[0] = fork();
    if (pids[0] == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(BOXDRIVER_PATH, BOXDRIVER_PATH, "--device", lines[0].path,
              "--local-port", "9123", (char *)nullptr);
        _exit(127);
    }

    /* the driver's subscription tells its port */
    pollfd p{producer, POLLIN, 0};
    if (poll(&p, 1, 5000) > 0) {
        unsigned char b[8];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        if (recvfrom(producer, b, sizeof b, 0, (sockaddr *)&from, &len) == 1)
            ports[0] = ntohs(from.sin_port);
    }
    int status = 0;
    if (!ports[0]) {
        fprintf(stderr, "boxdriver_latency: the driver did not subscribe\n");
        status = 1;
    }

    std::vector<double> latency[3];
    unsigned char frame[60];
    double driver_sent = 0;
    for (int i = 0; status == 0 && i < WARM_UP + FRAMES; i++) {
        for (int k = 0; k < 60; k++)
            frame[k] = (unsigned char)(i + k);
        double wait = driver_sent + DRIVER_SPACING_US - now_us();
        if (wait > 0)
            usleep((useconds_t)wait);
        driver_sent = now_us();
        for (int path = 0; path < 3 && status == 0; path++) {
            double t0 = now_us();
            testing_udp::send_to(producer, ports[path], frame, sizeof frame);
            if (!read_bytes(lines[path].master, 90)) {
                fprintf(stderr, "boxdriver_latency: %s lost frame %d\n", names[path], i);
                status = 1;
            }
            if (i >= WARM_UP)
                latency[path].push_back(now_us() - t0);
        }
    }

    if (status == 0) {
        Figures f[3];
        printf("frames measured: %d per path, one at a time\n", FRAMES);
        for (int path = 0; path < 3; path++) {
            f[path] = figures(latency[path]);
            printf("%-17s median %7.1f us   99th percentile %7.1f us\n", names[path],
                   f[path].median, f[path].p99);
        }
        printf("driver / bare relay:       median %.2f   99th percentile %.2f   (target <= 1.2)\n",
               f[0].median / f[1].median, f[0].p99 / f[1].p99);
        printf("driver / relay, 11 writes: median %.2f   99th percentile %.2f\n",
               f[0].median / f[2].median, f[0].p99 / f[2].p99);

        /* sustained rate: the next frame goes as soon as the last is out */
        int frames = 0;
        double start = now_us();
        while (now_us() - start < 2e6) {
            frame[0] = (unsigned char)frames;
            testing_udp::send_to(producer, ports[0], frame, sizeof frame);
            if (!read_bytes(lines[0].master, 90))
                break;
            frames++;
        }
        double seconds = (now_us() - start) / 1e6;
        printf("box driver writes %.1f frames/s fed as fast as it takes them (a 38400 baud line "
               "carries 38.8)\n", frames / seconds);
    }

    for (pid_t pid : pids)
        kill(pid, SIGTERM);
    for (pid_t pid : pids)
        waitpid(pid, nullptr, 0);
    return status;
}
