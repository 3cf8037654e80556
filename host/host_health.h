/* host_health.h -- glimhost's health for the service manager: ready once
 * the music plays, then alive only while the rendering thread makes
 * callbacks. The check runs on the GLib main loop, so a hung main loop
 * and a hung rendering thread both stop the alive messages, and the
 * watchdog restarts the show. Without a manager (no NOTIFY_SOCKET) it
 * does nothing. */
#ifndef HOST_HOST_HEALTH_H
#define HOST_HOST_HEALTH_H

#ifdef __cplusplus
extern "C" {
#endif

/* Say ready, and check the rendering from the main loop from now on;
 * source_name heads the state line and must outlive the run. */
void host_health_start(const char *source_name);

#ifdef __cplusplus
}
#endif

#endif
