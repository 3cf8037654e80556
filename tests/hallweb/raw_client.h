/* raw_client.h -- HTTP and WebSocket by hand, from any address of
 * 127.0.0.0/8 to the console on 127.0.0.1, for what no browser sends:
 * dawdling headers, frames that lie about their length, pages that never
 * read. Shared with the benchmark. */
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace raw_test {

/* A TCP connection from `from` (host order) to 127.0.0.1:port, or -1. */
inline int connect_from(uint32_t from, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{}, to{};
    a.sin_family = to.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(from);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons((uint16_t)port);
    if (bind(fd, (sockaddr *)&a, sizeof a) != 0 || connect(fd, (sockaddr *)&to, sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool send_all(int fd, const std::string &bytes)
{
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t)bytes.size();
}

/* A GET of `path` naming `host` (no Host when empty); a WebSocket
 * handshake when `upgrade`. */
inline bool send_request(int fd, const std::string &path, const std::string &host, bool upgrade)
{
    return send_all(fd, "GET " + path + " HTTP/1.1\r\n" +
                            (host.empty() ? "" : "Host: " + host + "\r\n") +
                            (upgrade ? "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                                       "Sec-WebSocket-Version: 13\r\n"
                                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                     : "") +
                            "\r\n");
}

/* Up to n bytes within timeout_ms each; fewer when the connection ends. */
inline std::string read_n(int fd, size_t n, int timeout_ms)
{
    std::string out;
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    ssize_t got = 1;
    while (out.size() < n && got > 0 && poll(&p, 1, timeout_ms) > 0)
        if ((got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0)) > 0)
            out.append(buf, (size_t)got);
    return out;
}

/* Whether the server ends the connection within timeout_ms, whatever it
 * sends first. */
inline bool ended(int fd, int timeout_ms)
{
    char buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0)
        if (recv(fd, buf, sizeof buf, 0) <= 0)
            return true;
    return false;
}

/* The status code of the response head read now; -1 without one. */
inline int read_status(int fd, int timeout_ms = 5000)
{
    std::string head, c;
    while (head.find("\r\n\r\n") == std::string::npos && !(c = read_n(fd, 1, timeout_ms)).empty())
        head += c;
    return head.compare(0, 9, "HTTP/1.1 ") == 0 ? atoi(head.c_str() + 9) : -1;
}

/* A masked frame: first byte `bits` (FIN, opcode), declaring `declared`
 * bytes, carrying `data`. */
inline bool send_frame(int fd, int bits, const std::string &data, uint64_t declared)
{
    std::string f(1, (char)bits);
    f += (char)(0x80 | (declared < 126 ? declared : 127));
    for (int i = 7; declared >= 126 && i >= 0; i--)
        f += (char)(declared >> (8 * i));
    const char mask[4] = {0x11, 0x22, 0x33, 0x44};
    f.append(mask, 4);
    for (size_t i = 0; i < data.size(); i++)
        f += (char)(data[i] ^ mask[i & 3]);
    return send_all(fd, f);
}

struct frame {
    int opcode = -1; /* -1: none came */
    std::string data;
};

/* The server's frames, within timeout_ms in all, until one that is not
 * text, or text holding `text` (any, when ""; none, when null). Pings are
 * answered and passed over, as a browser does. */
inline frame read_frame(int fd, const char *text = "", int timeout_ms = 5000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (frame f; std::chrono::steady_clock::now() < end; f = frame()) {
        std::string h = read_n(fd, 2, timeout_ms);
        uint64_t len = h.size() < 2 ? 0 : h[1] & 0x7f;
        if (len >= 126) {
            std::string ext = read_n(fd, len == 126 ? 2 : 8, timeout_ms);
            len = 0;
            for (unsigned char c : ext)
                len = len << 8 | c;
        }
        if (h.size() < 2 || (f.data = read_n(fd, (size_t)len, timeout_ms)).size() < len)
            return f;
        f.opcode = h[0] & 0x0f;
        if (f.opcode == 0x9)
            send_frame(fd, 0x8a, f.data, f.data.size());
        else if (f.opcode != 0x1 || (text && f.data.find(text) != std::string::npos))
            return f;
    }
    return frame();
}

} // namespace raw_test
