/* testfeed.cpp -- a producer of wiring test patterns.
 *
 * Publishes frames through whatever light output back-end the program
 * links: the network light server (any consumer that subscribes to --port
 * gets them), or the simulator's back-end to draw them directly. An
 * installer uses it to check the wiring and the channel map. No state of
 * its own: the stop signal is the loop floor's. */
#include "testfeed/testfeed.h"

#include <stdio.h>
#include <string.h>

#include "interface_2001.h"
#include "loop/loop.h"

namespace {

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

/* Hand the pattern to the output at o.rate until the frame count is
 * reached or a stop signal comes. 0, or 1 when the output asks to stop. */
int publish(const testfeed_options &o, const char *name)
{
    /* An absolute schedule, so that the rate does not drift with the time
     * each frame takes. */
    double start = loop_now();
    int frame[LIGHT_CHANNELS];
    for (long n = 0; (o.frames < 0 || n < o.frames) && !loop_stop_signal(); n++) {
        make_frame(o, n, frame);
        if (renderFrame(frame) < 0) {
            fprintf(stderr, "%s: the light output asked to stop\n", name);
            return 1;
        }
        loop_sleep_until(start + (double)(n + 1) / o.rate);
    }
    return 0;
}

} // namespace

int testfeed_main(int argc, char **argv, const testfeed_output *output)
{
    testfeed_options o;
    char err[256];
    testfeed_cli.name = output->name;
    testfeed_cli.about = output->about;
    if (!output->use_port)
        testfeed_port_unused();
    int settled = cli_settle(&testfeed_cli, testfeed_parse_options(argc, argv, &o, err, sizeof err),
                             err);
    if (settled != CLI_GO_ON)
        return settled;
    if (output->use_port)
        output->use_port(o.port);
    if (init_lights() != 0) {
        if (output->use_port)
            fprintf(stderr, "%s: cannot open the light output (UDP port %d)\n", output->name,
                    o.port);
        else
            fprintf(stderr, "%s: cannot open the light output\n", output->name);
        return 1;
    }
    /* After init_lights: the simulator's back-end brings handlers of its own. */
    loop_catch_signals(0);
    int status = publish(o, output->name);
    deinit_lights();
    return status;
}
