/* emu_support.h -- running boxemu from tests and benchmarks: start it on
 * a free UDP port and learn its line's device, subscribe to the lamps it
 * publishes, and number frames in levels that come back through the
 * dimming table unchanged. */
#pragma once

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "boxline/line.h"
#include "support/process.h"
#include "support/udp.h"

namespace emu_test {

inline long long now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/* One boxemu process. */
struct Emulator {
    testing_process::Child child;
    std::string device;        /* the line's end for the driver */
    unsigned short port = 0;   /* its light feed */

    /* Start it with the given options on a free port; true once it has
     * printed its device and is publishing. */
    bool start(const std::string &program, std::vector<std::string> extra = {})
    {
        port = testing_udp::free_port();
        std::vector<std::string> argv{program, "--port", std::to_string(port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        child = testing_process::start(argv);
        if (!testing_process::wait_for_output(child, "lamps on UDP port", 10000))
            return false;
        std::string out = testing_process::out(child);
        device = out.substr(0, out.find('\n'));
        return device.rfind("/dev/", 0) == 0;
    }
    void stop() { testing_process::stop(child); }
    std::string out() const { return testing_process::out(child); }
    std::string err() const { return testing_process::err(child); }
};

/* A subscriber to a light feed on 127.0.0.1. */
struct Subscriber {
    int sock = -1;
    unsigned short feed = 0;

    void open(unsigned short port)
    {
        feed = port;
        sock = testing_udp::open_socket();
        renew();
    }
    void renew() const { testing_udp::send_to(sock, feed, "A", 1); }
    void close_it()
    {
        if (sock >= 0)
            close(sock);
        sock = -1;
    }
    /* The next frame within timeout_ms into out; false when none came. */
    bool next(unsigned char out[60], int timeout_ms) const
    {
        bool got = false;
        auto bytes = testing_udp::receive(sock, timeout_ms, &got);
        if (!got || bytes.size() < 60)
            return false;
        for (int i = 0; i < 60; i++)
            out[i] = bytes[i];
        return true;
    }
    /* Wait until a frame satisfies `want`; false after timeout_ms. */
    template <class Want>
    bool wait_for(Want want, int timeout_ms, unsigned char last[60]) const
    {
        long long deadline = now_ns() + timeout_ms * 1000000LL;
        while (now_ns() < deadline) {
            if (next(last, 100) && want(last))
                return true;
        }
        return false;
    }
};

/* Frame numbers, carried by the last command of a frame (box 10, pair 2:
 * channels 58 and 59, identity map) as two digits in base 80, each digit
 * a level whose firing delay is 16 + digit: such levels come back from
 * the boxes exactly. Numbers run modulo 6400. */
const int NUMBER_BASE = 80;
const int NUMBER_MODULO = NUMBER_BASE * NUMBER_BASE;
const int FIRST_DIGIT_DELAY = 16;

inline int digit_level(int digit)
{
    return boxline_level((unsigned char)(FIRST_DIGIT_DELAY + digit));
}

/* A frame numbered n; every other channel at `level`. */
inline void number_frame(long n, unsigned char frame[60], int level = 0)
{
    for (int i = 0; i < 60; i++)
        frame[i] = (unsigned char)level;
    int m = (int)(n % NUMBER_MODULO);
    frame[58] = (unsigned char)digit_level(m / NUMBER_BASE);
    frame[59] = (unsigned char)digit_level(m % NUMBER_BASE);
}

/* The number (modulo 6400) a frame carries, -1 when it carries none. */
inline int frame_number(const unsigned char frame[60])
{
    int hi = boxline_delay(frame[58]) - FIRST_DIGIT_DELAY;
    int lo = boxline_delay(frame[59]) - FIRST_DIGIT_DELAY;
    if (hi < 0 || hi >= NUMBER_BASE || lo < 0 || lo >= NUMBER_BASE ||
        frame[58] != digit_level(hi) || frame[59] != digit_level(lo))
        return -1;
    return hi * NUMBER_BASE + lo;
}

/* The whole number of a frame seen when `newest` was the newest sent:
 * the one at or below newest that matches modulo 6400. */
inline long unwrap_number(int seen, long newest)
{
    long base = newest - newest % NUMBER_MODULO + seen;
    return base > newest ? base - NUMBER_MODULO : base;
}

} // namespace emu_test
