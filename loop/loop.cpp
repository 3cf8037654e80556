/* loop.cpp -- the monotonic clock, the stop signals and the timer helpers
 * every program's loop uses. State: the signal that came, and a pipe whose
 * read end turns readable when it did (the handler writes one byte). */
#include "loop/loop.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t stop_signal = 0; /* the signal that asked to stop */
int wake_pipe[2] = {-1, -1};           /* read end readable once one came */

void on_stop(int sig)
{
    int saved = errno;
    if (!stop_signal)
        stop_signal = sig;
    if (wake_pipe[1] >= 0 && write(wake_pipe[1], "s", 1) < 0) {
        /* the pipe is full: it is readable already */
    }
    errno = saved;
}

int catch_one(int sig)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; /* no SA_RESTART: a wait under way returns */
    if (sigaction(sig, &sa, nullptr) != 0) {
        perror("sigaction");
        return -1;
    }
    return 0;
}

} // namespace

extern "C" {

long long loop_now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

double loop_now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

int loop_catch_signals(unsigned flags)
{
    if (wake_pipe[0] < 0) {
        if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            perror("pipe2");
            return -1;
        }
    }
    if (catch_one(SIGINT) != 0 || catch_one(SIGTERM) != 0)
        return -1;
    if ((flags & LOOP_HUP) && catch_one(SIGHUP) != 0)
        return -1;
    if (flags & LOOP_IGNORE_PIPE)
        signal(SIGPIPE, SIG_IGN);
    return 0;
}

int loop_stop_signal(void)
{
    return stop_signal;
}

int loop_signal_fd(void)
{
    return wake_pipe[0];
}

void loop_request_stop(int sig)
{
    on_stop(sig);
}

void loop_die_of_signal(void)
{
    int sig = stop_signal;
    if (!sig)
        return;
    signal(sig, SIG_DFL);
    raise(sig);
}

void loop_sleep_until(double deadline)
{
    struct timespec at;
    at.tv_sec = (time_t)floor(deadline);
    at.tv_nsec = (long)((deadline - floor(deadline)) * 1e9);
    if (at.tv_nsec > 999999999L)
        at.tv_nsec = 999999999L;
    while (!stop_signal && clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

int loop_ms_until(double deadline, double now)
{
    double ms = ceil((deadline - now) * 1000.0);
    if (ms <= 0)
        return 0;
    return ms > 2e9 ? 2000000000 : (int)ms;
}

struct timeval loop_timeval_until(double deadline, double now)
{
    double left = deadline - now;
    struct timeval tv = {0, 0};
    if (left > 0) {
        long long us = (long long)ceil(left * 1e6);
        tv.tv_sec = (time_t)(us / 1000000);
        tv.tv_usec = (suseconds_t)(us % 1000000);
    }
    return tv;
}

double loop_soonest(const double *deadlines, int n)
{
    double soonest = 0;
    for (int i = 0; i < n; i++)
        if (deadlines[i] > 0 && (soonest == 0 || deadlines[i] < soonest))
            soonest = deadlines[i];
    return soonest;
}

void loop_every_start(struct loop_every *e, double period, double now)
{
    e->period = period;
    e->next = now + period;
}

int loop_every_due(struct loop_every *e, double now)
{
    if (now < e->next)
        return 0;
    e->next += e->period;
    if (e->next <= now) /* a long stall: start again from now */
        e->next = now + e->period;
    return 1;
}

} // extern "C"
