/* main.cpp -- the plug-in's core: the player's entry point and record,
 * enable/disable, the spectrum callback with its pattern scheduler, the
 * spectrum analysis into ten bars, and the preview window.
 *
 * The player calls glim_render_freq on its rendering thread; each call
 * analyses the spectrum, runs the scheduler and the current pattern, sends
 * one light frame through the built-in network light server and redraws
 * the preview. All state is file-level, one set per loaded library. */
#include <gtk/gtk.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "config.h"
#include "interface_2001.h"
#include "pattern.h"
#include "simple_patterns.h"
#include "vis_plugin.h"
#include "xmms_logo.xpm"

extern "C" {
GLIM_EXPORT VisPlugin *get_vplugin_info(void);
GLIM_EXPORT extern VisPlugin glim_vp;
}

namespace {

void glim_init(void);
void glim_cleanup(void);
void glim_playback_start(void);
void glim_playback_stop(void);
void glim_render_freq(int16_t data[2][256]);

const int PREVIEW_WIDTH = 250;
const int PREVIEW_HEIGHT = 100;
const int BAR_WIDTH = 25;
const int NUM_BARS = 10;
/* Draws per callback before the scheduler gives up until the next one,
 * so a table whose every init refuses cannot hang the player. With one
 * accepting row in six, 100 refusals in a row happen once in 10^8. */
const int MAX_DRAWS = 100;

/* Scheduler */
int current_pattern = -1;        /* drawn row; -1 = none */
int time_left;                   /* frames left after the current one */
pattern_info current_rec;        /* the functions of the current pattern */
int light_data[LIGHT_CHANNELS];  /* the frame; never cleared */
bool refusal_reported;           /* "no pattern" already said this streak */

/* Fixed pattern hook (glim_set_fixed_pattern) */
bool fixed_set;
pattern_info fixed_info;
char *fixed_options;   /* the caller's options, kept */
char *fixed_work;      /* writable copy handed to each init */
size_t fixed_size;

/* Analysis */
int16_t bar_heights[NUM_BARS];
double bar_averages[NUM_BARS];
double bar_scales[NUM_BARS];
double bar_rate[NUM_BARS];
double scale;
const int xscale[] = {0, 1, 2, 3, 5, 7, 10, 14, 20, 28, 40, 54, 74, 101, 137, 187, 255};

/* Preview */
GtkWidget *window;
GtkWidget *area;
GdkPixmap *bg_pixmap;
GdkPixmap *draw_pixmap;
GdkPixmap *bar;
GdkGC *gc;
bool in_cleanup;  /* the destroy handler may bring the player back here */

/* The GDK lock: gdk_threads_enter takes it only when the player has set
 * up GDK's thread support, which is what we want. */
void lock_gdk(void) { gdk_threads_enter(); }
void unlock_gdk(void) { gdk_threads_leave(); }

void ask_disable(void)
{
    if (glim_vp.disable_plugin)
        glim_vp.disable_plugin(&glim_vp);
}

/* Closing the window switches the plug-in off. */
void glim_destroy_cb(GtkWidget *, gpointer)
{
    ask_disable();
}

/* Redraw the live picture: black, then each bar cut from the gradient at
 * its own height. 0 when there is no window, else 1. */
int draw_func(gpointer)
{
    if (!window)
        return 0;
    lock_gdk();
    gdk_draw_rectangle(draw_pixmap, gc, TRUE, 0, 0, PREVIEW_WIDTH, PREVIEW_HEIGHT);
    for (int i = 0; i < NUM_BARS; i++) {
        int h = bar_heights[i];
        if (h > 0)
            gdk_draw_drawable(draw_pixmap, gc, bar, 0, 99 - h, BAR_WIDTH * i, 99 - h,
                              BAR_WIDTH - 1, h);
    }
    if (area && area->window)
        gdk_window_clear(area->window);
    unlock_gdk();
    return 1;
}

/* Paint the red-yellow-green gradient into `bar`, one line per row. */
void paint_gradient(void)
{
    GdkColormap *cmap = gdk_colormap_get_system();
    for (int y = 0; y < PREVIEW_HEIGHT; y++) {
        GdkColor color;
        color.pixel = 0;
        color.blue = 0;
        if (y < 50) {
            color.red = 65535;
            color.green = (y * 255 / 50) * 256;
        } else {
            int i = y - 50;
            color.red = (255 - i * 255 / 50) * 256;
            color.green = 65535;
        }
        gdk_colormap_alloc_color(cmap, &color, FALSE, TRUE);
        gdk_gc_set_foreground(gc, &color);
        gdk_draw_line(bar, gc, 0, y, BAR_WIDTH - 1, y);
    }
    GdkColor black;
    gdk_color_black(cmap, &black);
    gdk_gc_set_foreground(gc, &black);
}

/* Drop the drawing context and the three pixmaps, each if present. */
void release_drawing(void)
{
    if (gc) {
        g_object_unref(gc);
        gc = nullptr;
    }
    if (bg_pixmap) {
        g_object_unref(bg_pixmap);
        bg_pixmap = nullptr;
    }
    if (draw_pixmap) {
        g_object_unref(draw_pixmap);
        draw_pixmap = nullptr;
    }
    if (bar) {
        g_object_unref(bar);
        bar = nullptr;
    }
}

/* Build and show the preview window with the logo as background. What a
 * window closed without a disable left behind is dropped first. */
void make_preview(void)
{
    release_drawing();
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_title(GTK_WINDOW(window), "Spectrum analyzer");
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_widget_realize(window);

    bg_pixmap = gdk_pixmap_create_from_xpm_d(window->window, nullptr, nullptr,
                                             (gchar **)xmms_logo);
    gdk_window_set_back_pixmap(window->window, bg_pixmap, FALSE);

    g_signal_connect(window, "destroy", G_CALLBACK(glim_destroy_cb), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_widget_destroyed), &window);
    gtk_widget_set_size_request(window, PREVIEW_WIDTH, PREVIEW_HEIGHT);

    gc = gdk_gc_new(window->window);
    int depth = gdk_rgb_get_visual()->depth;
    draw_pixmap = gdk_pixmap_new(window->window, PREVIEW_WIDTH, PREVIEW_HEIGHT, depth);
    bar = gdk_pixmap_new(window->window, BAR_WIDTH, PREVIEW_HEIGHT, depth);
    paint_gradient();

    area = gtk_drawing_area_new();
    /* The area dies with the window; forget it then, so that a later
     * playback stop does not touch a freed widget. */
    g_signal_connect(area, "destroy", G_CALLBACK(gtk_widget_destroyed), &area);
    gtk_container_add(GTK_CONTAINER(window), area);
    gtk_widget_realize(area);
    gdk_window_set_back_pixmap(area->window, bg_pixmap, FALSE);

    gtk_widget_show(area);
    gtk_widget_show(window);
    gdk_window_clear(window->window);
    gdk_window_clear(area->window);
}

/* Condense row 0 of the spectrum into the ten bars, then redraw. Nothing
 * happens while there is no preview window. */
void glim_analyze_freq(int16_t data[2][256])
{
    if (!window)
        return;
    for (int i = 0; i < NUM_BARS; i++) {
        int y = 0;
        for (int c = xscale[i]; c < xscale[i + 1]; c++)
            if (data[0][c] > y)
                y = data[0][c];
        int v = y >> 7;

        double level = v ? log((double)v) * scale : 0.0;
        bar_averages[i] = (level + 15 * bar_averages[i]) * 0.0625;

        int h = v ? (int)(log((double)v) * scale) : 0;
        if (h > 99)
            h = 99;

        bar_scales[i] = bar_scales[i] + 0.002;
        if (bar_scales[i] > 3.0)
            bar_scales[i] = 3.0;

        int d = h - (int)bar_averages[i];
        if (d * bar_scales[i] > 100.0)
            bar_scales[i] = 100.0 / d;
        h = (int)(d * bar_scales[i]) + 10;
        if (h < 0)
            h = 0;
        if (h > 99)
            h = 99;

        if (h > bar_heights[i]) {
            bar_heights[i] = (int16_t)h;
            bar_rate[i] = 0.0;
        } else if (bar_heights[i] > bar_rate[i]) {
            bar_heights[i] = (int16_t)(bar_heights[i] - bar_rate[i]);
            bar_rate[i] += 0.25;
        } else {
            bar_heights[i] = 0;
        }
    }
    draw_func(nullptr);
}

/* Draw patterns until one's init accepts; the table's row, or the fixed
 * record when one is set. After MAX_DRAWS refusals nothing is current and
 * the next callback tries again. */
void draw_pattern(void)
{
    current_pattern = -1;
    if (num_patterns <= 0 && !fixed_set)
        return;
    for (int tries = 0; tries < MAX_DRAWS; tries++) {
        int row = num_patterns > 0 ? rand() % num_patterns : 0;
        pattern_info rec = fixed_set ? fixed_info : patterns[row];
        char *param = nullptr;
        if (fixed_set && fixed_options) {
            memcpy(fixed_work, fixed_options, fixed_size);
            param = fixed_work;
        }
        printf("calling init for pattern %i\n", row);
        int result = rec.init(param);
        printf("\n");
        if (result == 0) {
            current_pattern = row;
            current_rec = rec;
            time_left = rand() % 250 + 125;
            refusal_reported = false;
            return;
        }
    }
    if (!refusal_reported)
        fprintf(stderr, "glim: no pattern accepted its init; trying again next frame\n");
    refusal_reported = true;
}

void stop_current(void)
{
    if (current_rec.deinit)
        current_rec.deinit();
    current_pattern = -1;
}

/* The spectrum callback: analyse, schedule, one frame, send, redraw. */
void glim_render_freq(int16_t data[2][256])
{
    glim_analyze_freq(data);

    time_left--;
    if (time_left < 0 && current_pattern >= 0) {
        printf("calling deinit for pattern %i\n", current_pattern);
        stop_current();
    }
    if (current_pattern == -1 || time_left < 0)
        draw_pattern();

    lock_gdk();
    if (current_pattern >= 0 &&
        current_rec.frame(bar_averages, bar_heights, light_data, data, time_left) < 0)
        stop_current();
    if (renderFrame(light_data) < 0)
        ask_disable();
    unlock_gdk();

    draw_func(nullptr);
}

/* Enable: window, analysis settings, table count, lights, random seed.
 * Does nothing while the window exists. */
void glim_init(void)
{
    if (window)
        return;
    make_preview();
    scale = 100.0 / log(256.0);
    for (int i = 0; i < NUM_BARS; i++) {
        bar_averages[i] = 64.0;
        bar_scales[i] = 1.0;
    }
    num_patterns = 0;
    while (patterns[num_patterns].init)
        num_patterns++;
    init_lights();
    srand(time(nullptr));
}

/* Disable: window and drawing resources gone, lights stopped. The
 * current pattern is kept, to go on when enabled again. */
void glim_cleanup(void)
{
    if (in_cleanup)
        return;
    in_cleanup = true;
    if (window)
        gtk_widget_destroy(window);
    release_drawing();
    deinit_lights();
    in_cleanup = false;
}

/* Playback shows the live bars, no playback the logo. */
void glim_playback_start(void)
{
    if (window && area && area->window) {
        gdk_window_set_back_pixmap(area->window, draw_pixmap, FALSE);
        gdk_window_clear(area->window);
    }
}

void glim_playback_stop(void)
{
    if (area && GTK_WIDGET_REALIZED(area) && bg_pixmap) {
        gdk_window_set_back_pixmap(area->window, bg_pixmap, FALSE);
        gdk_window_clear(area->window);
    }
}

} // namespace

int num_patterns;

extern "C" {

/* The scheduler's table: brightness_level is listed twice, so it is drawn
 * twice as often as each of the others. */
pattern_info patterns[] = {
    {sine_wave_init, sine_wave_frame, sine_wave_deinit},
    {rise_init, rise_frame, rise_deinit},
    {random_spots_init, random_spots_frame, random_spots_deinit},
    {brightness_level_init, brightness_level_frame, brightness_level_deinit},
    {brightness_level_init, brightness_level_frame, brightness_level_deinit},
    {spinning_stripe_init, spinning_stripe_frame, spinning_stripe_deinit},
    {nullptr, nullptr, nullptr},
};

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
    glim_playback_start,
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

int glim_set_fixed_pattern(const pattern_info *info, const char *options)
{
    if (info && (!info->init || !info->frame))
        return -1;
    free(fixed_options);
    free(fixed_work);
    fixed_options = fixed_work = nullptr;
    fixed_size = 0;
    fixed_set = info != nullptr;
    if (!info)
        return 0;
    fixed_info = *info;
    if (options) {
        fixed_size = strlen(options) + 1;
        fixed_options = (char *)malloc(fixed_size);
        fixed_work = (char *)malloc(fixed_size);
        if (!fixed_options || !fixed_work) {
            free(fixed_options);
            free(fixed_work);
            fixed_options = fixed_work = nullptr;
            fixed_set = false;
            return -1;
        }
        memcpy(fixed_options, options, fixed_size);
    }
    return 0;
}

} // extern "C"
