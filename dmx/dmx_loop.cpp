/* dmx_loop.cpp -- signals and the wait of the DMX programs' loops. */
#include "dmx/dmx_loop.h"

#include <signal.h>
#include <string.h>
#include <time.h>

namespace {

volatile sig_atomic_t stop_signal = 0; /* the signal that asked to stop, 0 none */
sigset_t open_mask;                    /* the mask while waiting: stop signals let in */

void on_stop(int sig)
{
    stop_signal = sig;
}

} // namespace

extern "C" {

void dmx_loop_catch_signals(void)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigprocmask(SIG_BLOCK, &stops, &open_mask);
    sigdelset(&open_mask, SIGINT);
    sigdelset(&open_mask, SIGTERM);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int dmx_loop_wait(struct pollfd *fds, int nfds, double seconds)
{
    if (stop_signal)
        return -1;
    if (seconds < 0)
        seconds = 0;
    struct timespec ts;
    ts.tv_sec = (time_t)seconds;
    ts.tv_nsec = (long)((seconds - (double)ts.tv_sec) * 1e9);
    int n = ppoll(fds, (nfds_t)nfds, &ts, &open_mask);
    if (stop_signal)
        return -1;
    if (n < 0) {
        for (int i = 0; i < nfds; i++)
            fds[i].revents = 0;
        return 0; /* EINTR from another signal: go round again */
    }
    return n;
}

int dmx_loop_stopping(const char **name)
{
    if (name)
        *name = stop_signal == SIGINT ? "SIGINT" : "SIGTERM";
    return stop_signal != 0;
}

} // extern "C"
