/* loop_test.cpp -- the loop floor: a stop signal wakes a waiting select
 * and a sleep, and the timer helpers keep their deadlines. */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <thread>

#include "loop/loop.h"

namespace {

TEST(Loop, AStopSignalWakesTheWaitingLoop)
{
    ASSERT_EQ(loop_catch_signals(LOOP_HUP | LOOP_IGNORE_PIPE), 0);
    EXPECT_EQ(loop_stop_signal(), 0);
    pthread_t self = pthread_self();
    std::thread later([self] {
        usleep(100000);
        pthread_kill(self, SIGHUP);
    });
    double start = loop_now();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(loop_signal_fd(), &readable);
    struct timeval tv = loop_timeval_until(start + 5, start);
    int ready = select(loop_signal_fd() + 1, &readable, nullptr, nullptr, &tv);
    later.join();
    EXPECT_TRUE(ready == 1 || ready == -1) << "the wait ends early";
    EXPECT_LT(loop_now() - start, 2.0);
    EXPECT_EQ(loop_stop_signal(), SIGHUP);

    /* Once stopped, sleeps end at once: a loop cannot hang on its way out. */
    start = loop_now();
    loop_sleep_until(start + 5);
    EXPECT_LT(loop_now() - start, 1.0);
}

TEST(Loop, TimersKeepTheirDeadlines)
{
    EXPECT_EQ(loop_ms_until(10.0, 9.9991), 1) << "rounded up: never woken early";
    EXPECT_EQ(loop_ms_until(10.0, 11.0), 0);
    struct timeval tv = loop_timeval_until(12.5, 10.0);
    EXPECT_EQ(tv.tv_sec, 2);
    EXPECT_EQ(tv.tv_usec, 500000);

    const double deadlines[] = {0, 7.5, 3.25, 9};
    EXPECT_EQ(loop_soonest(deadlines, 4), 3.25);
    EXPECT_EQ(loop_soonest(deadlines, 1), 0) << "none set";

    loop_every e;
    loop_every_start(&e, 1.0, 100.0);
    EXPECT_EQ(loop_every_due(&e, 100.5), 0);
    EXPECT_EQ(loop_every_due(&e, 101.0), 1);
    EXPECT_EQ(loop_every_due(&e, 101.2), 0);
    EXPECT_EQ(loop_every_due(&e, 102.1), 1) << "on its grid";
    EXPECT_EQ(e.next, 103.0);
    EXPECT_EQ(loop_every_due(&e, 110.0), 1) << "after a stall: once, not a burst";
    EXPECT_EQ(loop_every_due(&e, 110.5), 0);
    EXPECT_EQ(e.next, 111.0);
}

} // namespace
