/* simple_patterns.h -- the pattern toolkit (band levels from the spectrum,
 * fading and clamping light values, hallway coordinates) and the patterns
 * of the scheduler's table. Every pattern module takes its helpers from
 * here. */
#ifndef GLIM_SIMPLE_PATTERNS_H
#define GLIM_SIMPLE_PATTERNS_H

#include <limits.h>

#include "interface_2001.h"
#include "pattern.h"

/* The cross-section ring: channels at positions 0..5 of a ring of 8
 * (6 and 7 are the unlit floor). */
#define RING_SIZE 8

#ifdef __cplusplus
extern "C" {
#endif

/* Hallway coordinates: LIGHT_BOXES boxes of LIGHT_CHANNELS_PER_BOX
 * channels (interface_2001.h). Channels go round the cross-section: 0
 * lower left wall, 1 upper left, 2 left ceiling, 3 right ceiling, 4 upper
 * right, 5 lower right; mirror pairs (0,5) (1,4) (2,3). */
static inline int light_index(int box, int channel)
{
    return box * LIGHT_CHANNELS_PER_BOX + channel;
}

/* v held within lo..hi (lo <= hi). Taken wide, so a sum of two ints
 * clamps instead of overflowing. */
static inline int clamp_int(long long v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : (int)v;
}

/* v held within a light's range, 0..255. */
static inline int clamp_byte(long long v)
{
    return clamp_int(v, 0, 255);
}

/* v lowered by step, not below 0; wide arithmetic so that odd values left
 * by another pattern or an option cannot overflow. */
static inline int dim(int v, int step)
{
    return clamp_int((long long)v - step, 0, INT_MAX);
}

/* Band levels: n levels in [0, 1] into lev[0..n-1] from row 0 of raw_data,
 * band 0 the lowest; returns the overall level in [0, 1]. Adapts a gain
 * and a tilt shared by every caller. n below 1 returns 0 and writes
 * nothing. */
GLIM_EXPORT double get_n_scaled_values(int16_t (*raw_data)[256], double *lev,
                                       int n);

/* Lower each of the 60 values by 48, not below 0. */
GLIM_EXPORT void fade_hallway(int *light_data);

/* The bass level of this frame, in [0, 1]: one band (bins 0..5) of
 * get_n_scaled_values, so it moves that function's gain and tilt too. */
double bass_level(int16_t (*raw_data)[256]);

/* Distance on the ring from angle rot (in [0, 8)) to channel c, 0..4. */
static inline double ring_distance(double rot, int c)
{
    double d = rot - c;
    if (d < 0)
        d = -d;
    if (d > RING_SIZE / 2)
        d = RING_SIZE - d;
    return d;
}

/* Messages the patterns share. */
#define MSG_RANDOM_DIRECTION "Randomly picking direction %d.\n"
#define MSG_TOLD_DIRECTION "Being told to use direction %d.\n"
#define MSG_RANDOM_FADE "Randomly picking fade val %d.\n"

GLIM_PATTERN_DECL(brightness_level);
GLIM_PATTERN_DECL(random_spots);
GLIM_PATTERN_DECL(sine_wave);
GLIM_PATTERN_DECL(spinning_stripe);
GLIM_PATTERN_DECL(rise);

#ifdef __cplusplus
}
#endif

#endif
