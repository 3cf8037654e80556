/* ws_client.h -- a WebSocket client for tests and benchmarks of the web
 * console, on CivetWeb's client side: connect, send text, and wait for
 * what arrives (kept in order) or for the close. */
#pragma once

#include <civetweb.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ws_test {

/* CivetWeb wants its library set up once before any connection. */
inline const unsigned library_ready = mg_init_library(0);

struct message {
    bool binary;
    std::string data;
};

struct client {
    mg_connection *conn = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<message> got;
    bool closed = false;
    std::string error;
    /* Called on the client's own thread for each binary message, before
     * it is kept (the benchmark times arrivals there). */
    std::function<void(const unsigned char *, size_t)> on_binary;
    bool keep_binary = true;

    static int on_data(mg_connection *conn, int bits, char *data, size_t len, void *user)
    {
        client *c = (client *)user;
        int opcode = bits & 0x0f;
        if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE)
            return 0;
        if (opcode == MG_WEBSOCKET_OPCODE_PING) /* as a browser does */
            return mg_websocket_client_write(conn, MG_WEBSOCKET_OPCODE_PONG, data, len) >= 0;
        if (opcode != MG_WEBSOCKET_OPCODE_TEXT && opcode != MG_WEBSOCKET_OPCODE_BINARY)
            return 1;
        bool binary = opcode == MG_WEBSOCKET_OPCODE_BINARY;
        if (binary && c->on_binary)
            c->on_binary((const unsigned char *)data, len);
        if (binary && !c->keep_binary)
            return 1;
        std::lock_guard<std::mutex> g(c->lock);
        c->got.push_back({binary, std::string(data, len)});
        c->changed.notify_all();
        return 1;
    }
    static void on_close(const mg_connection *, void *user)
    {
        client *c = (client *)user;
        std::lock_guard<std::mutex> g(c->lock);
        c->closed = true;
        c->changed.notify_all();
    }

    /* Connect to ws://127.0.0.1:port/ws, naming `origin` when given. */
    bool open(int port, const char *origin = nullptr)
    {
        char err[256] = "";
        conn = mg_connect_websocket_client("127.0.0.1", port, 0, err, sizeof err, "/ws", origin,
                                           on_data, on_close, this);
        error = err;
        return conn != nullptr;
    }
    void close()
    {
        if (conn)
            mg_close_connection(conn);
        conn = nullptr;
    }
    ~client() { close(); }

    bool send(const std::string &text)
    {
        return mg_websocket_client_write(conn, MG_WEBSOCKET_OPCODE_TEXT, text.data(),
                                         text.size()) > 0;
    }

    /* Wait up to timeout_ms for a message (from index `from` on) that
     * satisfies `pred`; its index, or -1. */
    int wait_for(const std::function<bool(const message &)> &pred, int timeout_ms = 5000,
                 size_t from = 0)
    {
        std::unique_lock<std::mutex> l(lock);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            for (size_t i = from; i < got.size(); i++)
                if (pred(got[i]))
                    return (int)i;
            if (changed.wait_until(l, deadline) == std::cv_status::timeout) {
                for (size_t i = from; i < got.size(); i++)
                    if (pred(got[i]))
                        return (int)i;
                return -1;
            }
        }
    }
    /* The first text message holding `text`, from index `from` on. */
    int wait_text(const std::string &text, int timeout_ms = 5000, size_t from = 0)
    {
        return wait_for([&](const message &m) { return !m.binary && m.data.find(text) != std::string::npos; },
                        timeout_ms, from);
    }
    bool wait_closed(int timeout_ms = 5000)
    {
        std::unique_lock<std::mutex> l(lock);
        return changed.wait_for(l, std::chrono::milliseconds(timeout_ms), [this] { return closed; });
    }
    size_t count()
    {
        std::lock_guard<std::mutex> g(lock);
        return got.size();
    }
    message at(size_t i)
    {
        std::lock_guard<std::mutex> g(lock);
        return got[i];
    }
};

} // namespace ws_test
