/* simple_patterns_motion.h -- patterns whose light moves by itself: single
 * lights running the length of the hallway with fading trails, and rings
 * running from both ends to the middle. Not in the scheduler's table;
 * exported so a host can run them by name. */
#ifndef GLIM_SIMPLE_PATTERNS_MOTION_H
#define GLIM_SIMPLE_PATTERNS_MOTION_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(trailing_lines);
GLIM_PATTERN_DECL(warp_core);

#ifdef __cplusplus
}
#endif

#endif
