/* simple_patterns_equalizers.h -- patterns that show the spectrum band by
 * band: one bar per box, bands travelling down the hallway, a spot circling
 * the cross-section, bands climbing from floor to ceiling. Not in the
 * scheduler's table; exported so a host can run them by name. */
#ifndef GLIM_SIMPLE_PATTERNS_EQUALIZERS_H
#define GLIM_SIMPLE_PATTERNS_EQUALIZERS_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(simple_equalizer);
GLIM_PATTERN_DECL(ring_equalizer);
GLIM_PATTERN_DECL(swirl_meter);
GLIM_PATTERN_DECL(vertical_spectrum);

#ifdef __cplusplus
}
#endif

#endif
