/* dmx_loop.h -- the part of the main loop dmxout and dmxin share: SIGINT
 * and SIGTERM end it cleanly, and the wait on descriptors with a deadline
 * that such a signal always cuts short (no race between a check of the
 * flag and the wait). */
#ifndef DMX_DMX_LOOP_H
#define DMX_DMX_LOOP_H

#include <poll.h>

#ifdef __cplusplus
extern "C" {
#endif

/* From now on SIGINT and SIGTERM only ask the loop to stop (they are held
 * back outside dmx_loop_wait); SIGPIPE is ignored, so that a write to an
 * olad that has gone away fails instead of ending the program. */
void dmx_loop_catch_signals(void);

/* Wait up to `seconds` for any of fds to be ready (ppoll). The number
 * ready, 0 at the deadline, -1 when a stop was asked for. */
int dmx_loop_wait(struct pollfd *fds, int nfds, double seconds);

/* 1 once SIGINT or SIGTERM came; the name of the signal in *name. */
int dmx_loop_stopping(const char **name);

#ifdef __cplusplus
}
#endif

#endif
