/* pattern.h -- inside the plug-in: the scheduler's table and the
 * declaration of a pattern's three exported functions. The pattern
 * record itself (pattern_info) is part of the host API, glim_host_api.h.
 * Plain C linkage, so a player or a test can look them up with dlsym. */
#ifndef GLIM_PATTERN_H
#define GLIM_PATTERN_H

#include "xmms/glim_host_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The scheduler's table, ended by a row of three nulls. */
GLIM_EXPORT extern pattern_info patterns[];

/* Rows before the first null init; counted by glim_init. */
extern int num_patterns;

/* Declares the three exported functions of pattern NAME. */
#define GLIM_PATTERN_DECL(name)                                              \
    GLIM_EXPORT int name##_init(char *param);                                \
    GLIM_EXPORT int name##_frame(double *bar_averages, int16_t *bar_heights, \
                                 int *light_data, int16_t (*raw_data)[256],  \
                                 int time_left);                             \
    GLIM_EXPORT int name##_deinit(void)

#ifdef __cplusplus
}
#endif

#endif
