/* glim_host_api.h -- what a host may ask of the plug-in besides the
 * player's record (vis_plugin.h): the patterns by name, the name of the
 * pattern running now, one pattern in place of the random rotation, and
 * the port of the built-in light server; from version 2 also the music
 * time of each callback, the beat the plug-in follows, a beat grid found
 * ahead of play, and the patterns steered while the show runs.
 *
 * A host looks up one function by name with dlsym, glim_get_host_api, and
 * calls it with the version it was built against; it gets a table of
 * functions, or NULL when the plug-in does not offer that version. Version
 * 1's table is still served, unchanged; version 2's starts with it.
 * Plain C. */
#ifndef GLIM_HOST_API_H
#define GLIM_HOST_API_H

#include <stdint.h>

/* The plug-in is built with hidden visibility; what a host may look up by
 * name is marked with GLIM_EXPORT. */
#define GLIM_EXPORT __attribute__((visibility("default")))

/* Changes whenever a table, or a record it hands over, changes layout or
 * meaning. The newest; every older version is still offered. */
#define GLIM_HOST_API_VERSION 2

#ifdef __cplusplus
extern "C" {
#endif

/* A pattern: three functions, called on the player's rendering thread. */
typedef struct {
    /* Start; param is an option string ("key=value ...") or NULL. 0
     * accepts, anything else refuses (then no deinit follows). */
    int (*init)(char *param);
    /* One light frame into light_data (60 values); negative ends the
     * pattern. */
    int (*frame)(double *bar_averages, int16_t *bar_heights, int *light_data,
                 int16_t (*raw_data)[256], int time_left);
    /* Stop; result ignored. */
    int (*deinit)(void);
} pattern_info;

/* A pattern and the name a host runs it by ("rise"); its functions are
 * also exported as NAME_init, NAME_frame and NAME_deinit. */
typedef struct {
    const char *name;
    int (*init)(char *param);
    int (*frame)(double *bar_averages, int16_t *bar_heights, int *light_data,
                 int16_t (*raw_data)[256], int time_left);
    int (*deinit)(void);
} glim_named_pattern;

typedef struct {
    /* Every pattern a host may run, each once, ended by a record whose
     * name is NULL. Lives as long as the library. */
    const glim_named_pattern *patterns;

    /* The record of pattern `name`, or NULL when there is none. */
    const glim_named_pattern *(*find_pattern)(const char *name);

    /* Run one pattern instead of the random rotation: every draw of the
     * scheduler takes `info` and passes a writable copy of `options` (may
     * be NULL) to its init; analysis, frames, sending, messages and
     * running times are unchanged. Both are copied. NULL restores the
     * rotation. Call it before the plug-in's init. 0, or -1 when info has
     * a null init or frame. (The same function as the exported
     * glim_set_fixed_pattern.) */
    int (*set_fixed_pattern)(const pattern_info *info, const char *options);

    /* Name of the pattern running now, NULL before the first and whenever
     * none runs (or the one running has no name here). Safe to call from
     * any thread while the rendering thread runs the scheduler; the
     * string lives as long as the library. */
    const char *(*current_pattern)(void);

    /* UDP port of the built-in light server (default 7878). The server
     * binds it in the plug-in's init, so call it before init. 0, or -1
     * when port is outside 1..65535. */
    int (*set_port)(int port);
} glim_host_api;

/* The beat as the plug-in follows it (version 2). Times are music time:
 * seconds from the start of the file (or of playback), as the host told
 * it (set_music_time), or counted in callbacks at their measured rate. */
typedef struct {
    int locked;           /* a steady beat is being followed */
    int from_grid;        /* the beats come from the host's grid */
    double bpm;           /* tempo, 0 while unknown */
    double confidence;    /* 0..1 */
    double phase;         /* 0..1 through the current beat */
    long beat_count;      /* beats signalled so far */
    int beat_in_bar;      /* 1..beats_per_bar, 0 while unknown */
    int beats_per_bar;    /* 4, or 3 in triple time */
    long bar_count;       /* bars begun so far */
    double last_beat;     /* music time of the latest beat, 0 before any */
    double next_beat;     /* music time of the next, as predicted; 0 unknown */
} glim_beat_state;

/* One beat of a grid found ahead of play: its music time and its place in
 * the bar (1 = the bar's first beat). */
typedef struct {
    double time;
    int beat_in_bar;
} glim_grid_beat;

/* One section of a grid: where it starts (music time), how loud it is
 * (0..1 across the song), and whether it is a drop (loud after quiet). */
typedef struct {
    double start;
    double loudness;
    int drop;
} glim_grid_section;

/* Version 2: version 1's table first, then the rest. */
typedef struct {
    glim_host_api v1;

    /* The music time (seconds) at which the samples of the next
     * render_freq are heard; call it just before each render_freq, on the
     * rendering thread. Without it the plug-in counts callbacks. */
    void (*set_music_time)(double seconds);

    /* Copy the beat state into *out. Any thread. */
    void (*beat_state)(glim_beat_state *out);

    /* 1 (the default) follows the beat; 0 turns beat following off: the
     * beat patterns fall back to the bass level and the scheduler changes
     * patterns as in version 1. Any thread. */
    void (*set_beat_following)(int on);

    /* Hand over a grid found ahead of play, sorted by time; the plug-in
     * copies it. It takes over from the live tracker at the next bar.
     * NULL/0 drops the grid. 0, or -1 when it cannot be kept. Any thread. */
    int (*set_beat_grid)(const glim_grid_beat *beats, int num_beats,
                         const glim_grid_section *sections, int num_sections);

    /* Steering while the show runs, from any thread, taking effect at the
     * next callback: run pattern `name` with `options` (may be NULL) in
     * place of the rotation (0, or -1 for a name the plug-in does not
     * have); NULL name: back to the rotation. */
    int (*fix_pattern)(const char *name, const char *options);

    /* End the current pattern now: the next is drawn (or the fixed one
     * started again) at the next callback. */
    void (*next_pattern)(void);

    /* 1 while a fixed pattern replaces the rotation. */
    int (*pattern_is_fixed)(void);
} glim_host_api2;

/* The table for `version` (1, or 2 whose table starts with version 1's:
 * cast the result to const glim_host_api2 *), or NULL when this plug-in
 * does not offer that version. */
GLIM_EXPORT const glim_host_api *glim_get_host_api(int version);

/* Also reachable through glim_host_api.set_fixed_pattern. */
GLIM_EXPORT int glim_set_fixed_pattern(const pattern_info *info,
                                       const char *options);

#ifdef __cplusplus
}
#endif

#endif
