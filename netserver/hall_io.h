/* hall_io.h -- the datagram calls the light server makes, as pointers a
 * fuzz target may aim at an in-process source instead of the kernel.
 * Internal to the server: hidden, so a shared object that carries the
 * server (the plug-in) does not export them. */
#ifndef NETSERVER_HALL_IO_H
#define NETSERVER_HALL_IO_H

#include <sys/socket.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef ssize_t hall_recvfrom_fn(int sock, void *buf, size_t len, int flags,
                                 struct sockaddr *from, socklen_t *from_len);
typedef ssize_t hall_sendto_fn(int sock, const void *buf, size_t len, int flags,
                               const struct sockaddr *to, socklen_t to_len);

/* recvfrom and sendto unless replaced. */
extern __attribute__((visibility("hidden"))) hall_recvfrom_fn *hall_recvfrom;
extern __attribute__((visibility("hidden"))) hall_sendto_fn *hall_sendto;

#ifdef __cplusplus
}
#endif

#endif
