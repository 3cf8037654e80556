/* dmx_loop.cpp -- the wait of the DMX programs' loops (dmx_loop.h). */
#include "dmx/dmx_loop.h"

#include <string.h>
#include <time.h>

#include "loop/loop.h"

extern "C" int dmx_loop_wait(struct pollfd *fds, int nfds, double seconds)
{
    /* the floor's descriptor turns readable once a stop signal has come,
     * so one arriving just before the wait still ends it */
    struct pollfd all[DMX_LOOP_MAX_FDS + 1];
    memcpy(all, fds, (size_t)nfds * sizeof *fds);
    all[nfds] = {loop_signal_fd(), POLLIN, 0};
    struct timeval left = loop_timeval_until(seconds, 0);
    struct timespec wait = {left.tv_sec, left.tv_usec * 1000L};
    int n = ppoll(all, (nfds_t)nfds + 1, &wait, nullptr);
    if (loop_stop_signal())
        return -1;
    for (int i = 0; i < nfds; i++)
        fds[i].revents = n < 0 ? 0 : all[i].revents; /* EINTR from another signal: none */
    return n < 0 ? 0 : n;
}
