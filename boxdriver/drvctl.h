/* drvctl.h -- the box driver's control socket (boxdriver --control
 * PORT): a UDP socket on 127.0.0.1 that takes the console's own keys as
 * one-byte datagrams and answers every datagram from 127.0.0.1 with the
 * driver's state, one line of JSON (wire/control.h). The console hands
 * it its key function and a function that describes its state. */
#ifndef BOXDRIVER_DRVCTL_H
#define BOXDRIVER_DRVCTL_H

#include <netinet/in.h>
#include <stddef.h>

#include "wire/control.h"

/* What the socket needs from the console. */
struct drvctl_hooks {
    /* Act on a key exactly as typed at the console: 0, or -1 when the
     * driver cannot go on. */
    int (*key)(unsigned char key);
    /* Fill in the state the answers describe. */
    void (*describe)(struct control_state *out);
};

/* Open the socket on 127.0.0.1:port, non-blocking. Its descriptor, or -1
 * after a message naming the failing call. */
int drvctl_open(int port);

/* The socket's descriptor, -1 while there is none. */
int drvctl_fd(void);

/* Take the datagrams waiting on the socket (a bounded number a turn) and
 * act on each as control_take says, sending the answers. 0, or -1 when a
 * key's action returned -1. */
int drvctl_turn(const struct drvctl_hooks *hooks);

/* One datagram from `from`: ignored unless it comes from 127.0.0.1;
 * then a single known key (wire/control.h) goes to hooks->key, and the
 * answer line is written into answer (its length in *answer_len, 0 when
 * there is none). 0, or -1 as for control_turn. */
int drvctl_take(const void *datagram, size_t len, const struct sockaddr_in *from,
                 const struct drvctl_hooks *hooks, char *answer, size_t size,
                 int *answer_len);

#endif
