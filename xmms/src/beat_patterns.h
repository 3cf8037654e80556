/* beat_patterns.h -- patterns that move on the beat: beat_pulse (the whole
 * hallway flashes on every beat and fades over it, the first beat of a bar
 * brighter) and beat_chase (one box lit a beat, walking along the hallway
 * and turning round every N bars). While no beat is followed both fall
 * back to the bass level. Not in the scheduler's table; exported so a host
 * can run them by name. */
#ifndef GLIM_BEAT_PATTERNS_H
#define GLIM_BEAT_PATTERNS_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(beat_pulse);
GLIM_PATTERN_DECL(beat_chase);

#ifdef __cplusplus
}
#endif

#endif
