/* loop.h -- what every program's loop stands on: one monotonic clock, one
 * way to catch the signals that end a program (the loop sees them: a
 * waiting select or poll returns, and a descriptor turns readable), and
 * small timer helpers. Each program keeps its own loop. Plain C. */
#ifndef LOOP_LOOP_H
#define LOOP_LOOP_H

#include <sys/time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Seconds on the monotonic clock. */
double loop_now(void);

/* The same clock in nanoseconds. */
long long loop_now_ns(void);

/* Flags of loop_catch_signals. */
#define LOOP_HUP 0x1          /* SIGHUP ends the program too */
#define LOOP_IGNORE_PIPE 0x2  /* writes to a closed peer fail with EPIPE
                                 instead of killing the program */

/* Catch SIGINT and SIGTERM (and what flags add): the handler only notes
 * the signal and wakes the loop. Handlers are installed without
 * SA_RESTART, so a select, poll or sleep under way returns early. Called
 * again, it only adds what flags add. 0, or -1 after a message naming the
 * failing call. */
int loop_catch_signals(unsigned flags);

/* The signal that asked the program to end, 0 while none did. */
int loop_stop_signal(void);

/* A descriptor that turns readable once such a signal has come (never
 * read it), for a loop that waits on descriptors; -1 before
 * loop_catch_signals. */
int loop_signal_fd(void);

/* Ask the loop to end as a signal would (tests, and a program's own "quit"). */
void loop_request_stop(int sig);

/* End the process as the stop signal would have ended it without a
 * handler (for a program that must put something back first, then die of
 * the signal as its callers expect). Returns only when no signal came. */
void loop_die_of_signal(void);

/* Sleep until `deadline` (loop_now seconds); returns early when a stop
 * signal comes. */
void loop_sleep_until(double deadline);

/* How long a wait may last to wake at `deadline`: whole milliseconds,
 * rounded up, 0 when it has passed (poll's timeout). */
int loop_ms_until(double deadline, double now);

/* The same as a timeval (select's timeout). */
struct timeval loop_timeval_until(double deadline, double now);

/* The soonest of n deadlines; entries of 0 (none set) are passed over. 0
 * when none is set. */
double loop_soonest(const double *deadlines, int n);

/* Something done every `period` seconds. */
struct loop_every {
    double period;
    double next;    /* when it is due next */
};

/* First due one period after now. */
void loop_every_start(struct loop_every *e, double period, double now);

/* 1 when it is due (and the next time set a period on, or a period from
 * now after a long stall: never a burst of catching up), else 0. */
int loop_every_due(struct loop_every *e, double now);

#ifdef __cplusplus
}
#endif

#endif
