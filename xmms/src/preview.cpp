/* preview.cpp -- the preview window: a 250 x 100 window with the logo as
 * background; during playback each analysis bar is cut from a
 * red-yellow-green gradient at its height. The window, its drawing area,
 * the three pixmaps and the drawing context are file-level. */
#include "preview.h"

#include "analysis.h"
#include "entry.h"
#include "xmms_logo.xpm"

namespace {

const int PREVIEW_WIDTH = 250;
const int PREVIEW_HEIGHT = 100;
const int BAR_WIDTH = 25;

GtkWidget *window;
GtkWidget *area;
GdkPixmap *bg_pixmap;
GdkPixmap *draw_pixmap;
GdkPixmap *bar;
GdkGC *gc;

/* Closing the window switches the plug-in off. */
void glim_destroy_cb(GtkWidget *, gpointer)
{
    ask_disable();
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

} // namespace

void lock_gdk(void) { gdk_threads_enter(); }
void unlock_gdk(void) { gdk_threads_leave(); }

bool preview_open(void)
{
    return window != nullptr;
}

/* Black, then each bar cut from the gradient at its own height. */
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

void close_preview(void)
{
    if (window)
        gtk_widget_destroy(window);
    release_drawing();
}

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
