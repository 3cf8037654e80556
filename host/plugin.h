/* plugin.h -- loading the visualisation plug-in the way the player does,
 * and the extras glimhost offers through the plug-in's exported symbols:
 * its light server port and one fixed pattern in place of the rotation. */
#ifndef HOST_PLUGIN_H
#define HOST_PLUGIN_H

#include <stddef.h>

#include "xmms/vis_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The patterns glimhost looks for in a plug-in, NULL-terminated. */
extern const char *const plugin_known_patterns[];

/* Default plug-in path: lib/libglim.so next to the directory that holds
 * this program (<build>/bin -> <build>/lib, <prefix>/bin -> <prefix>/lib).
 * Writes it into buf and returns buf. */
const char *plugin_default_path(char *buf, size_t len);

/* dlopen (RTLD_NOW) and look up the library only, for --list-patterns and
 * the extras. 0, or -1 with a one-line reason in err. */
int plugin_open(const char *path, char *err, size_t err_len);

/* The record, from get_vplugin_info, with the player's fields filled:
 * handle, filename, xmms_session 0 and disable_plugin. NULL with a reason
 * in err when the entry is missing or returns NULL. plugin_open first. */
VisPlugin *plugin_record(void (*disable_plugin)(VisPlugin *), char *err, size_t err_len);

/* Set the plug-in's exported server_port. 0, or -1 with a reason. */
int plugin_set_port(int port, char *err, size_t err_len);

/* Look up NAME_init, NAME_frame, NAME_deinit and hand them with the
 * option string to glim_set_fixed_pattern. 0, or -1 with a reason. */
int plugin_set_pattern(const char *name, const char *options, char *err, size_t err_len);

/* For the status line: wrap the init of every row of the plug-in's
 * exported pattern table so that the host sees which pattern the
 * scheduler started. The same functions run in the same order with the
 * same arguments; only a note of the row is taken on the way. Call before
 * the plug-in's init. Rows wrapped, or -1 when there is no table. */
int plugin_watch_patterns(void);

/* Name of the pattern the scheduler last started (watched rows only),
 * or NULL before the first. Safe from any thread. */
const char *plugin_current_pattern(void);

/* Print the known pattern names whose three functions all resolve, one a
 * line. How many were printed. */
int plugin_list_patterns(void);

#ifdef __cplusplus
}
#endif

#endif
