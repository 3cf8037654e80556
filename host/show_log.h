/* show_log.h -- what glimhost writes down while the show runs: one line
 * per beat the plug-in signals (--beat-log) and one per pattern change
 * (--pattern-log), each with the music time of its callback; and the
 * beat for the status line. Needs the plug-in loaded (plugin_open). */
#ifndef HOST_SHOW_LOG_H
#define HOST_SHOW_LOG_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Open the logs that are asked for (NULL: not that one), truncating
 * them. The beat log needs the plug-in's host API version 2, the pattern
 * log version 1. 0, or -1 with a one-line reason in err. */
int show_log_open(const char *beat_path, const char *pattern_path, char *err, size_t err_len);

/* After each callback, on the rendering thread: a line for a new beat
 * ("music_time_seconds tempo confidence beat_in_bar") and for a new
 * pattern ("music_time_seconds name"). */
void show_log_after_callback(double music_time);

/* Flush and close the logs. */
void show_log_close(void);

/* The beat for the status line ("120.0 BPM locked", "no beat yet"), or ""
 * when the plug-in does not tell it. Any thread. */
void show_log_beat_label(char *buf, size_t len);

#ifdef __cplusplus
}
#endif

#endif
