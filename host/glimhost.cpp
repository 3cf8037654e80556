/* glimhost.cpp -- a small audio player that loads the light-show plug-in
 * and drives it as its player would: GTK main loop on the main thread
 * (enable, disable, playback start and stop happen here), spectrum
 * callbacks from a rendering thread that plays the music. The plug-in's
 * disable request only sets a flag and wakes the main loop, which then
 * stops the rendering thread and disables the plug-in in its own time;
 * SIGINT, SIGTERM and SIGHUP wake it through the loop floor's descriptor. */
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "host/audio_out.h"
#include "host/audio_source.h"
#include "host/demo_music.h"
#include "host/host_control.h"
#include "host/host_health.h"
#include "host/host_options.h"
#include "host/player.h"
#include "host/plugin.h"
#include "host/private_display.h"
#include "host/song_grid.h"
#include "host/show_log.h"
#include "loop/loop.h"

namespace {

host_options opts;
audio_source source;
VisPlugin *vp = nullptr;
bool enabled = false;                    /* init called, cleanup not yet */
bool shutting_down = false;              /* main thread only */
pthread_t render_thread;
bool render_running = false;             /* thread started and not joined */
std::atomic<bool> disable_pending{false};
std::atomic<int> player_result{PLAYER_RUNNING};
int exit_status = 0;
bool status_line = false;                /* stderr is a terminal */
long last_callbacks = 0;
char pattern_label[HOST_PATTERN_NAME_MAX + 32];
const char *last_pattern = nullptr;      /* the last one the plug-in named */
gint64 playback_began = 0;               /* monotonic microseconds */
double grid_from = -1;                   /* music time the grid handed over starts
                                            at, -1 while none is */

/* Stop and join the rendering thread (main thread, GDK lock not held). */
void stop_render_thread(void)
{
    if (!render_running)
        return;
    player_stop();
    pthread_join(render_thread, nullptr);
    render_running = false;
}

/* Disable the plug-in on the main thread; playback_stop first when the
 * music is ending with the plug-in still enabled. */
void disable(bool playback_ended)
{
    if (!enabled)
        return;
    gdk_threads_enter();
    if (playback_ended && vp->playback_stop)
        vp->playback_stop();
    enabled = false;
    if (vp->cleanup)
        vp->cleanup();
    gdk_threads_leave();
}

void shut_down(void)
{
    if (shutting_down)
        return;
    shutting_down = true;
    stop_render_thread();
    disable(true);
    gtk_main_quit();
}

gboolean on_disable(gpointer)
{
    if (shutting_down || !enabled)
        return G_SOURCE_REMOVE;
    if (!opts.keep_playing) {
        shutting_down = true;
        stop_render_thread();
        disable(false);
        printf("glimhost: plug-in disabled\n");
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }
    player_wait_detached();
    disable(false);
    snprintf(pattern_label, sizeof pattern_label, "plug-in disabled");
    printf("glimhost: plug-in disabled, playing on\n");
    return G_SOURCE_REMOVE;
}

gboolean on_player_done(gpointer)
{
    if (player_result.load() == PLAYER_ERROR)
        exit_status = 1;
    shut_down();
    return G_SOURCE_REMOVE;
}

/* SIGINT, SIGTERM or SIGHUP came (the floor's descriptor turned
 * readable): end as at the end of the music. */
gboolean on_stop_signal(gint, GIOCondition, gpointer)
{
    shut_down();
    return G_SOURCE_REMOVE;
}

/* Once a second on a terminal: source, callbacks a second, pattern, the
 * lights' delay against the sound, and the beat. */
gboolean on_status(gpointer)
{
    long now = player_callbacks();
    /* Between two patterns the plug-in runs none for a callback or so;
     * the line keeps the last name meanwhile. */
    const char *running = plugin_current_pattern();
    if (running)
        last_pattern = running;
    const char *current = last_pattern;
    char beat[64];
    show_log_beat_label(beat, sizeof beat);
    fprintf(stderr, "\r%s | %s | %5ld callbacks/s | %s%s | lights %+d ms%s   ", source.name,
            out_audible() ? "sound" : "silent", now - last_callbacks,
            current && enabled ? "pattern " : "", current && enabled ? current : pattern_label,
            player_light_delay(), beat);
    last_callbacks = now;
    return G_SOURCE_CONTINUE;
}

/* Music time now, roughly: playback runs in real time. Enough to choose
 * which passes of the looping built-in music the grid holds. */
double music_now(void)
{
    return (double)(g_get_monotonic_time() - playback_began) * 1e-6;
}

double loop_seconds(void)
{
    return opts.source == HOST_SOURCE_DEMO ? (double)demo_music_length() / DEMO_MUSIC_RATE : 0;
}

/* The analysis is done (main loop): hand its grid to the plug-in. */
gboolean on_analysis(gpointer)
{
    if (shutting_down)
        return G_SOURCE_REMOVE;
    const song_analysis *a = song_grid_result();
    char what[160];
    if (!a) {
        printf("glimhost: no beat grid: %s\n", song_grid_note());
    } else if (a->verdict != SONG_BEATS) {
        printf("glimhost: no beat grid, %s: the plug-in follows the music by itself\n",
               song_analysis_describe(a, what, sizeof what));
    } else if (!enabled || song_grid_hand_over(plugin_api2(), a, loop_seconds(),
                                               music_now()) != 0) {
        printf("glimhost: the plug-in takes no beat grid (%s, %s)\n",
               song_analysis_describe(a, what, sizeof what), song_grid_note());
    } else {
        grid_from = music_now();
        printf("glimhost: beat grid handed to the plug-in: %s (%s)\n",
               song_analysis_describe(a, what, sizeof what), song_grid_note());
    }
    return G_SOURCE_REMOVE;
}

/* The analysis thread's word that it is done. */
void analysis_done(void)
{
    g_idle_add(on_analysis, nullptr);
}

/* Every minute: the looping built-in music gets a fresh stretch of grid
 * well before the one handed over runs out. */
gboolean on_grid_refresh(gpointer)
{
    const song_analysis *a = song_grid_result();
    if (grid_from >= 0 && enabled && a &&
        music_now() - grid_from > SONG_GRID_AHEAD_SECONDS / 2 &&
        song_grid_hand_over(plugin_api2(), a, loop_seconds(), music_now()) == 0)
        grid_from = music_now();
    return G_SOURCE_CONTINUE;
}

/* What the music is (a file, or the built-in music), analysed ahead of
 * playing it for a plug-in that can take a beat grid. */
void start_analysis(void)
{
    if (opts.no_analysis || source.live || !plugin_api2())
        return;
    if (song_grid_start(opts.source == HOST_SOURCE_FILE ? opts.file : nullptr, analysis_done) != 0) {
        printf("glimhost: cannot start the analysis; the plug-in follows the music by itself\n");
        return;
    }
    if (loop_seconds() > 0)
        g_timeout_add_seconds(60, on_grid_refresh, nullptr);
}

/* --fast: the grid before the first callback, so that a run on the
 * music's clock is the same each time (in real time it comes when the
 * analysis is done, about a second in). */
void analyse_before_playing(void)
{
    if (opts.no_analysis || !plugin_api2())
        return;
    static song_analysis a;
    char note[96], err[160], what[160];
    if (song_grid_obtain(opts.file, nullptr, &a, note, sizeof note, err, sizeof err) != 0) {
        printf("glimhost: no beat grid: %s\n", err);
        return;
    }
    if (a.verdict == SONG_BEATS && song_grid_hand_over(plugin_api2(), &a, 0, 0) == 0)
        printf("glimhost: beat grid handed to the plug-in: %s (%s)\n",
               song_analysis_describe(&a, what, sizeof what), note);
    else
        printf("glimhost: no beat grid (%s): the plug-in follows the music by itself\n",
               song_analysis_describe(&a, what, sizeof what));
    song_analysis_free(&a);
}

void *render_main(void *)
{
    player_result.store(player_run());
    g_idle_add(on_player_done, nullptr);
    return nullptr;
}

int fail(const char *what)
{
    fprintf(stderr, "glimhost: %s\n", what);
    return 1;
}

} // namespace

/* The player's disable_plugin, called by the plug-in (hence C linkage):
 * from the main thread (the preview window's "destroy", perhaps inside
 * cleanup itself) or from the rendering thread (inside render_freq).
 * Never blocks and frees nothing: the rendering thread stops calling the
 * plug-in at once, the rest happens on the main loop. */
extern "C" {
static void host_disable_plugin(VisPlugin *)
{
    player_detach_plugin();
    if (!disable_pending.exchange(true))
        g_idle_add(on_disable, nullptr);
}
}

namespace {

/* --plugin, or the library beside the program. */
const char *plugin_path(void)
{
    static char default_path[PATH_MAX + 32];
    return opts.plugin ? opts.plugin : plugin_default_path(default_path, sizeof default_path);
}

/* --analyse: the analysis as JSON on standard output, where it came from
 * on standard error. The exit status. */
int analyse(void)
{
    song_analysis a;
    char note[256], err[512];
    const char *path = opts.source == HOST_SOURCE_FILE ? opts.file : nullptr;
    if (song_grid_obtain(path, nullptr, &a, note, sizeof note, err, sizeof err) != 0)
        return fail(err);
    song_analysis_print_json(&a, stdout);
    fprintf(stderr, "glimhost: %s: %s\n", path ? path : "demo music", note);
    song_analysis_free(&a);
    return 0;
}

/* --list-patterns: the plug-in's pattern names, then the exit status. */
int list_patterns(void)
{
    char err[512];
    if (plugin_open(plugin_path(), err, sizeof err) != 0)
        return fail(err);
    int listed = plugin_list_patterns(err, sizeof err);
    if (listed < 0)
        return fail(err);
    return listed > 0 ? 0 : 1;
}

/* The music first: a bad file is one line and nothing else. 0, or the
 * exit status (2 for a light delay the player cannot hold). */
int open_music(void)
{
    char err[512];
    int rc = 0;
    if (opts.source == HOST_SOURCE_FILE)
        rc = source_open_file(&source, opts.file, err, sizeof err);
    else if (opts.source == HOST_SOURCE_CAPTURE)
        rc = source_open_capture(&source, opts.capture_source, err, sizeof err);
    else
        rc = source_open_demo(&source);
    if (rc != 0)
        return fail(err);
    int delay_limit = player_light_delay_limit_ms(source.rate);
    if (opts.light_delay_ms > delay_limit || opts.light_delay_ms < -delay_limit) {
        fprintf(stderr, "glimhost: --light-delay %d goes beyond the %d ms of music the player "
                        "holds at %d Hz\n", opts.light_delay_ms, delay_limit, source.rate);
        return 2;
    }
    player_set_light_delay(opts.light_delay_ms);
    return 0;
}

/* Load the plug-in and hand it, through its host API, what the command
 * line asks of it before it is enabled. 0, or the exit status. */
int load_plugin(void)
{
    char err[512];
    if (plugin_open(plugin_path(), err, sizeof err) != 0)
        return fail(err);
    vp = plugin_record(host_disable_plugin, err, sizeof err);
    if (!vp)
        return fail(err);
    if (opts.port > 0 && plugin_set_port(opts.port, err, sizeof err) != 0)
        return fail(err);
    if (opts.has_pattern) {
        if (plugin_set_pattern(opts.pattern_name, opts.pattern_options, err, sizeof err) != 0)
            return fail(err);
        snprintf(pattern_label, sizeof pattern_label, "pattern %s", opts.pattern_name);
    } else {
        snprintf(pattern_label, sizeof pattern_label, "random patterns");
    }
    if (show_log_open(opts.beat_log, opts.pattern_log, err, sizeof err) != 0)
        return fail(err);
    if (opts.beat_log || opts.pattern_log)
        player_set_observer(show_log_after_callback);
    return 0;
}

/* The display for the plug-in's preview window (a private one with
 * --headless), under the GDK thread lock the preview runs with. */
int open_display(int *argc, char ***argv)
{
    char err[512];
#if !GLIB_CHECK_VERSION(2, 32, 0)
    g_thread_init(nullptr);
#endif
    gdk_threads_init();
    if (opts.headless && private_display_ensure(err, sizeof err) != 0)
        return fail(err);
    if (!gtk_init_check(argc, argv))
        return fail("cannot open the X display (the plug-in's preview window needs one; "
                    "set DISPLAY, or run under Xvfb)");
    return 0;
}

/* Enable the plug-in and start the rendering thread, as a player does
 * when playback starts; the main loop is told of stop signals. Returns
 * holding the GDK lock, which gtk_main expects. 0, or the exit status. */
int start_playing(void)
{
    if (!source.live)
        out_open(source.rate, opts.mute);
    player_set_fast(opts.fast);
    if (player_prepare(&source, vp, opts.rate, opts.frames) != 0)
        return fail("cannot plan the FFT");
    if (loop_catch_signals(LOOP_HUP) != 0)
        return 1;

    gdk_threads_enter();
    /* Enable: the plug-in binds its server socket here, before any callback. */
    enabled = true;
    if (vp->init)
        vp->init();
    const char *how = opts.fast ? ", silently, as fast as they run"
                      : source.live || out_audible() ? "" : ", silently";
    printf("glimhost: playing %s at %d Hz, %.1f callbacks a second%s\n", source.name,
           source.rate, player_rate(), how);
    if (opts.light_delay_ms != 0)
        printf("glimhost: the lights come %d ms %s than the sound\n",
               opts.light_delay_ms < 0 ? -opts.light_delay_ms : opts.light_delay_ms,
               opts.light_delay_ms < 0 ? "earlier" : "later");
    if (vp->playback_start)
        vp->playback_start();
    playback_began = g_get_monotonic_time();
    if (opts.fast)
        analyse_before_playing();
    if (pthread_create(&render_thread, nullptr, render_main, nullptr) != 0) {
        gdk_threads_leave();
        disable(true);
        return fail("cannot start the rendering thread");
    }
    render_running = true;
    if (!opts.fast)
        start_analysis();
    host_health_start(source.name);

    g_unix_fd_add(loop_signal_fd(), G_IO_IN, on_stop_signal, nullptr);
    status_line = isatty(2);
    if (status_line)
        g_timeout_add(1000, on_status, nullptr);
    return 0;
}

/* After the main loop: the sound drained at the end of the music, the
 * source closed. The exit status. */
int stop_playing(void)
{
    gdk_threads_leave();
    song_grid_stop();
    if (status_line)
        fputc('\n', stderr);
    out_close(player_result.load() == PLAYER_END_OF_SOURCE);
    source_close();
    show_log_close();
    if (player_result.load() == PLAYER_ERROR)
        exit_status = 1;
    return exit_status;
}

} // namespace

int main(int argc, char **argv)
{
    char err[512];
    int settled = cli_settle(&host_cli, host_parse_options(argc, argv, &opts, err, sizeof err),
                             err);
    if (settled != CLI_GO_ON)
        return settled;
    if (opts.action == HOST_LIST_PATTERNS)
        return list_patterns();
    if (opts.action == HOST_ANALYSE)
        return analyse();
    int failed = open_music();
    if (!failed)
        failed = load_plugin();
    if (!failed && opts.control_port &&
        host_control_start(opts.control_port, opts.has_pattern, err, sizeof err) != 0)
        failed = fail(err);
    if (!failed)
        failed = open_display(&argc, &argv);
    if (!failed)
        failed = start_playing();
    if (failed)
        return failed;
    gtk_main();
    return stop_playing();
}
