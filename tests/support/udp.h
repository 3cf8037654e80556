/* udp.h -- small UDP helpers for tests on 127.0.0.1. */
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_udp {

/* A UDP socket bound to `address` (host order) and `port`; -1 when the
 * bind fails. */
inline int bind_socket(uint32_t address, unsigned short port)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    if (bind(s, (sockaddr *)&a, sizeof a) < 0) {
        close(s);
        return -1;
    }
    return s;
}

/* A UDP socket bound to 127.0.0.1 on `port` (0 picks a free one). */
inline int open_socket(unsigned short port = 0)
{
    return bind_socket(INADDR_LOOPBACK, port);
}

/* A UDP socket bound to every address on `port`, so that a program's own
 * bind of that port (to INADDR_ANY) fails; -1 when the port is taken. */
inline int hold_port(unsigned short port)
{
    return bind_socket(INADDR_ANY, port);
}

/* The local port a socket is bound to. */
inline unsigned short local_port(int s)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(s, (sockaddr *)&a, &len);
    return ntohs(a.sin_port);
}

/* A port that was free a moment ago (bind 0, read it, close). */
inline unsigned short free_port()
{
    int s = open_socket(0);
    unsigned short p = local_port(s);
    close(s);
    return p;
}

inline ssize_t send_to(int s, unsigned short port, const void *data, size_t n)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return sendto(s, data, n, 0, (sockaddr *)&a, sizeof a);
}

/* Wait up to timeout_ms for one datagram; its bytes, or an empty vector
 * with *got = false when none came. */
inline std::vector<unsigned char> receive(int s, int timeout_ms, bool *got = nullptr,
                                          unsigned short *from_port = nullptr)
{
    pollfd p{s, POLLIN, 0};
    std::vector<unsigned char> out;
    if (got)
        *got = false;
    if (poll(&p, 1, timeout_ms) <= 0)
        return out;
    unsigned char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(s, buf, sizeof buf, 0, (sockaddr *)&from, &len);
    if (n < 0)
        return out;
    if (got)
        *got = true;
    if (from_port)
        *from_port = ntohs(from.sin_port);
    out.assign(buf, buf + n);
    return out;
}

/* Throw away every datagram waiting on s; how many there were. */
inline int drain(int s)
{
    int n = 0;
    bool got = true;
    while (got) {
        receive(s, 0, &got);
        n += got;
    }
    return n;
}

} // namespace testing_udp
