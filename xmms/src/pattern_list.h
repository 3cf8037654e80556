/* pattern_list.h -- every pattern of the library, once: its name and how
 * many rows it has in the scheduler's table. The scheduler's table
 * (scheduler.cpp) and the host API's patterns by name (host_api.cpp) are
 * both made from this list, so a pattern added here is in both, in the
 * same order. */
#ifndef GLIM_PATTERN_LIST_H
#define GLIM_PATTERN_LIST_H

#include "beat_patterns.h"
#include "game_patterns.h"
#include "simple_patterns.h"
#include "simple_patterns_equalizers.h"
#include "simple_patterns_explosion.h"
#include "simple_patterns_meters.h"
#include "simple_patterns_motion.h"

/* X(NAME, ROWS) for each pattern, in the order a host lists them. ROWS is
 * 0 for a pattern run by name only; brightness_level has two rows, so the
 * scheduler draws it twice as often as each of the others. */
#define PATTERN_LIST(X)         \
    X(sine_wave, 1)             \
    X(rise, 1)                  \
    X(random_spots, 1)          \
    X(brightness_level, 2)      \
    X(spinning_stripe, 1)       \
    X(simple_equalizer, 0)      \
    X(ring_equalizer, 0)        \
    X(trailing_lines, 0)        \
    X(bar_equalizer, 0)         \
    X(center_meter, 0)          \
    X(vertical_meter, 0)        \
    X(swirl_meter, 0)           \
    X(vertical_spectrum, 0)     \
    X(warp_core, 0)             \
    X(explosion, 0)             \
    X(auto_pong, 0)             \
    X(beat_pulse, 0)            \
    X(beat_chase, 0)

/* Each pattern's place in the list: PATTERN_LIST_sine_wave is 0. */
#define PATTERN_LIST_PLACE(NAME, ROWS) PATTERN_LIST_##NAME,
enum { PATTERN_LIST(PATTERN_LIST_PLACE) };

/* M(NAME) once for each of the pattern's ROWS rows. */
#define PATTERN_LIST_ROWS(NAME, ROWS, M) PATTERN_LIST_ROWS_##ROWS(NAME, M)
#define PATTERN_LIST_ROWS_0(NAME, M)
#define PATTERN_LIST_ROWS_1(NAME, M) M(NAME)
#define PATTERN_LIST_ROWS_2(NAME, M) M(NAME) M(NAME)

#endif
