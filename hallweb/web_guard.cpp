/* web_guard.cpp -- the token's guard per address (web_guard.h).
 *
 * State: a small table of the addresses that tried tokens lately, under
 * one lock (the tries come from the connections' threads, the tick from
 * the frame loop). When the table is full, the address least recently
 * seen gives up its place. */
#include "hallweb/web_guard.h"

#include <stdio.h>
#include <string.h>

#include <mutex>

namespace {

const int MAX_ADDRESSES = 64;

struct tries {
    char addr[48];               /* "" while the place is free */
    double tokens;               /* tries left, refilled with time */
    double seen_at;
    long unlogged;               /* wrong ones since the last line */
    double logged_at;
};

tries table[MAX_ADDRESSES];
std::mutex table_lock;

/* The address's place, taken when it has none. Under the lock. */
tries *place_of(const char *addr, double now)
{
    tries *oldest = &table[0];
    for (tries &t : table) {
        if (t.addr[0] && strcmp(t.addr, addr) == 0)
            return &t;
        if (!t.addr[0] || (oldest->addr[0] && t.seen_at < oldest->seen_at))
            oldest = &t;
    }
    if (oldest->addr[0] && oldest->unlogged > 0)
        fprintf(stderr, "hallweb: %ld more wrong tokens from %s\n", oldest->unlogged,
                oldest->addr);
    *oldest = {};
    snprintf(oldest->addr, sizeof oldest->addr, "%s", addr);
    oldest->tokens = WEB_TOKEN_TRIES_BURST;
    oldest->seen_at = now;
    oldest->logged_at = -1e9;
    return oldest;
}

} // namespace

int web_guard_token_try(const char *addr, double now)
{
    std::lock_guard<std::mutex> g(table_lock);
    tries *t = place_of(addr, now);
    t->tokens += (now - t->seen_at) * WEB_TOKEN_TRIES_PER_SECOND;
    if (t->tokens > WEB_TOKEN_TRIES_BURST)
        t->tokens = WEB_TOKEN_TRIES_BURST;
    t->seen_at = now;
    if (t->tokens < 1)
        return 0;
    t->tokens -= 1;
    return 1;
}

void web_guard_token_wrong(const char *addr, double now)
{
    std::lock_guard<std::mutex> g(table_lock);
    tries *t = place_of(addr, now);
    if (now - t->logged_at < WEB_TOKEN_LOG_SECONDS) {
        t->unlogged++;
        return;
    }
    fprintf(stderr, "hallweb: a wrong token from %s\n", addr);
    t->logged_at = now;
}

void web_guard_tick(double now)
{
    std::lock_guard<std::mutex> g(table_lock);
    for (tries &t : table)
        if (t.addr[0] && t.unlogged > 0 && now - t.logged_at >= WEB_TOKEN_LOG_SECONDS) {
            fprintf(stderr, "hallweb: %ld more wrong tokens from %s in the last minute\n",
                    t.unlogged, t.addr);
            t.unlogged = 0;
            t.logged_at = now;
        }
}
