/* scheduler.h -- the pattern scheduler: draws rows of the pattern table
 * (or the fixed pattern) at random, gives each a random running time and
 * runs the current one's frame into the light frame. */
#ifndef GLIM_SCHEDULER_H
#define GLIM_SCHEDULER_H

#include <stdint.h>

#include "interface_2001.h"
#include "pattern.h"

/* The light frame the current pattern writes and that is sent; never
 * cleared. */
extern int light_data[LIGHT_CHANNELS];

/* Count the rows of the pattern table into num_patterns. */
void count_patterns(void);

/* One callback's scheduling, before the frame: the running time counts
 * down, a pattern whose time is up is stopped, and when none is current a
 * new one is drawn. */
void schedule(void);

/* The current pattern's frame into light_data; a pattern that ends itself
 * is stopped. Nothing when no pattern is current. */
void run_frame(int16_t data[2][256]);

/* Name of the pattern running now, or NULL. Any thread. */
const char *current_pattern_name(void);

/* Longest option string a host may hand in while the show runs. */
#define SCHEDULER_OPTIONS_MAX 512

/* From any thread, for the next callback: run `info` with `options` in
 * place of the rotation (NULL info: the rotation again), ending the
 * current pattern. 0, or -1 for a record without init or frame, or
 * options too long. */
int scheduler_fix(const pattern_info *info, const char *options);

/* From any thread: end the current pattern at the next callback. */
void scheduler_next(void);

/* 1 while a fixed pattern replaces the rotation. Any thread. */
int scheduler_is_fixed(void);

#endif
