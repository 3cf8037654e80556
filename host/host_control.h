/* host_control.h -- glimhost's control socket (--control PORT): the
 * show's commands and answer line (wire/show_control.h) on a socket of
 * wire/control_server.h, watched by the main loop. The plug-in is
 * steered through its host API alone; the light delay is the player's. */
#ifndef HOST_HOST_CONTROL_H
#define HOST_HOST_CONTROL_H

#include <stddef.h>

#include "xmms/glim_host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What the answers read and the commands move. */
struct host_control_setup {
    const glim_host_api *api;       /* NULL: the plug-in has none */
    const glim_host_api2 *api2;     /* NULL: version 1 alone, not steered while it runs */
    int fixed_at_start;             /* --pattern gave a version 1 plug-in its pattern */
    long (*callbacks)(void);        /* callbacks made so far */
    int (*delay)(void);             /* the light delay now, ms */
    int (*set_delay)(int ms, char *err, size_t errlen); /* 0, or -1 with a reason */
    int log;                        /* a line on stdout for each command taken */
};

/* Open the socket on 127.0.0.1:port for the loaded plug-in and the
 * player, and watch it from the GLib main loop. 0, or -1 with a one-line
 * reason in err. */
int host_control_start(int port, int fixed_at_start, char *err, size_t errlen);

/* The answer to one datagram (a control_server_answer_fn, its context a
 * const struct host_control_setup *): the command acted on, then the
 * state, with an error field when the command changed nothing. The
 * answer's length, 0 when it does not fit. */
int host_control_answer(void *setup, const void *datagram, size_t len, char *answer,
                        size_t size);

#ifdef __cplusplus
}
#endif

#endif
