/* host_control.cpp -- glimhost's control socket (host_control.h).
 *
 * The plug-in takes steering at its next callback, so an answer sent at
 * once would still show the pattern before the command; for the two
 * callbacks it may take, the answer shows what was commanded instead.
 * A pattern that ends itself leaves the plug-in naming none until the
 * next callback; an answer that meets such a gap keeps the last name, and
 * only an answer after the gap has lasted two callbacks says none runs,
 * so that a consumer asking at that moment sees no change that is not
 * one.
 *
 * State: the socket, the setup it answers with, the command waiting to be
 * taken and the last pattern named; main thread only. */
#include "host/host_control.h"

#include <glib-unix.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>

#include "host/player.h"
#include "host/plugin.h"
#include "wire/control_server.h"
#include "wire/show_control.h"

namespace {

/* Callbacks after which steering has surely been taken (the one under
 * way may be past that point), or a gap between patterns is over. */
const long CALLBACKS_TO_TAKE = 2;

control_server server = {-1, nullptr, nullptr};
host_control_setup live_setup;

/* A command the plug-in has not taken yet. */
struct {
    show_command_kind kind;     /* SHOW_PATTERN or SHOW_AUTO; SHOW_ASK: none */
    const char *name;           /* SHOW_PATTERN: the plug-in's own string */
    long at;                    /* callbacks when it was given */
} pending = {SHOW_ASK, nullptr, 0};

const char *last_named = nullptr;
long unnamed_since = -1;          /* callbacks when none was first named, -1 */

/* "locked" and "tempo" are reported once the plug-in's beat state says
 * anything at all; a plug-in that follows no beat leaves it all zero. */
bool beat_known(const glim_beat_state &b)
{
    return b.locked || b.from_grid || b.bpm != 0 || b.confidence != 0 || b.beat_count ||
           b.beat_in_bar || b.bar_count || b.last_beat != 0 || b.next_beat != 0;
}

/* Act on a command; NULL, or why it changed nothing (in why). */
const char *act(const host_control_setup *h, const show_command &c, char *why, size_t size)
{
    if (c.kind == SHOW_ASK)
        return nullptr;
    if (c.kind == SHOW_DELAY) {
        if (h->set_delay(c.delay_ms, why, size) != 0)
            return why;
        if (h->log)
            printf("glimhost: control: delay %d ms\n", c.delay_ms);
        return nullptr;
    }
    if (!h->api2) {
        snprintf(why, size, "the plug-in cannot be steered while it runs (it offers host API "
                            "version 1 alone)");
        return why;
    }
    long now = h->callbacks();
    if (c.kind == SHOW_NEXT) {
        h->api2->next_pattern();
    } else if (c.kind == SHOW_AUTO) {
        h->api2->fix_pattern(nullptr, nullptr);
        pending = {SHOW_AUTO, nullptr, now};
    } else {
        const glim_named_pattern *p = h->api->find_pattern(c.pattern);
        if (!p) {
            snprintf(why, size, "no pattern \"%s\" in the plug-in", c.pattern);
            return why;
        }
        if (h->api2->fix_pattern(c.pattern, c.has_options ? c.options : nullptr) != 0) {
            snprintf(why, size, "the plug-in refused pattern \"%s\"", c.pattern);
            return why;
        }
        pending = {SHOW_PATTERN, p->name, now};
    }
    if (h->log) {
        char text[SHOW_COMMAND_MAX + 1];
        if (show_format_command(text, sizeof text, &c) > 0)
            printf("glimhost: control: %s\n", text);
    }
    return nullptr;
}

/* The state the answer describes (patterns into names). */
void describe(const host_control_setup *h, show_state *s, const char **names)
{
    memset(s, 0, sizeof *s);
    long now = h->callbacks();
    const char *running = h->api ? h->api->current_pattern() : nullptr;
    if (running) {
        last_named = running;
        unnamed_since = -1;
    } else {
        if (unnamed_since < 0)
            unnamed_since = now;
        if (now - unnamed_since <= CALLBACKS_TO_TAKE)
            running = last_named;
    }
    s->pattern = running;
    s->fixed = h->api2 ? h->api2->pattern_is_fixed() : h->fixed_at_start;
    if (pending.kind != SHOW_ASK && now - pending.at <= CALLBACKS_TO_TAKE) {
        s->fixed = pending.kind == SHOW_PATTERN;
        if (pending.kind == SHOW_PATTERN)
            s->pattern = pending.name;
    } else {
        pending.kind = SHOW_ASK;
    }
    s->delay_ms = h->delay();
    for (const glim_named_pattern *p = h->api ? h->api->patterns : nullptr;
         p && p->name && s->num_patterns < SHOW_MAX_PATTERNS; p++)
        names[s->num_patterns++] = p->name;
    s->patterns = names;
    if (h->api2) {
        glim_beat_state b;
        memset(&b, 0, sizeof b);
        h->api2->beat_state(&b);
        if (beat_known(b)) {
            s->has_locked = 1;
            s->locked = b.locked != 0;
            s->has_tempo = b.bpm > 0;
            s->tempo = b.bpm;
        }
    }
}

gboolean on_readable(gint, GIOCondition, gpointer)
{
    control_server_turn(&server);
    return G_SOURCE_CONTINUE;
}

} // namespace

int host_control_answer(void *setup, const void *datagram, size_t len, char *answer, size_t size)
{
    const host_control_setup *h = (const host_control_setup *)setup;
    show_command c;
    char why[200];
    const char *error = why;
    if (show_parse_command(datagram, len, &c, why, sizeof why) == 0)
        error = act(h, c, why, sizeof why);
    static const char *names[SHOW_MAX_PATTERNS];
    show_state s;
    describe(h, &s, names);
    s.error = error;
    int n = show_format_answer(answer, size, &s);
    return n > 0 ? n : 0;
}

int host_control_start(int port, int fixed_at_start, char *err, size_t errlen)
{
    live_setup = {plugin_api(), plugin_api2(), fixed_at_start, player_callbacks,
                  player_light_delay, player_change_light_delay, 1};
    char why[160];
    if (control_server_open(&server, port, host_control_answer, &live_setup, why, sizeof why) !=
        0) {
        snprintf(err, errlen, "--control: %s", why);
        return -1;
    }
    g_unix_fd_add(server.sock, G_IO_IN, on_readable, nullptr);
    return 0;
}
