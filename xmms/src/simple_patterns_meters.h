/* simple_patterns_meters.h -- meters driven by the bass level: a bar of
 * boxes from one end, a bar from the middle outwards, and every box filling
 * from the floor to the ceiling. Not in the scheduler's table; exported so
 * a host can run them by name. */
#ifndef GLIM_SIMPLE_PATTERNS_METERS_H
#define GLIM_SIMPLE_PATTERNS_METERS_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(bar_equalizer);
GLIM_PATTERN_DECL(center_meter);
GLIM_PATTERN_DECL(vertical_meter);

#ifdef __cplusplus
}
#endif

#endif
