/* dmx_loop.h -- the wait of dmxout's and dmxin's loops: descriptors and a
 * deadline, cut short by the stop signals of the loop floor (loop/loop.h:
 * loop_catch_signals first), with no race between a check of the signal
 * and the wait. */
#ifndef DMX_DMX_LOOP_H
#define DMX_DMX_LOOP_H

#include <poll.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Most descriptors one wait takes. */
#define DMX_LOOP_MAX_FDS 4

/* Wait up to `seconds` for any of fds to be ready. The number ready, 0 at
 * the deadline, -1 once a stop signal came. */
int dmx_loop_wait(struct pollfd *fds, int nfds, double seconds);

#ifdef __cplusplus
}
#endif

#endif
