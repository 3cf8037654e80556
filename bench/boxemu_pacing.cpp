/* boxemu_pacing.cpp -- how far the lamps run behind a fast feed: numbered
 * frames at --fps go to the box driver ("Main Music", so port 7878 must
 * be free), the driver writes them to boxemu's line at --baud, and a
 * subscriber of the emulator times each frame from its datagram to the
 * lamps showing it (the emulator shows a frame when its last byte has
 * come off the line). Prints the latency in the first and the last
 * second, and the frames the line carried and passed over.
 *
 *   boxemu_pacing [--fps 86] [--seconds 10] [--baud 38400] [--driver PATH]
 *
 * --driver runs another build of the driver (an older one, to compare);
 * it must match --baud (boxdriver57600 for 57600). */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "boxemu/emu_support.h"

using namespace emu_test;

namespace {

struct Settings {
    double fps = 86;
    double seconds = 10;
    long baud = 38400;
    std::string driver;
};

struct Shown {
    long long at;      /* when the lamps showed it */
    double latency_ms; /* from its datagram */
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[i];
}

void report(const char *what, const std::vector<Shown> &shown, long long from, long long to)
{
    std::vector<double> v;
    for (auto &s : shown)
        if (s.at >= from && s.at < to)
            v.push_back(s.latency_ms);
    printf("boxemu_pacing: %-12s %4zu frames shown, datagram to lamps: median %7.1f ms, "
           "99th percentile %7.1f ms, worst %7.1f ms\n",
           what, v.size(), percentile(v, 0.5), percentile(v, 0.99), percentile(v, 1.0));
}

int usage(const char *why)
{
    fprintf(stderr, "boxemu_pacing: %s\nusage: boxemu_pacing [--fps N] [--seconds S] "
                    "[--baud 38400|57600] [--driver PATH]\n", why);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Settings s;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help") {
            printf("usage: boxemu_pacing [--fps N] [--seconds S] [--baud 38400|57600] "
                   "[--driver PATH]\n");
            return 0;
        }
        if (i + 1 >= argc)
            return usage(("unknown argument or missing value: " + a).c_str());
        std::string v = argv[++i];
        if (a == "--fps")
            s.fps = atof(v.c_str());
        else if (a == "--seconds")
            s.seconds = atof(v.c_str());
        else if (a == "--baud")
            s.baud = atol(v.c_str());
        else if (a == "--driver")
            s.driver = v;
        else
            return usage(("unknown argument " + a).c_str());
    }
    if (s.fps < 1 || s.fps > 2000 || s.seconds < 2 || !boxline_baud_ok(s.baud))
        return usage("--fps takes 1..2000, --seconds 2 or more, --baud 38400 or 57600");
    if (s.driver.empty())
        s.driver = s.baud == 38400 ? BOXDRIVER : BOXDRIVER57600;

    int producer = testing_udp::open_socket(7878);
    if (producer < 0) {
        fprintf(stderr, "boxemu_pacing: port 7878 is in use\n");
        return 1;
    }
    Emulator emu;
    if (!emu.start(BOXEMU, {"--baud", std::to_string(s.baud)})) {
        fprintf(stderr, "boxemu_pacing: boxemu did not start: %s\n", emu.err().c_str());
        return 1;
    }
    Subscriber lamps;
    lamps.open(emu.port);
    unsigned char frame[60];
    lamps.next(frame, 2000);

    unsigned short driver_port = testing_udp::free_port();
    auto driver = testing_process::start({s.driver, "--device", emu.device, "--local-port",
                                          std::to_string(driver_port)});
    bool subscribed = false;
    for (int tries = 0; tries < 50 && !subscribed; tries++) {
        bool got = false;
        unsigned short from = 0;
        testing_udp::receive(producer, 100, &got, &from);
        subscribed = got && from == driver_port;
    }
    if (!subscribed) {
        fprintf(stderr, "boxemu_pacing: the driver did not subscribe\n");
        testing_process::stop(driver);
        emu.stop();
        return 1;
    }

    /* Feed on an absolute schedule; watch the lamps in between. */
    long total = (long)(s.fps * s.seconds);
    std::vector<long long> sent_at((size_t)total, 0);
    std::vector<Shown> shown;
    long long period = (long long)(1e9 / s.fps);
    long long start = now_ns(), next = start;
    long sent = -1, newest_shown = -1;
    while (sent + 1 < total || now_ns() < next + 500000000LL) {
        long long now = now_ns();
        if (sent + 1 < total && now >= next) {
            number_frame(++sent, frame, 255);
            sent_at[(size_t)sent] = now_ns();
            testing_udp::send_to(producer, driver_port, frame, 60);
            next += period;
            if (sent % 200 == 0)
                lamps.renew();
            continue;
        }
        long long wait = (sent + 1 < total ? next : now + 10000000LL) - now;
        unsigned char lit[60];
        if (!lamps.next(lit, wait > 0 ? (int)(wait / 1000000) : 0))
            continue;
        long long at = now_ns();
        int n = frame_number(lit);
        if (n < 0 || sent < 0)
            continue;
        long m = unwrap_number(n, sent);
        if (m <= newest_shown || m < 0)
            continue;
        newest_shown = m;
        shown.push_back({at, (at - sent_at[(size_t)m]) / 1e6});
    }
    testing_process::stop(driver);
    emu.stop();

    long long end = start + (long long)(s.seconds * 1e9);
    printf("boxemu_pacing: %s at %ld baud, %.0f frames a second for %.0f s (line: %.1f frames/s)\n",
           s.driver.c_str(), s.baud, s.fps, s.seconds,
           1e9 / (double)boxline_line_ns(s.baud, BOXLINE_FRAME_BYTES));
    printf("boxemu_pacing: %ld frames sent, %zu shown on the lamps, %ld passed over\n", sent + 1,
           shown.size(), sent + 1 - (long)shown.size());
    report("first second", shown, start, start + 1000000000LL);
    report("last second", shown, end - 1000000000LL, end);
    report("whole run", shown, start, end + 1000000000LL);
    printf("boxemu_pacing: two frame times are %.1f ms\n",
           2 * boxline_line_ns(s.baud, BOXLINE_FRAME_BYTES) / 1e6);
    return 0;
}
