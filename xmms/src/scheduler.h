/* scheduler.h -- the pattern scheduler: draws rows of the pattern table
 * (or the fixed pattern) at random, gives each a random running time and
 * runs the current one's frame into the light frame. */
#ifndef GLIM_SCHEDULER_H
#define GLIM_SCHEDULER_H

#include <stdint.h>

#include "interface_2001.h"

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

#endif
