/* plugin.h -- loading the visualisation plug-in the way the player does,
 * and the extras glimhost offers through the plug-in's host API
 * (xmms/glim_host_api.h): its pattern names, its light server port, one
 * fixed pattern in place of the rotation and the pattern running now. */
#ifndef HOST_PLUGIN_H
#define HOST_PLUGIN_H

#include <stddef.h>

#include "xmms/glim_host_api.h"
#include "xmms/vis_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Default plug-in path: lib/libglim.so next to the directory that holds
 * this program (<build>/bin -> <build>/lib) when it is there, else the
 * installed plug-in folder (<prefix>/bin -> <prefix>/lib/hallway-lights).
 * Writes it into buf and returns buf. */
const char *plugin_default_path(char *buf, size_t len);

/* dlopen (RTLD_NOW) and look up the library's host API, if it offers one
 * (the extras need it, the record does not). 0, or -1 with a one-line
 * reason in err. */
int plugin_open(const char *path, char *err, size_t err_len);

/* The plug-in's host API (version 1's table, or the start of version 2's),
 * or NULL when it offers none. plugin_open first. */
const glim_host_api *plugin_api(void);

/* The plug-in's host API version 2 (the beat, the music time, steering
 * while it runs), or NULL when it offers version 1 alone. plugin_open
 * first. */
const glim_host_api2 *plugin_api2(void);

/* The record, from get_vplugin_info, with the player's fields filled:
 * handle, filename, xmms_session 0 and disable_plugin. NULL with a reason
 * in err when the entry is missing or returns NULL. plugin_open first. */
VisPlugin *plugin_record(void (*disable_plugin)(VisPlugin *), char *err, size_t err_len);

/* Set the port of the plug-in's light server. 0, or -1 with a reason. */
int plugin_set_port(int port, char *err, size_t err_len);

/* Run pattern `name` with the option string in place of the rotation.
 * 0, or -1 with a reason. */
int plugin_set_pattern(const char *name, const char *options, char *err, size_t err_len);

/* Name of the pattern the plug-in runs now, or NULL (none yet, none
 * running, or no host API). Safe from any thread. */
const char *plugin_current_pattern(void);

/* Print the plug-in's pattern names, one a line. How many were printed,
 * or -1 with a reason when the plug-in has no host API. */
int plugin_list_patterns(char *err, size_t err_len);

#ifdef __cplusplus
}
#endif

#endif
