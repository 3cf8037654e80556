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

/* Send the one-byte subscription request "A" from `sock` to the default
 * producer, 127.0.0.1:7878. Always 0; a failed send is ignored. */
int request_subscription(int sock);

/* The same request to a given producer address. Always 0. */
int feed_request_to(int sock, const struct sockaddr_in *producer);

/* Read one datagram: 1 when a frame was stored in values[0..59] (0..255),
 * 0 when nothing was waiting, -1 on an error or a datagram under 60 bytes.
 * A short datagram is said on standard error at most once a second in
 * the whole process ("Small packet of size: N"), the next line counting
 * those not said ("... (and K more not shown)"). */
int read_data_packet(int sock, int values[60]);

#ifdef __cplusplus
}
#endif

#endif
