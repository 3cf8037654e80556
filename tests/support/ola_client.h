/* ola_client.h -- a plain OLA client for tests and benchmarks: it
 * registers on universes of an olad (see olad.h) and records every DMX
 * frame olad passes on, or sends DMX like a lighting console. Straight on
 * OLA's client library, without our programs' code, so that it checks
 * them from outside. Single-threaded: pump() serves the connection. */
#pragma once

#include <poll.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <vector>

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/OlaClient.h>
#include <ola/network/IPV4Address.h>
#include <ola/network/SocketAddress.h>
#include <ola/network/TCPSocket.h>

namespace testing_ola {

struct Frame {
    double t;                  /* seconds on the monotonic clock */
    unsigned universe;
    std::vector<uint8_t> data; /* the slots, slot 0 being address 1 */
};

struct Client {
    ola::network::TCPSocket *sock = nullptr;
    ola::client::OlaClient *client = nullptr;
    std::vector<Frame> frames; /* every frame received, in order */
    int registered = 0;        /* registrations olad has confirmed */
    bool closed = false;       /* olad closed the connection */
};

inline double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

inline void on_dmx(Client *c, const ola::client::DMXMetadata &meta, const ola::DmxBuffer &data)
{
    c->frames.push_back({now(), meta.universe,
                         std::vector<uint8_t>(data.GetRaw(), data.GetRaw() + data.Size())});
}

inline void on_registered(Client *c, const ola::client::Result &r)
{
    if (r.Success())
        c->registered++;
}

inline void close(Client &c)
{
    if (c.client) {
        c.client->Stop();
        delete c.client;
        c.client = nullptr;
    }
    if (c.sock) {
        c.sock->Close();
        delete c.sock;
        c.sock = nullptr;
    }
}

/* Connect to olad's RPC port; false when nothing answers there. */
inline bool connect(Client &c, unsigned short port)
{
    close(c);
    c.closed = false;
    c.sock = ola::network::TCPSocket::Connect(
        ola::network::IPV4SocketAddress(ola::network::IPV4Address::Loopback(), port));
    if (!c.sock)
        return false;
    c.sock->SetNoDelay();
    c.client = new ola::client::OlaClient(c.sock);
    if (!c.client->Setup()) {
        close(c);
        return false;
    }
    c.client->SetDMXCallback(ola::NewCallback(on_dmx, &c));
    return true;
}

/* Serve the connection for up to ms milliseconds, or until done() holds. */
inline void pump(Client &c, int ms, const std::function<bool()> &done = nullptr)
{
    double end = now() + ms / 1000.0;
    while (c.sock && !c.closed && !(done && done())) {
        double left = end - now();
        if (left <= 0)
            break;
        pollfd p{c.sock->ReadDescriptor(), POLLIN, 0};
        if (poll(&p, 1, (int)(left * 1000) + 1) > 0) {
            if (c.sock->IsClosed())
                c.closed = true;
            else
                c.sock->PerformRead();
        }
    }
}

/* Register for a universe's DMX and wait for olad to confirm it. */
inline bool listen(Client &c, unsigned universe, int timeout_ms = 10000)
{
    if (!c.client)
        return false;
    int before = c.registered;
    c.client->RegisterUniverse(universe, ola::client::REGISTER,
                               ola::NewSingleCallback(on_registered, &c));
    pump(c, timeout_ms, [&] { return c.registered > before; });
    return c.registered > before;
}

/* Send DMX to a universe, as a console would. */
inline void send(Client &c, unsigned universe, const std::vector<uint8_t> &slots)
{
    ola::DmxBuffer b(slots.data(), (unsigned)slots.size());
    c.client->SendDMX(universe, b, ola::client::SendDMXArgs());
}

/* Serve the connection until a frame satisfies `match` (searching from
 * frame `from` on) or timeout_ms passes; its index, or -1. */
inline long wait_frame(Client &c, const std::function<bool(const Frame &)> &match,
                       int timeout_ms, size_t from = 0)
{
    long found = -1;
    size_t seen = from;
    auto look = [&] {
        for (; found < 0 && seen < c.frames.size(); seen++)
            if (match(c.frames[seen]))
                found = (long)seen;
        return found >= 0;
    };
    if (!look())
        pump(c, timeout_ms, look);
    return found;
}

} // namespace testing_ola
