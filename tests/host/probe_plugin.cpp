/* probe_plugin.cpp -- a stand-in visualisation plug-in for glimhost's
 * tests. It reports every call on standard output (which thread, what
 * spectrum), numbers its frames so a subscriber can check that none is
 * lost, and checks the threading rules a player must keep. Built in three
 * flavours:
 *   PROBE_DISABLE_AT=N  asks to be disabled from inside callback N
 *   PROBE_WINDOW        has a GTK window whose "destroy" asks to be disabled
 *   PROBE_GRID          offers host API version 2 and reports the beat grid
 *                       it is handed
 *   PROBE_HANG_AT=N     never returns from callback N (a plug-in stuck)
 * It also offers the host API with one pattern, "rise", so that the
 * --pattern and --port paths can be followed end to end; it names no
 * pattern as running (it has no scheduler). */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#ifdef PROBE_WINDOW
#include <gtk/gtk.h>
#endif

#include "netserver/hall.h"
#include "xmms/glim_host_api.h"
#include "xmms/vis_plugin.h"

namespace {

VisPlugin probe_vp;
std::atomic<long> freq_calls{0};
std::atomic<bool> disabled{false};      /* we asked to be disabled */
int light_data[60];
pattern_info fixed;                     /* from glim_set_fixed_pattern */
char *fixed_options = nullptr;
bool have_fixed = false;
#ifdef PROBE_WINDOW
GtkWidget *window = nullptr;
#endif

bool on_main_thread(void)
{
    return syscall(SYS_gettid) == getpid();
}

/* Calls that the player makes on its main thread. */
void expect_main(const char *what)
{
    if (!on_main_thread())
        printf("probe: THREAD ERROR %s off the main thread\n", what);
}

} // namespace

/* Called by the host and by GTK: C linkage. */
extern "C" {

#ifdef PROBE_WINDOW
static void destroy_cb(GtkWidget *, gpointer)
{
    printf("probe: window destroyed\n");
    probe_vp.disable_plugin(&probe_vp);
}
#endif

static void probe_init(void)
{
    expect_main("init");
    printf("probe: init\n");
    init_lights();
    if (have_fixed) {
        char *copy = fixed_options ? strdup(fixed_options) : nullptr;
        printf("probe: fixed pattern init returned %d\n", fixed.init(copy));
        free(copy);
    }
#ifdef PROBE_WINDOW
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "probe window");
    gtk_widget_set_size_request(window, 100, 50);
    g_signal_connect(window, "destroy", G_CALLBACK(destroy_cb), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_widget_destroyed), &window);
    gtk_widget_show(window);
#endif
}

static void probe_cleanup(void)
{
    expect_main("cleanup");
    printf("probe: cleanup\n");
#ifdef PROBE_WINDOW
    if (window)
        gtk_widget_destroy(window);
#endif
    deinit_lights();
}

static void probe_playback_start(void)
{
    expect_main("playback_start");
    printf("probe: playback_start\n");
}

static void probe_playback_stop(void)
{
    expect_main("playback_stop");
    printf("probe: playback_stop\n");
}

static void probe_render_freq(int16_t freq[2][256])
{
    long n = freq_calls.fetch_add(1) + 1;
    if (on_main_thread())
        printf("probe: THREAD ERROR render_freq on the main thread\n");
    if (disabled.load())
        printf("probe: CALLED AFTER DISABLE\n");
    int peak = 0, row1 = 0;
    for (int i = 1; i < 256; i++)
        if (freq[0][i] > freq[0][peak])
            peak = i;
    for (int i = 0; i < 256; i++)
        if (freq[1][i] > row1)
            row1 = freq[1][i];
    printf("probe: freq %ld peak %d value %d row1 %d\n", n, peak, freq[0][peak], row1);
    if (have_fixed)
        fixed.frame(nullptr, nullptr, light_data, freq, 0);
    /* Frame number in the first four channels, a byte each. */
    for (int i = 0; i < 4; i++)
        light_data[i] = (int)((n >> (8 * i)) & 0xff);
#ifdef PROBE_WINDOW
    gdk_threads_enter();
    if (window)
        gtk_widget_queue_draw(window);
    gdk_threads_leave();
#endif
    renderFrame(light_data);
#ifdef PROBE_HANG_AT
    if (n == PROBE_HANG_AT) {
        printf("probe: hanging\n");
        fflush(stdout);
        for (;;)
            pause();
    }
#endif
#ifdef PROBE_DISABLE_AT
    if (n == PROBE_DISABLE_AT) {
        printf("probe: asking to be disabled\n");
        disabled.store(true);
        probe_vp.disable_plugin(&probe_vp);
    }
#endif
}

} // extern "C"

extern "C" {

__attribute__((visibility("default"))) VisPlugin *get_vplugin_info(void)
{
    probe_vp.description = const_cast<char *>("probe plug-in");
    probe_vp.num_pcm_chs_wanted = 0;
    probe_vp.num_freq_chs_wanted = 1;
    probe_vp.init = probe_init;
    probe_vp.cleanup = probe_cleanup;
    probe_vp.playback_start = probe_playback_start;
    probe_vp.playback_stop = probe_playback_stop;
    probe_vp.render_freq = probe_render_freq;
    return &probe_vp;
}

__attribute__((visibility("default"))) int glim_set_fixed_pattern(const pattern_info *info,
                                                                  const char *options)
{
    if (!info) {
        have_fixed = false;
        return 0;
    }
    if (!info->init || !info->frame)
        return -1;
    fixed = *info;
    free(fixed_options);
    fixed_options = options ? strdup(options) : nullptr;
    have_fixed = true;
    printf("probe: fixed pattern set, options \"%s\"\n", options ? options : "(none)");
    return 0;
}

/* The stand-in pattern: says what it was given. */
__attribute__((visibility("default"))) int rise_init(char *param)
{
    printf("probe rise_init param=%s\n", param ? param : "(null)");
    return 0;
}

__attribute__((visibility("default"))) int rise_frame(double *, int16_t *, int *light, int16_t (*)[256],
                                                      int)
{
    light[59] = 200;
    return 0;
}

__attribute__((visibility("default"))) int rise_deinit(void)
{
    return 0;
}

/* The host API: "rise" alone, the fixed pattern above, the server's port. */
static const glim_named_pattern probe_patterns[] = {
    {"rise", rise_init, rise_frame, rise_deinit},
    {nullptr, nullptr, nullptr, nullptr},
};

static const glim_named_pattern *probe_find_pattern(const char *name)
{
    for (const glim_named_pattern *p = probe_patterns; p->name; p++)
        if (strcmp(p->name, name) == 0)
            return p;
    return nullptr;
}

static const char *probe_current_pattern(void)
{
    return nullptr;
}

static int probe_set_port(int port)
{
    if (port < 1 || port > 65535)
        return -1;
    server_port = (uint16_t)port;
    return 0;
}

#ifdef PROBE_GRID
/* The grid: its size, the first bar line and the last beat, and every
 * section's start (a trailing '!' marks a drop). */
static int probe_set_beat_grid(const glim_grid_beat *beats, int num_beats,
                               const glim_grid_section *sections, int num_sections)
{
    double first_bar = -1;
    for (int i = 0; i < num_beats && first_bar < 0; i++)
        if (beats[i].beat_in_bar == 1)
            first_bar = beats[i].time;
    printf("probe: grid %d beats %d sections first bar %.3f last beat %.3f starts", num_beats,
           num_sections, first_bar, num_beats ? beats[num_beats - 1].time : -1.0);
    for (int i = 0; i < num_sections; i++)
        printf(" %.3f%s", sections[i].start, sections[i].drop ? "!" : "");
    printf("\n");
    return 0;
}

static void probe_music_time(double) {}
static void probe_beat_state(glim_beat_state *out)
{
    memset(out, 0, sizeof *out);
}
static void probe_beat_following(int) {}
static int probe_fix_pattern(const char *, const char *)
{
    return -1;
}
static void probe_next_pattern(void) {}
static int probe_pattern_is_fixed(void)
{
    return 0;
}
#endif

__attribute__((visibility("default"))) const glim_host_api *glim_get_host_api(int version)
{
    static const glim_host_api api = {probe_patterns, probe_find_pattern,
                                      glim_set_fixed_pattern, probe_current_pattern,
                                      probe_set_port};
#ifdef PROBE_GRID
    static const glim_host_api2 api2 = {api, probe_music_time, probe_beat_state,
                                        probe_beat_following, probe_set_beat_grid,
                                        probe_fix_pattern, probe_next_pattern,
                                        probe_pattern_is_fixed};
    if (version == 2)
        return &api2.v1;
#endif
    return version == 1 ? &api : nullptr; /* a plug-in of version 1 */
}

} // extern "C"
