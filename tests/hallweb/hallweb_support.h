/* hallweb_support.h -- running the web console from a test: started on a
 * free port with producers of the test's own, its port read back from
 * what it prints. */
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/udp.h"

namespace web_test {

inline std::string program()
{
    return std::string(HALL_BINARY_DIR) + "/bin/hallweb";
}

/* A producer socket of the test's own: it learns the console's feed port
 * from the subscription request and sends frames there. */
struct producer {
    int sock = testing_udp::open_socket(0);
    unsigned short port = testing_udp::local_port(sock);
    unsigned short subscriber = 0;

    ~producer() { close(sock); }
    /* Wait for the console's request; false when none came. */
    bool wait_subscribed(int timeout_ms = 5000)
    {
        bool got = false;
        testing_udp::receive(sock, timeout_ms, &got, &subscriber);
        return got;
    }
    void send(const std::vector<unsigned char> &frame)
    {
        testing_udp::send_to(sock, subscriber, frame.data(), frame.size());
    }
};

/* The console as a process: start it with the given options on a free
 * port of 127.0.0.1 (unless args name --listen) and learn its port. */
struct console {
    testing_process::Child child;
    int port = -1;

    bool start(std::vector<std::string> args)
    {
        bool listen = false;
        for (auto &a : args)
            listen |= a == "--listen";
        if (!listen)
            args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
        args.insert(args.begin(), program());
        child = testing_process::start(args);
        if (!testing_process::wait_for_output(child, "hallweb: serving http://", 10000))
            return false;
        std::string out = testing_process::out(child);
        size_t at = out.find("hallweb: serving http://");
        size_t colon = out.find(':', at + 24);
        port = atoi(out.c_str() + colon + 1);
        return port > 0;
    }
    ~console() { testing_process::stop(child); }
    std::string out() const { return testing_process::out(child); }
    std::string err() const { return testing_process::err(child); }
};

/* A frame whose bytes count up from `first`. */
inline std::vector<unsigned char> counting_frame(int first)
{
    std::vector<unsigned char> f(60);
    for (int i = 0; i < 60; i++)
        f[i] = (unsigned char)((first + i) & 0xff);
    return f;
}

/* The binary message of a frame: feed index, then the 60 levels. */
inline std::string frame_message(int feed, const std::vector<unsigned char> &levels)
{
    std::string m(1, (char)feed);
    m.append(levels.begin(), levels.end());
    return m;
}

} // namespace web_test
