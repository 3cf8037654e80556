/* web_clients.cpp -- the connected pages and their senders
 * (web_clients.h).
 *
 * State: one record per slot, each with its own lock, and the writer
 * table. The frame loop only copies into slots (a few dozen bytes under a
 * lock that no write is ever made under); each slot's sender thread takes
 * what is waiting and writes it with the lock released. */
#include "hallweb/web_clients.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "hallweb/web_message.h"

namespace {

struct client {
    std::mutex lock;
    std::condition_variable wake;   /* the sender: something to send or stop */
    std::condition_variable idle;   /* detach and reply: a write has ended */
    void *conn = nullptr;           /* null while the slot is free */
    char addr[48] = "";             /* the page's address */
    bool ready = false;             /* the handshake is done */
    bool busy = false;              /* the sender is writing to conn */
    bool failed = false;            /* a write failed: nothing more goes */
    bool detaching = false;
    int view = 0;
    bool may_control = false;
    bool reply_pending = false;
    size_t reply_len = 0;
    char reply[WEB_STATUS_MAX];
    bool status_pending = false;
    size_t status_len = 0;
    char status[WEB_STATUS_MAX];
    bool frame_pending = false;
    unsigned char frame[WEB_FRAME_MESSAGE];
    bool behind = false;            /* the page has not taken what it has: wait for a post */
    double behind_since = 0;        /* ... since when it has been so */
    bool dropped = false;           /* its connection was closed for it */
    std::thread sender;
};

client clients[WEB_MAX_CLIENTS];
std::mutex attach_lock;      /* taking and giving up slots */
std::atomic<bool> stopping{false}; /* the senders are to end */
web_writer writer;

bool has_work(const client &c)
{
    return c.conn && c.ready && !c.failed &&
           (c.reply_pending || (!c.behind && (c.status_pending || c.frame_pending)));
}

double seconds_now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Whether the page has taken what it was sent; one that has not for
 * WEB_PAGE_GONE_SECONDS loses its connection. Under the slot's lock:
 * a quick look at the socket. */
bool keeps_up(client *c)
{
    if (!writer.unsent || writer.unsent(c->conn) <= WEB_UNSENT_MAX) {
        c->behind_since = 0;
        return true;
    }
    double now = seconds_now();
    if (c->behind_since == 0)
        c->behind_since = now;
    else if (now - c->behind_since >= WEB_PAGE_GONE_SECONDS && !c->dropped && writer.drop) {
        c->dropped = true;
        writer.drop(c->conn);
    }
    c->behind = true;
    return false;
}

/* One slot's sender: take the most urgent message (reply, then status,
 * then frame) into its own buffer and write it with the lock released. */
void sender_loop(client *c)
{
    char text[WEB_STATUS_MAX];
    unsigned char frame[WEB_FRAME_MESSAGE];
    std::unique_lock<std::mutex> l(c->lock);
    for (;;) {
        c->wake.wait(l, [c] { return stopping || has_work(*c); });
        if (stopping)
            return;
        bool binary = false;
        size_t len = 0;
        if (c->reply_pending) {
            len = c->reply_len;
            memcpy(text, c->reply, len);
            c->reply_pending = false;
        } else if (!keeps_up(c)) {
            continue; /* the next post looks again */
        } else if (c->status_pending) {
            len = c->status_len;
            memcpy(text, c->status, len);
            c->status_pending = false;
        } else {
            binary = true;
            len = sizeof frame;
            memcpy(frame, c->frame, len);
            c->frame_pending = false;
        }
        void *conn = c->conn;
        c->busy = true;
        l.unlock();
        int r = binary ? writer.binary(conn, frame, len) : writer.text(conn, text, len);
        l.lock();
        c->busy = false;
        if (r < 0)
            c->failed = true;
        c->idle.notify_all();
    }
}

bool valid(int slot)
{
    return slot >= 0 && slot < WEB_MAX_CLIENTS;
}

} // namespace

int web_clients_start(const web_writer *w)
{
    writer = *w;
    stopping = false;
    for (int i = 0; i < WEB_MAX_CLIENTS; i++) {
        try {
            clients[i].sender = std::thread(sender_loop, &clients[i]);
        } catch (const std::system_error &e) {
            fprintf(stderr, "hallweb: starting a sender thread: %s\n", e.what());
            web_clients_stop();
            return -1;
        }
    }
    return 0;
}

void web_clients_stop(void)
{
    stopping = true;
    for (client &c : clients) {
        /* under the lock, so that no sender misses the wake-up */
        std::lock_guard<std::mutex> g(c.lock);
        c.wake.notify_all();
    }
    for (client &c : clients)
        if (c.sender.joinable())
            c.sender.join();
}

int web_clients_attach(void *conn, const char *addr)
{
    std::lock_guard<std::mutex> a(attach_lock);
    int free_slot = -1, same_host = 0;
    for (int i = 0; i < WEB_MAX_CLIENTS; i++) {
        client &c = clients[i];
        std::lock_guard<std::mutex> g(c.lock);
        if (!c.conn && free_slot < 0)
            free_slot = i;
        same_host += c.conn && strcmp(c.addr, addr) == 0;
    }
    if (same_host >= WEB_MAX_PER_HOST)
        return WEB_CLIENTS_HOST_FULL;
    if (free_slot < 0)
        return WEB_CLIENTS_FULL;
    client &c = clients[free_slot];
    std::lock_guard<std::mutex> g(c.lock);
    c.conn = conn;
    snprintf(c.addr, sizeof c.addr, "%s", addr);
    c.ready = c.busy = c.failed = c.detaching = false;
    c.behind = c.dropped = false;
    c.behind_since = 0;
    c.view = 0;
    c.may_control = false;
    c.reply_pending = c.status_pending = c.frame_pending = false;
    return free_slot;
}

void web_clients_ready(int slot, const char *hello, size_t len)
{
    if (!valid(slot))
        return;
    client &c = clients[slot];
    std::lock_guard<std::mutex> g(c.lock);
    if (len > sizeof c.reply)
        len = 0;
    memcpy(c.reply, hello, len);
    c.reply_len = len;
    c.reply_pending = len > 0;
    c.ready = true;
    c.wake.notify_one();
}

void web_clients_detach(int slot)
{
    if (!valid(slot))
        return;
    std::lock_guard<std::mutex> a(attach_lock);
    client &c = clients[slot];
    std::unique_lock<std::mutex> l(c.lock);
    c.detaching = true;
    c.idle.notify_all();                 /* a reply waiting for room gives up */
    c.idle.wait(l, [&c] { return !c.busy; });
    c.conn = nullptr;
    c.ready = false;
    c.reply_pending = c.status_pending = c.frame_pending = false;
}

int web_clients_reply(int slot, const char *text, size_t len)
{
    if (!valid(slot) || len > WEB_STATUS_MAX)
        return -1;
    client &c = clients[slot];
    std::unique_lock<std::mutex> l(c.lock);
    c.idle.wait(l, [&c] { return !c.reply_pending || c.failed || c.detaching || !c.conn; });
    if (c.failed || c.detaching || !c.conn)
        return -1;
    memcpy(c.reply, text, len);
    c.reply_len = len;
    c.reply_pending = true;
    c.wake.notify_one();
    return 0;
}

void web_clients_post_frame(int feed, const unsigned char levels[60])
{
    for (client &c : clients) {
        std::lock_guard<std::mutex> g(c.lock);
        if (!c.conn || !c.ready || c.failed || c.view != feed)
            continue;
        c.frame[0] = (unsigned char)feed;
        memcpy(c.frame + 1, levels, 60);
        c.frame_pending = true;
        c.behind = false;
        c.wake.notify_one();
    }
}

void web_clients_post_status(const char *text, size_t len)
{
    if (len > WEB_STATUS_MAX)
        return;
    for (client &c : clients) {
        std::lock_guard<std::mutex> g(c.lock);
        if (!c.conn || !c.ready || c.failed)
            continue;
        memcpy(c.status, text, len);
        c.status_len = len;
        c.status_pending = true;
        c.behind = false;
        c.wake.notify_one();
    }
}

void web_clients_set_view(int slot, int feed)
{
    if (!valid(slot))
        return;
    std::lock_guard<std::mutex> g(clients[slot].lock);
    clients[slot].view = feed;
}

void web_clients_set_control(int slot, int allowed)
{
    if (!valid(slot))
        return;
    std::lock_guard<std::mutex> g(clients[slot].lock);
    clients[slot].may_control = allowed != 0;
}

int web_clients_may_control(int slot)
{
    if (!valid(slot))
        return 0;
    std::lock_guard<std::mutex> g(clients[slot].lock);
    return clients[slot].may_control;
}

int web_clients_count(void)
{
    int n = 0;
    for (client &c : clients) {
        std::lock_guard<std::mutex> g(c.lock);
        n += c.conn != nullptr;
    }
    return n;
}
