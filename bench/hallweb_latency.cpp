/* hallweb_latency.cpp -- how long a frame takes from the producer's
 * datagram to the WebSocket message at the pages, through the web
 * console, at 30 frames a second with 1 and with 32 pages connected; the
 * console's share of a core meanwhile; and for scale, in the same run, a
 * bare datagram to a thread waiting for it (the floor no relay can beat).
 * Each frame carries its number in its first three levels. */
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hallweb/ws_client.h"
#include "support/udp.h"

namespace {

const int RATE = 30;
const int FRAMES = 300;            /* ten seconds at the rate */
const int WARM_UP = 15;            /* frames not counted */

double now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[i];
}

/* Ticks of CPU (user and system) the process has used. */
long cpu_ticks(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return -1;
    char buf[1024];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    const char *p = strrchr(buf, ')');
    long utime = 0, stime = 0;
    /* after ")": state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime */
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime) != 2)
        return -1;
    return utime + stime;
}

/* Arrival times of each frame number at one page. */
struct page {
    ws_test::client ws;
    std::vector<double> arrived = std::vector<double>(FRAMES, 0);
    page()
    {
        ws.keep_binary = false;
        ws.on_binary = [this](const unsigned char *b, size_t len) {
            if (len != 61)
                return;
            int seq = b[1] | b[2] << 8 | b[3] << 16;
            if (seq < FRAMES)
                arrived[seq] = now_ms();
        };
    }
};

struct result {
    double median, p99, cpu;
    size_t samples, lost;
};

/* Send FRAMES frames at RATE to the console's feed port with `pages`
 * connected; the latencies of every page's frames. */
result run(int producer, unsigned short feed_port, int web_port, pid_t web, int pages)
{
    std::vector<std::unique_ptr<page>> ps;
    for (int i = 0; i < pages; i++) {
        ps.push_back(std::make_unique<page>());
        if (!ps.back()->ws.open(web_port) || ps.back()->ws.wait_text("\"type\":\"hello\"") < 0) {
            fprintf(stderr, "page %d did not connect: %s\n", i, ps.back()->ws.error.c_str());
            exit(1);
        }
    }
    std::vector<double> sent(FRAMES, 0);
    std::vector<unsigned char> frame(60, 0);
    long ticks0 = cpu_ticks(web);
    double start = now_ms();
    for (int seq = 0; seq < FRAMES; seq++) {
        double due = start + seq * 1000.0 / RATE;
        double wait = due - now_ms();
        if (wait > 0)
            usleep((useconds_t)(wait * 1000));
        frame[0] = seq & 0xff;
        frame[1] = (seq >> 8) & 0xff;
        frame[2] = (seq >> 16) & 0xff;
        frame[3 + seq % 57] = 255;           /* something moving, as a feed would */
        sent[seq] = now_ms();
        testing_udp::send_to(producer, feed_port, frame.data(), frame.size());
        frame[3 + seq % 57] = 0;
    }
    usleep(300000);
    double wall = now_ms() - start;
    long ticks = cpu_ticks(web) - ticks0;
    result r{};
    std::vector<double> lat;
    for (auto &p : ps)
        for (int seq = WARM_UP; seq < FRAMES; seq++) {
            if (p->arrived[seq] > 0)
                lat.push_back(p->arrived[seq] - sent[seq]);
            else
                r.lost++;
        }
    r.samples = lat.size();
    r.median = percentile(lat, 0.5);
    r.p99 = percentile(lat, 0.99);
    r.cpu = 100.0 * (double)ticks / (double)sysconf(_SC_CLK_TCK) / (wall / 1000.0);
    std::vector<std::thread> closing;
    for (auto &p : ps)
        closing.emplace_back([&p] { p->ws.close(); });
    for (auto &t : closing)
        t.join();
    return r;
}

/* The floor: a datagram to a socket on which a thread waits in poll. */
double floor_median()
{
    int rx = testing_udp::open_socket(0), tx = testing_udp::open_socket(0);
    unsigned short port = testing_udp::local_port(rx);
    std::vector<double> sent(FRAMES), got(FRAMES);
    std::thread reader([&] {
        for (int i = 0; i < FRAMES; i++) {
            pollfd p{rx, POLLIN, 0};
            poll(&p, 1, 1000);
            unsigned char b[64];
            recv(rx, b, sizeof b, 0);
            got[i] = now_ms();
        }
    });
    for (int i = 0; i < FRAMES; i++) {
        usleep(1000000 / RATE / 4);
        sent[i] = now_ms();
        testing_udp::send_to(tx, port, "x", 1);
    }
    reader.join();
    close(rx);
    close(tx);
    std::vector<double> lat;
    for (int i = WARM_UP; i < FRAMES; i++)
        lat.push_back(got[i] - sent[i]);
    return percentile(lat, 0.5);
}

} // namespace

int main()
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    int producer = testing_udp::open_socket(0);
    unsigned short producer_port = testing_udp::local_port(producer);
    std::string feed = "Bench=127.0.0.1:" + std::to_string(producer_port);

    int out[2];
    if (pipe(out) != 0)
        return 1;
    pid_t web = fork();
    if (web == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(HALLWEB_PATH, HALLWEB_PATH, "--listen", "127.0.0.1:0", "--feed", feed.c_str(),
              (char *)nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string printed;
    int web_port = -1;
    while (web_port < 0) {
        char buf[512];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) {
            fprintf(stderr, "hallweb did not start\n");
            return 1;
        }
        printed.append(buf, (size_t)n);
        size_t at = printed.find("serving http://127.0.0.1:");
        if (at != std::string::npos && printed.find('\n', at) != std::string::npos)
            web_port = atoi(printed.c_str() + at + 25);
    }
    bool subscribed = false;
    unsigned short feed_port = 0;
    testing_udp::receive(producer, 5000, &subscribed, &feed_port);
    if (!subscribed) {
        fprintf(stderr, "hallweb did not subscribe\n");
        return 1;
    }

    double floor = floor_median();
    result one = run(producer, feed_port, web_port, web, 1);
    result many = run(producer, feed_port, web_port, web, 32);
    kill(web, SIGTERM);
    waitpid(web, nullptr, 0);

    printf("hallweb: producer datagram to WebSocket message, %d frames at %d a second\n",
           FRAMES - WARM_UP, RATE);
    printf("  floor (datagram to a waiting thread): median %.3f ms\n", floor);
    printf("  1 page:   median %.3f ms, 99th percentile %.3f ms (%.1f x floor), %zu lost\n",
           one.median, one.p99, one.median / floor, one.lost);
    printf("  32 pages: median %.3f ms, 99th percentile %.3f ms (%.1f x floor), %zu lost\n",
           many.median, many.p99, many.median / floor, many.lost);
    printf("  hallweb's CPU with 32 pages: %.1f %% of a core (with 1 page: %.1f %%)\n", many.cpu,
           one.cpu);
    printf("  targets: median under 2 ms, CPU under 5 %% of a core\n");
    return 0;
}
