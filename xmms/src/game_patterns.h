/* game_patterns.h -- auto_pong: two computer players play pong on the
 * lights, the hallway's length the direction of play. Ends itself after the
 * third miss. Not in the scheduler's table; exported so a host can run it
 * by name. */
#ifndef GLIM_GAME_PATTERNS_H
#define GLIM_GAME_PATTERNS_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

GLIM_PATTERN_DECL(auto_pong);

#ifdef __cplusplus
}
#endif

#endif
