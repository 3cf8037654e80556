/* loop_health.h -- a service's health for the service manager (systemd's
 * notify protocol, through libsystemd): ready once set up, alive from the
 * loop for the watchdog, and the one-line state ("STATUS=") that
 * `systemctl status` shows. Without a manager (no NOTIFY_SOCKET) every
 * call does nothing. Plain C. */
#ifndef LOOP_LOOP_HEALTH_H
#define LOOP_LOOP_HEALTH_H

#ifdef __cplusplus
extern "C" {
#endif

/* The program is set up and serving; status is its first state line. */
void loop_health_ready(const char *status);

/* 1 when the loop should say it is alive (at half the watchdog's interval,
 * and at least once a second for the state line), 0 otherwise; now is
 * loop_now(). Cheap: call it every turn. */
int loop_health_due(double now);

/* Alive, with the state line (sent only when it changed). */
void loop_health_alive(const char *status);

#ifdef __cplusplus
}
#endif

#endif
