/* song_grid.h -- the analysis of what glimhost plays, and the beat grid
 * made of it for the plug-in. The analysis comes from the cache when the
 * music was analysed before, else it is made (and kept); while the music
 * plays that happens on a worker thread at low priority, so playback
 * starts at once and the grid follows when it is ready. */
#ifndef HOST_SONG_GRID_H
#define HOST_SONG_GRID_H

#include <stddef.h>

#include "host/song_analysis.h"
#include "xmms/glim_host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The analysis of a sound file (a regular file: a pipe is not read
 * behind playback's back), or of the built-in music when path is NULL
 * (one pass of its loop): from the cache, else analysed and kept.
 * `stop` as for song_analyse. 0 with *out filled and a few words on where
 * it came from in note ("from the cache", "analysed in 0.8 s"), or -1
 * with a one-line reason in err (empty after a stop). */
int song_grid_obtain(const char *path, const int *stop, song_analysis *out, char *note,
                     size_t note_len, char *err, size_t err_len);

/* Start obtaining it on a worker thread; `ready` is called on that
 * thread when it is done (or has failed). 0, or -1 when no thread can
 * be started. One job at a time. */
int song_grid_start(const char *path, void (*ready)(void));

/* Ask the job to give up and wait for its thread. Safe when none runs. */
void song_grid_stop(void);

/* After `ready`: the analysis (NULL when it failed) and the note or the
 * reason. Valid until song_grid_stop. */
const song_analysis *song_grid_result(void);
const char *song_grid_note(void);

/* Hand the analysis to the plug-in as its beat grid, in music time
 * (seconds from the start of playback). Music that loops (the built-in
 * music: loop_seconds > 0) gets the passes from the one playing at
 * `now` to SONG_GRID_AHEAD_SECONDS past it. The plug-in's answer: 0 taken, -1
 * not (it keeps following the music by itself); -1 too without beats. */
#define SONG_GRID_AHEAD_SECONDS 1800.0
int song_grid_hand_over(const glim_host_api2 *api, const song_analysis *a, double loop_seconds,
                        double now);

#ifdef __cplusplus
}
#endif

#endif
