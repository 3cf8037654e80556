/* console_support.h -- running the box driver end to end: a pty as its
 * serial line, another as its keyboard, a producer socket on the
 * loopback, and what the driver printed. */
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boxdriver/box_support.h"
#include "support/process.h"
#include "support/udp.h"

namespace box_test {

/* The local UDP ports a process has bound, from /proc. */
inline std::set<unsigned short> udp_ports(pid_t pid)
{
    std::set<std::string> inodes;
    std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR *d = opendir(fd_dir.c_str())) {
        while (dirent *e = readdir(d)) {
            char target[256];
            std::string link = fd_dir + "/" + e->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            target[n] = '\0';
            std::string t = target;
            if (t.rfind("socket:[", 0) == 0)
                inodes.insert(t.substr(8, t.size() - 9));
        }
        closedir(d);
    }
    std::set<unsigned short> ports;
    std::ifstream udp("/proc/net/udp");
    std::string line;
    std::getline(udp, line); /* heading */
    while (std::getline(udp, line)) {
        std::istringstream fields(line);
        std::string sl, local, remote, st, queues, timer, retr, uid, timeout, inode;
        fields >> sl >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode;
        if (inodes.count(inode))
            ports.insert((unsigned short)std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
    }
    return ports;
}

/* A run of `count` ports that are all free now, below the driver's
 * wrap at 10000 and outside the ports that producers use. */
inline unsigned short free_port_run(int count)
{
    for (int attempt = 0; attempt < 200; attempt++) {
        unsigned short base = (unsigned short)(8100 + (getpid() * 7 + attempt * 37) % 1800);
        bool free = true;
        for (int i = 0; i < count && free; i++) {
            int s = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons((unsigned short)(base + i));
            free = bind(s, (sockaddr *)&a, sizeof a) == 0;
            close(s);
        }
        if (free)
            return base;
    }
    return 0;
}

inline size_t count_of(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

class Console : public ::testing::Test {
protected:
    Pty line;                      /* the serial line */
    Pty keyboard;                  /* the driver's standard input */
    testing_process::Child driver;
    std::string dir;               /* working directory, no "hall_config" */

    void SetUp() override
    {
        ASSERT_TRUE(line.open_pair());
        ASSERT_TRUE(keyboard.open_pair());
        /* a console as an operator has it: line editing and echo */
        struct termios t;
        tcgetattr(keyboard.slave, &t);
        t.c_lflag |= ICANON | ECHO;
        tcsetattr(keyboard.slave, TCSANOW, &t);
        dir = temp_dir();
    }
    void TearDown() override
    {
        testing_process::stop(driver);
        line.close_pair();
        keyboard.close_pair();
        rmdir(dir.c_str());
    }

    /* Start a build of the driver with the test's line and, unless
     * with_keyboard is false (end of input at once), its keyboard. */
    void start(std::vector<std::string> args, bool with_keyboard = true,
               const std::string &program = "boxdriver")
    {
        args.insert(args.begin(), {std::string(HALL_BINARY_DIR) + "/bin/" + program,
                                   "--device", line.path});
        driver = testing_process::start(args, with_keyboard ? keyboard.slave : -1,
                                        dir.c_str());
    }
    std::string out() const { return testing_process::out(driver); }
    std::string err() const { return testing_process::err(driver); }

    /* Wait until the driver has printed `text` at least `times` times. */
    bool wait_output(const std::string &text, size_t times = 1, int timeout_ms = 10000)
    {
        long deadline = now_ms() + timeout_ms;
        while (now_ms() < deadline) {
            if (count_of(out(), text) >= times)
                return true;
            usleep(20000);
        }
        return false;
    }
    void key(char c)
    {
        ASSERT_EQ(write(keyboard.master, &c, 1), 1);
    }
    /* The 60 data bytes of the next whole frame on the line, after
     * passing over the rest of any frame under way: a frame starts with
     * the only 0x84 byte (data bytes are below 0x80). */
    std::vector<unsigned char> next_whole_frame(int timeout_ms = 10000)
    {
        long deadline = now_ms() + timeout_ms;
        while (now_ms() < deadline) {
            auto b = read_bytes(line.master, 1, (int)(deadline - now_ms()));
            if (b.size() == 1 && b[0] == 0x84) {
                auto rest = read_bytes(line.master, 89, (int)(deadline - now_ms()));
                rest.insert(rest.begin(), 0x84);
                return frame_data(rest);
            }
        }
        return {};
    }
    /* The 60 data bytes of the next frame on the line. */
    std::vector<unsigned char> next_frame(int timeout_ms = 10000)
    {
        return frame_data(read_bytes(line.master, 90, timeout_ms));
    }
};

/* Send one frame of 60 bytes from a producer socket to a driver port. */
inline void send_frame(int producer, unsigned short port, const std::vector<unsigned char> &bytes)
{
    testing_udp::send_to(producer, port, bytes.data(), bytes.size());
}

inline std::vector<unsigned char> all(int level)
{
    return std::vector<unsigned char>(60, (unsigned char)level);
}

} // namespace box_test
