/* feed_sub.h -- one subscription to a producer's light feed: the socket
 * it arrives on, the producer it is asked from, and the rhythm of its
 * renewals. A consumer keeps one record per feed it watches and passes it
 * to every call; nothing here is process-wide. Built on the feed client's
 * open_udp_server, request_subscription and read_data_packet, whose
 * messages it keeps. */
#ifndef WIRE_FEED_SUB_H
#define WIRE_FEED_SUB_H

#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

struct feed_sub {
    int sock;                  /* non-blocking receiving socket, -1 when closed */
    unsigned short local_port; /* the port it is bound to */
    struct sockaddr_in target; /* the producer's server address */
    char host[16];             /* ... as dotted-decimal text */
    unsigned short port;       /* ... and its port */
    unsigned turns;            /* loop turns since the last request */
    double requested_at;       /* loop_now() of the last request */
    double frame_at;           /* loop_now() of the newest frame, 0 before any */
    long frames;               /* frames read since it was opened */
};

/* A feed is live while its newest frame is at most this old. */
#define FEED_LIVE_SECONDS 1.0

/* A closed record aimed at the default producer (127.0.0.1:7878). */
void feed_sub_init(struct feed_sub *s);

/* Aim at a producer: dotted-decimal IPv4 host text and server port. 0, or
 * -1 (target unchanged) when the host is not such an address. Takes
 * effect with the next request. */
int feed_sub_set_target(struct feed_sub *s, const char *host, unsigned short port);

/* Open the receiving socket on the first port of first..last that binds
 * (0..0: any free port), non-blocking, with the counters reset. Each port
 * that does not bind is reported by open_udp_server. The bound port, or
 * -1 when none of them bound (the record stays closed). A socket already
 * open is closed first. */
int feed_sub_open(struct feed_sub *s, int first, int last);

/* Ask the producer for frames now; starts the renewal rhythm again. The
 * socket is connected to the producer, so that frames from anyone else
 * are dropped unread. */
void feed_sub_request(struct feed_sub *s);

/* Count one turn of the consumer's loop and renew when it is due: every
 * WIRE_RENEW_TURNS turns and at least every WIRE_RENEW_SECONDS, or every
 * WIRE_RENEW_QUIET_SECONDS while the feed is not live. 1 when it renewed,
 * 0 otherwise. */
int feed_sub_turn(struct feed_sub *s);

/* Read one datagram into values: as read_data_packet (1 a frame, 0
 * nothing waiting, -1 a short datagram or an error, values untouched). */
int feed_sub_read(struct feed_sub *s, int values[60]);

/* Take what is waiting, up to `limit` datagrams (at least one), and
 * leave the newest frame in values, so that a consumer slower than its
 * producer shows the present rather than a queue. The bound keeps a
 * flood from holding the consumer's loop. The number of frames read (0
 * when none came; short datagrams and errors are reported and passed
 * over). */
int feed_sub_read_newest(struct feed_sub *s, int values[60], int limit);

/* 1 while frames arrive: the newest came less than FEED_LIVE_SECONDS
 * before now (loop_now seconds); 0 before the first. */
int feed_sub_live(const struct feed_sub *s, double now);

/* Close the socket; the target stays. */
void feed_sub_close(struct feed_sub *s);

#ifdef __cplusplus
}
#endif

#endif
