/* drvctl.h -- what the box driver's control socket (boxdriver --control
 * PORT, a wire/control_server.h socket) does with a datagram: a single
 * known key (wire/control.h) acts as typed at the console, and the answer
 * is the driver's state, one line of JSON. The console hands it its key
 * function and a function that describes its state. */
#ifndef BOXDRIVER_DRVCTL_H
#define BOXDRIVER_DRVCTL_H

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

/* The control server's answer function (control_server_answer_fn), its
 * context a const struct drvctl_hooks *: a single known key other than
 * "?" goes to hooks->key, then the state line is written into answer. Its
 * length (0 when it does not fit), or -1 when the key's action returned
 * -1. */
int drvctl_answer(void *hooks, const void *datagram, size_t len, char *answer, size_t size);

#endif
