/* control.cpp -- the control socket's keys and its answer line
 * (control.h). No state. */
#include "wire/control.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

/* An answer being written: where it goes and whether it still fits. */
struct line {
    char *buf;
    size_t size, len;
    bool full;
};

void put(line *l, const char *format, ...) __attribute__((format(printf, 2, 3)));

void put(line *l, const char *format, ...)
{
    if (l->full)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(l->buf + l->len, l->size - l->len, format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= l->size - l->len)
        l->full = true;
    else
        l->len += (size_t)n;
}

/* A JSON string: quotes, backslashes and control characters escaped. */
void put_string(line *l, const char *text)
{
    put(l, "\"");
    for (const unsigned char *c = (const unsigned char *)(text ? text : ""); *c; c++) {
        if (*c == '"' || *c == '\\')
            put(l, "\\%c", *c);
        else if (*c < 0x20)
            put(l, "\\u%04x", *c);
        else
            put(l, "%c", *c);
    }
    put(l, "\"");
}

} // namespace

extern "C" {

int control_key(const void *datagram, size_t len)
{
    if (len != 1 || !datagram)
        return 0;
    char key = *(const char *)datagram;
    if (key == '\0' || !strchr(CONTROL_KEYS, key))
        return 0;
    return key;
}

int control_format_state(char *buf, size_t size, const struct control_state *state)
{
    if (!buf || size == 0)
        return -1;
    line l = {buf, size, 0, false};
    put(&l, "{\"" CONTROL_FIELD_FEEDS "\":[");
    int n = state->num_feeds < CONTROL_MAX_FEEDS ? state->num_feeds : CONTROL_MAX_FEEDS;
    for (int i = 0; i < n; i++) {
        put(&l, "%s{\"" CONTROL_FIELD_NAME "\":", i ? "," : "");
        put_string(&l, state->feeds[i].name);
        put(&l, ",\"" CONTROL_FIELD_HOST "\":");
        put_string(&l, state->feeds[i].host);
        put(&l, ",\"" CONTROL_FIELD_PORT "\":%u}", state->feeds[i].port);
    }
    put(&l, "],\"" CONTROL_FIELD_FEED "\":%d,\"" CONTROL_FIELD_LEVEL "\":%d,\"" CONTROL_FIELD_LIVE
            "\":%s}\n",
        state->feed, state->level, state->live ? "true" : "false");
    if (l.full) {
        buf[0] = '\0';
        return -1;
    }
    return (int)l.len;
}

} // extern "C"
