/* ola_link.h -- one connection to the OLA daemon (olad) on this machine:
 * connect to its RPC port, send DMX to a universe, receive a universe's
 * DMX, notice when olad goes away and connect again. The record is the
 * whole state, passed to every call; OLA's client classes stay inside
 * ola_link.cpp. Every call returns at once: the caller's own loop waits
 * on ola_link_fd.
 *
 * Frames in hand: olad answers every frame it has taken, and the link
 * keeps at most OLA_LINK_IN_FLIGHT frames unanswered, so that a daemon
 * that stops reading never sees its connection fill (OLA's client cuts a
 * message short on a full socket, and the stream is corrupt from there).
 * The caller keeps its newest frame meanwhile and drops the older ones. */
#ifndef DMX_OLA_LINK_H
#define DMX_OLA_LINK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Called for each DMX frame olad passes on for the listened universe:
 * `count` slots, slot 0 being address 1. */
typedef void (*ola_link_dmx_fn)(void *user, const unsigned char *slots, int count);

struct ola_link_conn; /* OLA's socket and client while connected */

/* Frames olad may have in hand at once on a connection that has
 * answered: one being applied while the next is under way. A connection
 * that has not answered yet gets one. */
#define OLA_LINK_IN_FLIGHT 2

struct ola_link {
    const char *who;             /* program name heading messages */
    unsigned short port;         /* olad's RPC port on 127.0.0.1 */
    struct ola_link_conn *conn;  /* NULL while not connected */
    long listen_universe;        /* -1: none */
    ola_link_dmx_fn on_dmx;
    void *user;
    int in_flight;               /* frames sent that olad has not answered */
    double sent_at[OLA_LINK_IN_FLIGHT]; /* when each went (loop_now), oldest first */
    long answers;                /* frames olad answered on this connection */
    int refusing;                /* olad's last answer refused the frame: said so */
    int sending;                 /* inside ola_link_send (an answer now means a broken link) */
    int broken;                  /* OLA's client gave up on the connection */
};

/* A closed link to olad on `port`. */
void ola_link_init(struct ola_link *l, const char *who, unsigned short port);

/* Connect (a connection already open is closed first) and register for
 * the listened universe, if any. Never waits more than a few
 * milliseconds: an olad that is stopped with its queue of new
 * connections full takes none. 0, or -1 with the system's reason
 * ("Connection refused") in err. */
int ola_link_connect(struct ola_link *l, char *err, size_t errlen);

/* Receive the DMX of `universe` through fn: registers now when
 * connected, and again on every connection after. fn is first called
 * with what the universe holds at registering, if anything. */
void ola_link_listen(struct ola_link *l, long universe, ola_link_dmx_fn fn, void *user);

/* The descriptor to wait on for reading, -1 while not connected. */
int ola_link_fd(const struct ola_link *l);

/* Take in what olad sent; call when ola_link_fd is readable. 0, or -1
 * when olad closed the connection (the link is closed then). */
int ola_link_service(struct ola_link *l);

/* 1 when a frame may go now: connected, and fewer frames in olad's hand
 * than the connection is allowed. */
int ola_link_ready(const struct ola_link *l);

/* Send `count` slots (1..512) to `universe`, without waiting for the
 * answer (ola_link_service takes it). 0; -1 when not ready, or when OLA's
 * client could not send it (the link is closed then). A refusal in
 * olad's answer ("Universe doesn't exist") is said once on stderr, and
 * once more when frames are taken again. */
int ola_link_send(struct ola_link *l, long universe, const unsigned char *slots, int count);

/* When the oldest frame olad has not answered went (loop_now seconds),
 * 0 when none waits: a connection olad leaves unanswered for long is
 * stuck, and only a new one gets going again. */
double ola_link_waiting_since(const struct ola_link *l);

/* Serve the connection until olad has answered every frame sent, for at
 * most `seconds`: before closing, so that the last frames are applied. */
void ola_link_drain(struct ola_link *l, double seconds);

/* Send as ola_link_send, then wait up to `seconds` for olad to answer
 * that it took the frame in: for the last frame before closing, which
 * olad may drop unread when the connection's end comes with it. 0, or -1
 * when not connected, refused or not answered in time. */
int ola_link_send_and_wait(struct ola_link *l, long universe, const unsigned char *slots,
                           int count, double seconds);

/* The one line a program prints when olad cannot be reached at start:
 * the port, the reason from ola_link_connect, and how to start olad. */
void ola_link_report_unreachable(const struct ola_link *l, const char *why);

/* Close the connection, if any; what is to be listened to stays. Frames
 * still in olad's hand are given up (OLA's client keeps a little memory
 * for each such frame that it never frees: close a stuck connection
 * seldom). */
void ola_link_close(struct ola_link *l);

#ifdef __cplusplus
}
#endif

#endif
