/* web_clients.h -- the pages connected over WebSocket, at most
 * WEB_MAX_CLIENTS, and what is waiting to be sent to each.
 *
 * Every client has one slot per kind of message: a reply, the status and
 * a frame. Posting a status or a frame overwrites what is still unsent, so
 * a slow page gets the newest when it is ready and nothing ever queues up;
 * only replies are never overwritten (a second reply waits for the first
 * to go). Each slot has a sender thread of its own, started once, so that
 * a page that reads slowly holds up nobody but itself. The actual writes
 * go through a table of functions given at start.
 *
 * A page that stops reading (a phone gone to sleep) would otherwise have
 * its connection fill with minutes of old frames: while more than
 * WEB_UNSENT_MAX bytes written to it wait unread, its frames and status
 * are held back (the newest goes once it reads again), and after
 * WEB_PAGE_GONE_SECONDS of that its connection is closed, freeing its
 * slot (the page connects again by itself when it wakes). */
#ifndef HALLWEB_WEB_CLIENTS_H
#define HALLWEB_WEB_CLIENTS_H

#include <stddef.h>

#define WEB_MAX_CLIENTS 32
#define WEB_MAX_PER_HOST 8       /* so that one host cannot take every slot */
#define WEB_CLIENTS_FULL (-1)
#define WEB_CLIENTS_HOST_FULL (-2)

#define WEB_UNSENT_MAX 4096
#define WEB_PAGE_GONE_SECONDS 10.0

/* How a message reaches a connection: 0 when it was sent whole, -1 when
 * the connection is gone (nothing more is sent to it). `unsent` tells the
 * bytes written that the page has not taken yet (0 when unknown), `drop`
 * closes a connection whose page takes nothing; either may be NULL. */
struct web_writer {
    int (*text)(void *conn, const char *text, size_t len);
    int (*binary)(void *conn, const unsigned char *bytes, size_t len);
    long (*unsent)(void *conn);
    void (*drop)(void *conn);
};

/* Start the senders, writing through `writer` (kept). 0, or -1 after a
 * message when a thread cannot be started. */
int web_clients_start(const struct web_writer *writer);

/* Stop and join the senders; every slot must be detached first. */
void web_clients_stop(void);

/* Take a free slot for a new connection from address `addr` (text, kept
 * up to 47 bytes); nothing is sent to it yet. The slot, WEB_CLIENTS_FULL
 * when all WEB_MAX_CLIENTS are taken, or WEB_CLIENTS_HOST_FULL when
 * WEB_MAX_PER_HOST of them are that address's. */
int web_clients_attach(void *conn, const char *addr);

/* The connection is ready: `hello` (len bytes) goes first, then whatever
 * is posted from now on. */
void web_clients_ready(int slot, const char *hello, size_t len);

/* Give the slot up. Returns once its sender no longer uses the connection. */
void web_clients_detach(int slot);

/* Queue a reply for one client, waiting while its previous reply is
 * unsent. 0, or -1 when the connection failed or is being detached. */
int web_clients_reply(int slot, const char *text, size_t len);

/* The newest frame of `feed`: its index byte and 60 levels, to every
 * ready client viewing that feed. */
void web_clients_post_frame(int feed, const unsigned char levels[60]);

/* The newest status, to every ready client. len at most WEB_STATUS_MAX. */
void web_clients_post_status(const char *text, size_t len);

/* Which feed a client views (0 at first). */
void web_clients_set_view(int slot, int feed);

/* Whether a client may use the controls (no at first). */
void web_clients_set_control(int slot, int allowed);
int web_clients_may_control(int slot);

/* How many slots are taken. */
int web_clients_count(void);

#endif
