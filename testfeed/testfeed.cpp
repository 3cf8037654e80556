/* testfeed.cpp -- a producer of wiring test patterns.
 *
 * Publishes frames through whatever light output back-end the program
 * links: the network light server (any consumer that subscribes to --port
 * gets them), or the simulator's back-end to draw them directly. An
 * installer uses it to check the wiring and the channel map. The only
 * state is the stop request of a signal. */
#include "testfeed/testfeed.h"

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "interface_2001.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_signal(int)
{
    stop_requested = 1;
}

/* Fill `frame` for frame number n; prints the step as it begins. */
void make_frame(const testfeed_options &o, long n, int frame[LIGHT_CHANNELS])
{
    memset(frame, 0, sizeof(int) * LIGHT_CHANNELS);
    long step = n / o.hold;
    bool new_step = n % o.hold == 0;
    switch (o.pattern) {
    case TESTFEED_WALK: {
        int c = (int)(step % LIGHT_CHANNELS);
        frame[c] = o.level;
        if (new_step)
            printf("box %d channel %d\n", c / LIGHT_CHANNELS_PER_BOX,
                   c % LIGHT_CHANNELS_PER_BOX);
        break;
    }
    case TESTFEED_BOXES: {
        int b = (int)(step % LIGHT_BOXES);
        for (int k = 0; k < LIGHT_CHANNELS_PER_BOX; k++)
            frame[b * LIGHT_CHANNELS_PER_BOX + k] = o.level;
        if (new_step)
            printf("box %d\n", b);
        break;
    }
    case TESTFEED_ALL:
        for (int i = 0; i < LIGHT_CHANNELS; i++)
            frame[i] = o.level;
        break;
    case TESTFEED_OFF:
        break;
    }
}

void add_ns(struct timespec *t, long ns)
{
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        t->tv_sec++;
    }
}

} // namespace

int testfeed_run(const testfeed_options *opts)
{
    const testfeed_options &o = *opts;
    if (init_lights() != 0) {
        fprintf(stderr, "testfeed: cannot open the light output (UDP port %d)\n", o.port);
        return 1;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    /* Absolute schedule, so that the rate does not drift with the time
     * each frame takes. */
    const long period_ns = 1000000000L / o.rate;
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    int frame[LIGHT_CHANNELS];
    int status = 0;
    for (long n = 0; (o.frames < 0 || n < o.frames) && !stop_requested; n++) {
        make_frame(o, n, frame);
        if (renderFrame(frame) < 0) {
            fprintf(stderr, "testfeed: the light output asked to stop\n");
            status = 1;
            break;
        }
        add_ns(&next, period_ns);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) != 0 &&
               !stop_requested)
            ;
    }
    deinit_lights();
    return status;
}
