/* simple_patterns_explosion.h -- explosion: a disc of light bursts out from
 * the middle of the hallway and burns out from the middle, then the pattern
 * ends itself. Not in the scheduler's table; exported so a host can run it
 * by name. */
#ifndef GLIM_SIMPLE_PATTERNS_EXPLOSION_H
#define GLIM_SIMPLE_PATTERNS_EXPLOSION_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(explosion);

#ifdef __cplusplus
}
#endif

#endif
