/* host_api.h -- inside the plug-in: the patterns by name behind
 * glim_host_api.h, as the scheduler names the pattern it runs. */
#ifndef GLIM_HOST_API_INTERNAL_H
#define GLIM_HOST_API_INTERNAL_H

#include "xmms/glim_host_api.h"

/* The name of the pattern whose functions info holds, or NULL when no
 * named pattern has them. */
const char *pattern_name_of(const pattern_info *info);

/* The name of the pattern at `place` in the pattern list. */
const char *host_api_name(int place);

/* The pattern at `place` in the pattern list. */
const glim_named_pattern *host_api_pattern(int place);

#endif
