/* main.cpp -- the plug-in's entry: the player's entry point and record,
 * enable/disable, and the spectrum callback that ties the modules
 * together (analysis.cpp, beat_clock.cpp, scheduler.cpp, preview.cpp; the
 * host API in host_api.cpp).
 *
 * The player calls glim_render_freq on its rendering thread; each call
 * analyses the spectrum, follows the beat, runs the scheduler and the
 * current pattern, sends one light frame through the built-in network
 * light server and redraws the preview. All state is file-level, one set
 * per loaded library. */
#include "entry.h"

#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "analysis.h"
#include "beat_clock.h"
#include "config.h"
#include "interface_2001.h"
#include "preview.h"
#include "scheduler.h"

namespace {

bool in_cleanup;  /* the destroy handler may bring the player back here */

/* The spectrum callback: analyse, follow the beat, schedule, one frame,
 * send, redraw. The beat comes before the scheduler, so a pattern can
 * change (and act) in the very callback that brings its beat. */
void glim_render_freq(int16_t data[2][256])
{
    glim_analyze_freq(data);
    beat_clock_feed(data[0]);
    schedule();

    lock_gdk();
    run_frame(data);
    if (renderFrame(light_data) < 0)
        ask_disable();
    unlock_gdk();

    draw_func(nullptr);
}

/* Enable: window, analysis settings, the beat's buffers (once for the
 * library's life), table count, lights, random seed. Does nothing while
 * the window exists. */
void glim_init(void)
{
    if (preview_open())
        return;
    make_preview();
    analysis_reset();
    if (beat_clock_init() != 0)
        fprintf(stderr, "glim: cannot set up the beat tracker; the lights will not follow "
                        "the beat\n");
    count_patterns();
    init_lights();
    srand(time(nullptr));
}

/* Playback starts: the bars in the preview, and the beat heard afresh. */
void glim_playback_begin(void)
{
    beat_clock_restart();
    glim_playback_start();
}

/* Disable: window and drawing resources gone, lights stopped. The
 * current pattern is kept, to go on when enabled again. */
void glim_cleanup(void)
{
    if (in_cleanup)
        return;
    in_cleanup = true;
    close_preview();
    deinit_lights();
    in_cleanup = false;
}

} // namespace

void ask_disable(void)
{
    if (glim_vp.disable_plugin)
        glim_vp.disable_plugin(&glim_vp);
}

extern "C" {

VisPlugin glim_vp = {
    nullptr,              /* handle */
    nullptr,              /* filename */
    0,                    /* xmms_session */
    nullptr,              /* description */
    0,                    /* num_pcm_chs_wanted */
    1,                    /* num_freq_chs_wanted */
    glim_init,
    glim_cleanup,
    nullptr,              /* about */
    nullptr,              /* configure */
    nullptr,              /* disable_plugin */
    glim_playback_begin,
    glim_playback_stop,
    nullptr,              /* render_pcm */
    glim_render_freq,
};

/* The player's entry point. A description made by an earlier call is
 * left alone: the player may still show it. */
VisPlugin *get_vplugin_info(void)
{
    glim_vp.description = g_strdup_printf("Corridon Controller %s", VERSION);
    return &glim_vp;
}

} // extern "C"
