/* player.h -- the rendering side of glimhost: play the source, cut the
 * music into consecutive 512-sample blocks, and hand each block's spectrum
 * to the plug-in when it is heard (every sample analysed once), with its
 * music time. Runs on its own thread (the rendering thread); the other
 * functions may be called from any thread. */
#ifndef HOST_PLAYER_H
#define HOST_PLAYER_H

#include <stddef.h>
#include <stdint.h>

#include "host/audio_source.h"
#include "xmms/vis_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Why player_run returned. */
enum player_end { PLAYER_RUNNING, PLAYER_END_OF_SOURCE, PLAYER_FRAMES_DONE,
                  PLAYER_STOPPED, PLAYER_ERROR };

/* Set up a run: the open source (its output already opened with
 * out_open unless the source is live), the enabled plug-in (NULL for
 * none), callbacks a second (0: one per 512-frame block, each block
 * analysed once; otherwise each callback analyses the newest 512 frames)
 * and a callback limit (0: none). The plug-in is told each callback's
 * music time when its host API offers it (plugin_api2). 0, or -1 when
 * the FFT cannot be planned or the light delay does not fit (beyond the
 * limit, or ahead of a live source). */
int player_prepare(const audio_source *source, VisPlugin *vp, double rate, long max_frames);

/* The lights against the sound, set before player_prepare: each callback
 * analyses what was heard `ms` milliseconds ago, or with a negative `ms`
 * what will be heard -ms from now (a clocked source only: the music is
 * read that far ahead of what is played). 0, the start, analyses what is
 * heard now. */
void player_set_light_delay(int ms);

/* Change the light delay while the music plays (any thread, after
 * player_prepare); the next callback takes it. 0, or -1 with a one-line
 * reason in err when the source cannot hold it (beyond the limit, or
 * negative with a live source). */
int player_change_light_delay(int ms, char *err, size_t errlen);

/* The light delay now, in milliseconds. */
int player_light_delay(void);

/* Called on the rendering thread right after each callback the plug-in
 * got, with its music time: seconds from the start of the music to the
 * end of the frames it analysed. Set before player_run; NULL for none. */
void player_set_observer(void (*after)(double music_time));

/* Run the callbacks back to back, as fast as they compute, on a clock of
 * music instead of the wall clock: the same callbacks, blocks and music
 * times as in real time. For a file on the silent output only. */
void player_set_fast(int on);

/* The largest light delay, either way, that the player's memory of the
 * music holds at a sample rate. */
int player_light_delay_limit_ms(int rate);

/* The loop; returns at the end of the source, after max_frames callbacks,
 * on player_stop or on a read error. Call player_prepare first. */
enum player_end player_run(void);

/* Ask player_run to return soon. Never blocks. */
void player_stop(void);

/* Stop calling the plug-in; the music plays on. Never blocks, so the
 * plug-in may call it from inside its own callback. */
void player_detach_plugin(void);

/* Wait until no plug-in call is in progress (after player_detach_plugin:
 * the plug-in is then never called again). Do not call it from inside a
 * plug-in callback, nor while holding a lock such a callback takes. */
void player_wait_detached(void);

/* Callbacks made so far (counts while detached too). */
long player_callbacks(void);

/* Callbacks a second that this run aims at. */
double player_rate(void);

#ifdef __cplusplus
}
#endif

#endif
