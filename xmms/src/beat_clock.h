/* beat_clock.h -- the beat as the plug-in follows it: the live tracker fed
 * on every callback, or a grid the host found ahead of play; the music
 * time of each callback; drops and the sections of a grid. Patterns and
 * the scheduler read one small record, fresh for the callback in
 * progress; a host reads the beat through the host API (any thread). */
#ifndef GLIM_BEAT_CLOCK_H
#define GLIM_BEAT_CLOCK_H

#include <stdint.h>

#include "xmms/glim_host_api.h"

/* What a pattern or the scheduler knows of the beat in this callback. */
struct beat_view {
    int locked;            /* a beat is followed (and following is on) */
    int beat;              /* a beat falls in this callback (locked only) */
    int beat_in_bar;       /* 1..beats_per_bar of the latest beat; 0 unknown */
    int beats_per_bar;     /* 4, or 3 in triple time */
    long beat_count;       /* beats signalled so far */
    double since_beat;     /* callbacks since the latest beat, 0 in its own */
    double frames_per_beat; /* callbacks a beat; 0 while no tempo is known */
    int change;            /* the pattern changes on this beat: a drop, or a
                              new section of the grid */
    int from_grid;         /* the beats come from the host's grid */
    double loudness;       /* the grid section's loudness 0..1; -1 without */
};

/* Set up once, when the plug-in is first enabled: the tracker's buffers.
 * 0, or -1 when they cannot be had (the plug-in then never locks). */
int beat_clock_init(void);

/* Music starts afresh (playback start): the beat heard so far is
 * forgotten at the next callback. Any thread. */
void beat_clock_restart(void);

/* One callback, before the scheduler: row 0 of its spectrum. */
void beat_clock_feed(const int16_t bins[256]);

/* The beat for the callback in progress. */
const beat_view *beat_clock_view(void);

/* Where 0..1 through the current beat (1 only when no beat is known). */
double beat_clock_phase(const beat_view *v);

/* The host API's side (glim_host_api.h, version 2). */
void beat_clock_set_music_time(double seconds);
void beat_clock_state(glim_beat_state *out);
void beat_clock_set_following(int on);
int beat_clock_set_grid(const glim_grid_beat *beats, int num_beats,
                        const glim_grid_section *sections, int num_sections);

#endif
