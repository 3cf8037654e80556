/* host_health.cpp -- ready and alive for the service manager, from the
 * rendering's progress (host_health.h). State: the source's name and the
 * callbacks counted at the last check. */
#include "host/host_health.h"

#include <glib.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "host/player.h"
#include "host/plugin.h"
#include "loop/loop.h"
#include "loop/loop_health.h"

namespace {

/* How often the main loop looks; the alive messages go at the health
 * floor's own pace, never more often. */
const guint CHECK_MS = 250;

const char *source_name = "";
long callbacks_then = 0;
double checked_at = 0;

/* The one-line state: source, callbacks a second, pattern. */
const char *describe(long per_second, char *buf, size_t size)
{
    const char *pattern = plugin_current_pattern();
    snprintf(buf, size, "Playing %s, %ld callbacks/s%s%s", source_name, per_second,
             pattern ? ", pattern " : "", pattern ? pattern : "");
    return buf;
}

/* Alive only when callbacks were made since the last time: a rendering
 * thread stuck in the plug-in or the sound server makes none. */
gboolean check(gpointer)
{
    double now = loop_now();
    if (!loop_health_due(now))
        return G_SOURCE_CONTINUE;
    long callbacks = player_callbacks();
    if (callbacks != callbacks_then) {
        char status[256];
        long per_second = lround((double)(callbacks - callbacks_then) / (now - checked_at));
        loop_health_alive(describe(per_second, status, sizeof status));
    }
    callbacks_then = callbacks;
    checked_at = now;
    return G_SOURCE_CONTINUE;
}

} // namespace

extern "C" void host_health_start(const char *name)
{
    source_name = name;
    callbacks_then = player_callbacks();
    checked_at = loop_now();
    char status[256];
    loop_health_ready(describe(0, status, sizeof status));
    if (getenv("NOTIFY_SOCKET"))
        g_timeout_add(CHECK_MS, check, nullptr);
}
