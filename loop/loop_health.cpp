/* loop_health.cpp -- ready, alive and the state line for the service
 * manager. State: whether there is a manager, the watchdog's interval,
 * when the loop last said it was alive, and the state line last sent. */
#include "loop/loop_health.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <systemd/sd-daemon.h>

namespace {

bool managed = false;        /* NOTIFY_SOCKET was set at ready */
double period = 1.0;         /* seconds between alive messages */
double next_due = 0;         /* loop_now() when the next one is due */
char last_status[256] = "";  /* the state line last sent */

} // namespace

extern "C" {

void loop_health_ready(const char *status)
{
    managed = getenv("NOTIFY_SOCKET") != nullptr;
    if (!managed)
        return;
    uint64_t usec = 0;
    /* Half the watchdog's interval leaves room for one late turn. */
    if (sd_watchdog_enabled(0, &usec) > 0 && usec / 2e6 < period)
        period = usec / 2e6;
    snprintf(last_status, sizeof last_status, "%s", status ? status : "");
    sd_notifyf(0, "READY=1\nSTATUS=%s", last_status);
}

int loop_health_due(double now)
{
    if (!managed || now < next_due)
        return 0;
    next_due = now + period;
    return 1;
}

void loop_health_alive(const char *status)
{
    if (!managed)
        return;
    if (status && strcmp(status, last_status) != 0) {
        snprintf(last_status, sizeof last_status, "%s", status);
        sd_notifyf(0, "WATCHDOG=1\nSTATUS=%s", last_status);
    } else {
        sd_notify(0, "WATCHDOG=1");
    }
}

} // extern "C"
