/* control.cpp -- the control socket's keys, its answer line and the keys
 * that move the master level (control.h). No state. */
#include "wire/control.h"

#include <stdlib.h>
#include <string.h>

#include "wire/json_line.h"

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
    json_line l;
    json_line_start(&l, buf, size);
    json_line_put(&l, "{\"" CONTROL_FIELD_FEEDS "\":[");
    int n = state->num_feeds < CONTROL_MAX_FEEDS ? state->num_feeds : CONTROL_MAX_FEEDS;
    for (int i = 0; i < n; i++) {
        json_line_put(&l, "%s{\"" CONTROL_FIELD_NAME "\":", i ? "," : "");
        json_line_string(&l, state->feeds[i].name);
        json_line_put(&l, ",\"" CONTROL_FIELD_HOST "\":");
        json_line_string(&l, state->feeds[i].host);
        json_line_put(&l, ",\"" CONTROL_FIELD_PORT "\":%u}", state->feeds[i].port);
    }
    json_line_put(&l,
                  "],\"" CONTROL_FIELD_FEED "\":%d,\"" CONTROL_FIELD_LEVEL "\":%d,\"" CONTROL_FIELD_LIVE
                  "\":%s}",
                  state->feed, state->level, state->live ? "true" : "false");
    return json_line_end(&l);
}

int control_level_keys(int from, int to, char *keys, size_t size)
{
    if (from < 0 || from > CONTROL_LEVEL_MAX || to < 0 || to > CONTROL_LEVEL_MAX)
        return -1;
    int distance = abs(to - from);
    int steps = (distance + CONTROL_LEVEL_STEP / 2) / CONTROL_LEVEL_STEP;
    if (to == 0 || to == CONTROL_LEVEL_MAX)
        steps = (distance + CONTROL_LEVEL_STEP - 1) / CONTROL_LEVEL_STEP;
    else if (to < from && from - steps * CONTROL_LEVEL_STEP <= 0)
        steps = (from - 1) / CONTROL_LEVEL_STEP;  /* dim, but not dark */
    if ((size_t)steps > size)
        return -1;
    memset(keys, to > from ? CONTROL_KEY_UP : CONTROL_KEY_DOWN, (size_t)steps);
    return steps;
}

} // extern "C"
