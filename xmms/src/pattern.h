/* pattern.h -- the pattern contract shared by the scheduler and every
 * pattern module: a pattern is three functions (start, one frame, stop)
 * held in a pattern_info record; the scheduler draws rows of `patterns`.
 * Plain C linkage, so a player or a test can look them up with dlsym. */
#ifndef GLIM_PATTERN_H
#define GLIM_PATTERN_H

#include <stdint.h>

/* The plug-in is built with hidden visibility; what a host or a test may
 * look up by name is marked with GLIM_EXPORT. */
#define GLIM_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    /* Start; param is an option string or NULL. 0 accepts, anything else
     * refuses (the scheduler then draws again, no deinit). */
    int (*init)(char *param);
    /* One light frame into light_data; negative ends the pattern. */
    int (*frame)(double *bar_averages, int16_t *bar_heights, int *light_data,
                 int16_t (*raw_data)[256], int time_left);
    /* Stop; result ignored. */
    int (*deinit)(void);
} pattern_info;

/* The scheduler's table, ended by a row of three nulls. */
GLIM_EXPORT extern pattern_info patterns[];

/* Rows before the first null init; counted by glim_init. */
extern int num_patterns;

/* Declares the three exported functions of pattern NAME. */
#define GLIM_PATTERN_DECL(name)                                              \
    GLIM_EXPORT int name##_init(char *param);                                \
    GLIM_EXPORT int name##_frame(double *bar_averages, int16_t *bar_heights, \
                                 int *light_data, int16_t (*raw_data)[256],  \
                                 int time_left);                             \
    GLIM_EXPORT int name##_deinit(void)

/* Run one pattern instead of the random rotation (a player stand-in or a
 * test uses it). While set, every draw of the scheduler takes this record
 * instead of a table row and passes a writable copy of `options` (may be
 * NULL) to its init; everything else (analysis, frame, send, messages,
 * time_left drawing) is unchanged. NULL restores the table. Call it before
 * the plug-in's init. Returns 0, -1 when info has a null init or frame. */
GLIM_EXPORT int glim_set_fixed_pattern(const pattern_info *info,
                                       const char *options);

#ifdef __cplusplus
}
#endif

#endif
