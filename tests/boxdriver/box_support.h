/* box_support.h -- helpers for the box driver's tests: a pseudo-terminal
 * standing in for the serial line, reading the boxes' bytes off it, and
 * the expected byte of a level. */
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "boxline/scale_table.h"

namespace box_test {

/* One pty pair. The program under test opens `path` (the slave); the test
 * reads what it writes from `master`. The test keeps the slave open too,
 * so the pair lives as long as the test wants. */
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    bool open_pair()
    {
        char name[256];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return false;
        path = name;
        make_raw();
        return true;
    }
    /* Raw settings of the test's own at 9600 baud, so the bytes arrive
     * untranslated. Also needed before the line is configured a second
     * time: glibc's tcsetattr reports EINVAL when it finds a pty (which
     * drops PARENB) unchanged afterwards. */
    void make_raw()
    {
        struct termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, B9600);
        tcsetattr(slave, TCSANOW, &t);
    }
    void close_pair()
    {
        if (master >= 0)
            close(master);
        if (slave >= 0)
            close(slave);
        master = slave = -1;
    }
};

inline long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

/* Read exactly n bytes from fd within timeout_ms; fewer if time ran out. */
inline std::vector<unsigned char> read_bytes(int fd, size_t n, int timeout_ms)
{
    std::vector<unsigned char> out;
    long deadline = now_ms() + timeout_ms;
    while (out.size() < n) {
        long left = deadline - now_ms();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, (int)left) <= 0)
            break;
        unsigned char buf[4096];
        size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        ssize_t got = read(fd, buf, want);
        if (got <= 0)
            break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

/* Throw away whatever is waiting on fd. */
inline void drain(int fd)
{
    while (!read_bytes(fd, 4096, 20).empty()) {
    }
}

/* The data byte the boxes get for a level. */
inline unsigned char level_byte(int level)
{
    return (unsigned char)(scale_table[255 - level] & 0xff);
}

/* The 60 data bytes of a 90-byte frame, in hardware order, or an empty
 * vector when the address bytes are not the 30 addresses in order. */
inline std::vector<unsigned char> frame_data(const std::vector<unsigned char> &bytes)
{
    std::vector<unsigned char> data;
    if (bytes.size() != 90)
        return data;
    for (int c = 0; c < 30; c++) {
        int box = c / 3 + 1, pair = c % 3;
        if (bytes[c * 3] != (0x80 | box << 2 | pair))
            return {};
        data.push_back(bytes[c * 3 + 1]);
        data.push_back(bytes[c * 3 + 2]);
    }
    return data;
}

/* A fresh empty directory (for a test's "hall_config"). */
inline std::string temp_dir()
{
    char t[] = "/tmp/boxdriver_testXXXXXX";
    return mkdtemp(t) ? std::string(t) : std::string();
}

} // namespace box_test
