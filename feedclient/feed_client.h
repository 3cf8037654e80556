/* feed_client.h -- the consumer side of the frame feed: open a UDP socket
 * of one's own, subscribe it to a producer's network light server, and
 * read the 60-byte frame datagrams that arrive. Shared by every consumer
 * (box driver, simulator, terminal view) and by the game's paddle sockets. */
#ifndef FEEDCLIENT_FEED_CLIENT_H
#define FEEDCLIENT_FEED_CLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

/* A new blocking UDP socket bound to any local address and the low 16
 * bits of `port`; -1 (with a message) when it cannot be created or bound. */
int open_udp_server(int port);

/* Send the one-byte subscription request "A" from `sock` to the current
 * target. Always 0; a failed send is ignored. */
int request_subscription(int sock);

/* Read one datagram: 1 when a frame was stored in values[0..59] (0..255),
 * 0 when nothing was waiting, -1 on an error or a datagram under 60 bytes. */
int read_data_packet(int sock, int values[60]);

/* Set the producer that request_subscription targets: dotted-decimal IPv4
 * host text and server port. Returns 0, or -1 (target unchanged) when the
 * host is not a dotted-decimal address. The default is 127.0.0.1:7878. */
int feed_set_target(const char *host, unsigned short port);

/* The current target's host text and port. */
const char *feed_target_host(void);
unsigned short feed_target_port(void);

#ifdef __cplusplus
}
#endif

#endif
