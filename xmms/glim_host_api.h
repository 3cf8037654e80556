/* glim_host_api.h -- what a host may ask of the plug-in besides the
 * player's record (vis_plugin.h): the patterns by name, the name of the
 * pattern running now, one pattern in place of the random rotation, and
 * the port of the built-in light server.
 *
 * A host looks up one function by name with dlsym, glim_get_host_api, and
 * calls it with the version it was built against; it gets a table of
 * functions, or NULL when the plug-in offers another version. Plain C. */
#ifndef GLIM_HOST_API_H
#define GLIM_HOST_API_H

#include <stdint.h>

/* The plug-in is built with hidden visibility; what a host may look up by
 * name is marked with GLIM_EXPORT. */
#define GLIM_EXPORT __attribute__((visibility("default")))

/* Changes whenever glim_host_api or glim_named_pattern changes layout or
 * meaning. */
#define GLIM_HOST_API_VERSION 1

#ifdef __cplusplus
extern "C" {
#endif

/* A pattern: three functions, called on the player's rendering thread. */
typedef struct {
    /* Start; param is an option string ("key=value ...") or NULL. 0
     * accepts, anything else refuses (then no deinit follows). */
    int (*init)(char *param);
    /* One light frame into light_data (60 values); negative ends the
     * pattern. */
    int (*frame)(double *bar_averages, int16_t *bar_heights, int *light_data,
                 int16_t (*raw_data)[256], int time_left);
    /* Stop; result ignored. */
    int (*deinit)(void);
} pattern_info;

/* A pattern and the name a host runs it by ("rise"); its functions are
 * also exported as NAME_init, NAME_frame and NAME_deinit. */
typedef struct {
    const char *name;
    int (*init)(char *param);
    int (*frame)(double *bar_averages, int16_t *bar_heights, int *light_data,
                 int16_t (*raw_data)[256], int time_left);
    int (*deinit)(void);
} glim_named_pattern;

typedef struct {
    /* Every pattern a host may run, each once, ended by a record whose
     * name is NULL. Lives as long as the library. */
    const glim_named_pattern *patterns;

    /* The record of pattern `name`, or NULL when there is none. */
    const glim_named_pattern *(*find_pattern)(const char *name);

    /* Run one pattern instead of the random rotation: every draw of the
     * scheduler takes `info` and passes a writable copy of `options` (may
     * be NULL) to its init; analysis, frames, sending, messages and
     * running times are unchanged. Both are copied. NULL restores the
     * rotation. Call it before the plug-in's init. 0, or -1 when info has
     * a null init or frame. (The same function as the exported
     * glim_set_fixed_pattern.) */
    int (*set_fixed_pattern)(const pattern_info *info, const char *options);

    /* Name of the pattern running now, NULL before the first and whenever
     * none runs (or the one running has no name here). Safe to call from
     * any thread while the rendering thread runs the scheduler; the
     * string lives as long as the library. */
    const char *(*current_pattern)(void);

    /* UDP port of the built-in light server (default 7878). The server
     * binds it in the plug-in's init, so call it before init. 0, or -1
     * when port is outside 1..65535. */
    int (*set_port)(int port);
} glim_host_api;

/* The table for `version` (GLIM_HOST_API_VERSION), or NULL when this
 * plug-in does not offer that version. */
GLIM_EXPORT const glim_host_api *glim_get_host_api(int version);

/* Also reachable through glim_host_api.set_fixed_pattern. */
GLIM_EXPORT int glim_set_fixed_pattern(const pattern_info *info,
                                       const char *options);

#ifdef __cplusplus
}
#endif

#endif
