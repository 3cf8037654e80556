/* demo_music.h -- the built-in music: a 32-bar loop in A minor with
 * drums, a bass line, chords and a lead, quiet passages and loud drops,
 * synthesised sample by sample so the show needs no file and no network. */
#ifndef HOST_DEMO_MUSIC_H
#define HOST_DEMO_MUSIC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DEMO_MUSIC_RATE 44100

/* Frames in one pass of the loop (it repeats without end). */
long demo_music_length(void);

/* Write `frames` interleaved stereo frames starting at frame `start` of
 * the endless loop. A pure function of the frame index: no state,
 * nothing allocated. */
void demo_music_render(long start, int16_t *stereo, int frames);

#ifdef __cplusplus
}
#endif

#endif
