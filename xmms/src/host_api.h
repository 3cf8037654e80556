/* host_api.h -- inside the plug-in: the patterns by name behind
 * glim_host_api.h, as the scheduler asks for the name of a fixed pattern
 * a host hands over. */
#ifndef GLIM_HOST_API_INTERNAL_H
#define GLIM_HOST_API_INTERNAL_H

#include "xmms/glim_host_api.h"

/* The name of the pattern whose functions info holds, or NULL when no
 * named pattern has them. */
const char *pattern_name_of(const pattern_info *info);

#endif
