/* preview.h -- the plug-in's "Spectrum analyzer" window: the logo while
 * nothing plays, the live bars during playback. Built on enable, gone on
 * disable; closing it asks the player to disable the plug-in. */
#ifndef GLIM_PREVIEW_H
#define GLIM_PREVIEW_H

#include <gtk/gtk.h>

/* The GDK lock around drawing; taken only when the player has set up
 * GDK's thread support. */
void lock_gdk(void);
void unlock_gdk(void);

/* Whether the window exists. */
bool preview_open(void);

/* Build and show the window with the logo as background. What a window
 * closed without a disable left behind is dropped first. */
void make_preview(void);

/* Destroy the window if it exists, then release the drawing resources. */
void close_preview(void);

/* Redraw the live bars. 0 when there is no window, else 1. */
int draw_func(gpointer);

/* Playback shows the live bars, no playback the logo. */
void glim_playback_start(void);
void glim_playback_stop(void);

#endif
