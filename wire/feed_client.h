/* feed_client.h -- the consumer side of the frame feed: open a UDP socket
 * of one's own, subscribe it to a producer's network light server, and
 * read the 60-byte frame datagrams that arrive. The layer under the
 * subscription record (feed_sub.h), and the game's paddle sockets. */
#ifndef WIRE_FEED_CLIENT_H
#define WIRE_FEED_CLIENT_H

#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A new blocking UDP socket bound to any local address and the low 16
 * bits of `port`; -1 (with a message) when it cannot be created or bound. */
int open_udp_server(int port);

/* Send the one-byte subscription request "A" from `sock` to the process's
 * default target (feed_set_target). Always 0; a failed send is ignored. */
int request_subscription(int sock);

/* The same request to a given producer address. Always 0. */
int feed_request_to(int sock, const struct sockaddr_in *producer);

/* Read one datagram: 1 when a frame was stored in values[0..59] (0..255),
 * 0 when nothing was waiting, -1 on an error or a datagram under 60 bytes. */
int read_data_packet(int sock, int values[60]);

/* Set the default target of request_subscription: dotted-decimal IPv4
 * host text and server port. Returns 0, or -1 (target unchanged) when the
 * host is not a dotted-decimal address. The default is 127.0.0.1:7878.
 * Consumers keep their own target in a feed_sub record instead. */
int feed_set_target(const char *host, unsigned short port);

/* The default target's host text and port. */
const char *feed_target_host(void);
unsigned short feed_target_port(void);

#ifdef __cplusplus
}
#endif

#endif
