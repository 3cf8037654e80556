/* web_message.cpp -- reading and writing the JSON that crosses the
 * WebSocket (web_message.h). cJSON does the JSON; no state here. */
#include "hallweb/web_message.h"

#include <cjson/cJSON.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

namespace {

/* The whole number in `item` if it is one in min..max; -1 otherwise. */
int whole_number(const cJSON *item, int min, int max)
{
    if (!cJSON_IsNumber(item))
        return -1;
    double v = item->valuedouble;
    if (!(v >= min && v <= max) || v != floor(v))
        return -1;
    return (int)v;
}

/* Print `root` into buf and free it; the length, or -1 (empty buf). */
int print_into(cJSON *root, char *buf, size_t size)
{
    /* cJSON asks for 5 bytes of slack over what it writes. */
    int ok = root && size > 5 && cJSON_PrintPreallocated(root, buf, (int)(size - 5), 0);
    cJSON_Delete(root);
    if (!ok) {
        if (size)
            buf[0] = '\0';
        return -1;
    }
    return (int)strlen(buf);
}

} // namespace

int web_message_parse(const char *text, size_t len, web_message *m, char *err, size_t errlen)
{
    if (len > WEB_MESSAGE_MAX) {
        snprintf(err, errlen, "message too long: %zu bytes, at most %d", len, WEB_MESSAGE_MAX);
        return -1;
    }
    cJSON *root = cJSON_ParseWithLength(text, len);
    if (!root || !cJSON_IsObject(root)) {
        cJSON_Delete(root);
        snprintf(err, errlen, "not a JSON object");
        return -1;
    }
    const cJSON *type = cJSON_GetObjectItemCaseSensitive(root, "type");
    const char *t = cJSON_IsString(type) ? type->valuestring : "";
    int result = -1;
    memset(m, 0, sizeof *m);
    if (strcmp(t, "view") == 0) {
        m->kind = WEB_MSG_VIEW;
        m->feed = whole_number(cJSON_GetObjectItemCaseSensitive(root, "feed"), 0, WEB_MAX_FEEDS - 1);
        if (m->feed >= 0)
            result = 0;
        else
            snprintf(err, errlen, "view needs \"feed\", a whole number from 0 to %d",
                     WEB_MAX_FEEDS - 1);
    } else if (strcmp(t, "auth") == 0) {
        m->kind = WEB_MSG_AUTH;
        const cJSON *token = cJSON_GetObjectItemCaseSensitive(root, "token");
        size_t n = cJSON_IsString(token) ? strlen(token->valuestring) : WEB_TOKEN_MAX + 1;
        if (n <= WEB_TOKEN_MAX) {
            memcpy(m->token, token->valuestring, n + 1);
            m->token_len = n;
            result = 0;
        } else {
            snprintf(err, errlen, "auth needs \"token\", a string of at most %d bytes",
                     WEB_TOKEN_MAX);
        }
    } else if (strcmp(t, "select") == 0) {
        m->kind = WEB_MSG_SELECT;
        m->feed = whole_number(cJSON_GetObjectItemCaseSensitive(root, "feed"), 0, 9);
        if (m->feed >= 0)
            result = 0;
        else
            snprintf(err, errlen, "select needs \"feed\", a whole number from 0 to 9");
    } else if (strcmp(t, "level") == 0) {
        m->kind = WEB_MSG_LEVEL;
        m->level = whole_number(cJSON_GetObjectItemCaseSensitive(root, "level"), 0,
                                CONTROL_LEVEL_MAX);
        if (m->level >= 0 && m->level % CONTROL_LEVEL_STEP == 0)
            result = 0;
        else
            snprintf(err, errlen, "level needs \"level\", 0 to %d in steps of %d",
                     CONTROL_LEVEL_MAX, CONTROL_LEVEL_STEP);
    } else if (strcmp(t, "next") == 0 || strcmp(t, "auto") == 0) {
        m->kind = t[0] == 'n' ? WEB_MSG_NEXT : WEB_MSG_AUTO;
        result = 0;
    } else {
        snprintf(err, errlen, "unknown message type; known: view, auth, select, level, next, auto");
    }
    cJSON_Delete(root);
    return result;
}

int web_message_hello(char *buf, size_t size, const web_feed_arg *feeds, int num_feeds,
                      int has_driver, int has_show, web_controls controls)
{
    static const char *const control_names[] = {"off", "token", "open"};
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "type", "hello");
    cJSON *list = cJSON_AddArrayToObject(root, "feeds");
    for (int i = 0; i < num_feeds; i++) {
        cJSON *f = cJSON_CreateObject();
        cJSON_AddStringToObject(f, "name", feeds[i].name);
        cJSON_AddStringToObject(f, "host", feeds[i].host);
        cJSON_AddNumberToObject(f, "port", feeds[i].port);
        cJSON_AddItemToArray(list, f);
    }
    cJSON_AddBoolToObject(root, "driver", has_driver);
    cJSON_AddStringToObject(root, "controls", control_names[controls]);
    cJSON_AddNumberToObject(root, "levelStep", CONTROL_LEVEL_STEP);
    cJSON_AddNumberToObject(root, "levelMax", CONTROL_LEVEL_MAX);
    cJSON_AddBoolToObject(root, "show", has_show);
    return print_into(root, buf, size);
}

int web_message_status(char *buf, size_t size, const web_feed_status *feeds, int num_feeds,
                       const web_driver_state *driver, const web_show_state *show)
{
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "type", "status");
    cJSON *list = cJSON_AddArrayToObject(root, "feeds");
    for (int i = 0; i < num_feeds; i++) {
        cJSON *f = cJSON_CreateObject();
        cJSON_AddNumberToObject(f, "fps", round(feeds[i].fps * 10) / 10);
        cJSON_AddBoolToObject(f, "live", feeds[i].live);
        cJSON_AddItemToArray(list, f);
    }
    if (driver) {
        const control_answer *a = &driver->heard;
        cJSON *d = cJSON_AddObjectToObject(root, "driver");
        cJSON_AddBoolToObject(d, "reachable", driver->reachable);
        if (driver->reachable) {
            cJSON *names = cJSON_AddArrayToObject(d, "feeds");
            for (int i = 0; i < a->num_feeds; i++)
                cJSON_AddItemToArray(names, cJSON_CreateString(a->names[i]));
            cJSON_AddNumberToObject(d, "feed", a->feed);
            cJSON_AddNumberToObject(d, "level", a->level);
            cJSON_AddBoolToObject(d, "live", a->live);
        }
    }
    if (show) {
        const show_answer *a = &show->heard;
        cJSON *d = cJSON_AddObjectToObject(root, "show");
        cJSON_AddBoolToObject(d, "reachable", show->reachable);
        if (show->reachable) {
            if (a->has_pattern)
                cJSON_AddStringToObject(d, "pattern", a->pattern);
            else
                cJSON_AddNullToObject(d, "pattern");
            cJSON_AddBoolToObject(d, "fixed", a->fixed);
            cJSON_AddNumberToObject(d, "delay", a->delay_ms);
            if (a->has_tempo)
                cJSON_AddNumberToObject(d, "tempo", round(a->tempo * 10) / 10);
            if (a->has_locked)
                cJSON_AddBoolToObject(d, "locked", a->locked);
        }
    }
    return print_into(root, buf, size);
}

int web_message_auth(char *buf, size_t size, int ok)
{
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "type", "auth");
    cJSON_AddBoolToObject(root, "ok", ok);
    return print_into(root, buf, size);
}

int web_message_error(char *buf, size_t size, const char *text)
{
    cJSON *root = cJSON_CreateObject();
    cJSON_AddStringToObject(root, "type", "error");
    cJSON_AddStringToObject(root, "error", text);
    return print_into(root, buf, size);
}
