/* mqtt_home.cpp -- Home Assistant's discovery configurations, the state
 * messages and the commands (mqtt_home.h). cJSON does the JSON; no state. */
#include "hallmqtt/mqtt_home.h"

#include <cjson/cJSON.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "cli/cli.h"

#ifndef HALL_VERSION
#define HALL_VERSION "unknown"
#endif

namespace {

/* Each entity: its component, its object id and name, and how it looks. */
struct entity_row {
    const char *component;
    const char *object;
    const char *name;
    const char *icon;
};

const entity_row entities[HOME_ENTITIES] = {
    {"light", "lamps", "Lamps", "mdi:lightbulb-group"},
    {"binary_sensor", "live", "Feed live", "mdi:access-point"},
    {"select", "pattern", "Pattern", "mdi:palette"},
    {"number", "light_delay", "Light delay", "mdi:timer-sync-outline"},
    {"sensor", "tempo", "Tempo", "mdi:metronome"},
    {"button", "next_pattern", "Next pattern", "mdi:skip-next"},
};

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

/* The user's text, safe to quote on one line. */
const char *quote(const char *text, size_t len, char out[48])
{
    size_t n = 0;
    for (; n < len && n < 40; n++)
        out[n] = (unsigned char)text[n] < 0x20 || text[n] == 0x7f ? '?' : text[n];
    snprintf(out + n, 48 - n, "%s", n < len ? "..." : "");
    return out;
}

cJSON *string_list(const char *const *names, int n, const char *extra)
{
    cJSON *list = cJSON_CreateArray();
    for (int i = 0; i < n; i++)
        cJSON_AddItemToArray(list, cJSON_CreateString(names[i]));
    if (extra)
        cJSON_AddItemToArray(list, cJSON_CreateString(extra));
    return list;
}

/* A payload as a NUL-ended string, when it fits. */
bool as_text(const char *payload, size_t len, char *out, size_t size)
{
    if (len >= size || memchr(payload, '\0', len))
        return false;
    memcpy(out, payload, len);
    out[len] = '\0';
    return true;
}

} // namespace

void home_topics_make(home_topics *t, const char *prefix, const char *discovery_prefix)
{
    memset(t, 0, sizeof *t);
    size_t i = 0;
    for (; prefix[i] && i < sizeof t->node - 1; i++) {
        char c = prefix[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        t->node[i] = ok ? c : '_';
    }
    snprintf(t->discovery, sizeof t->discovery, "%s", discovery_prefix);
    snprintf(t->status, sizeof t->status, "%s/status", prefix);
    snprintf(t->light_state, sizeof t->light_state, "%s/light/state", prefix);
    snprintf(t->light_set, sizeof t->light_set, "%s/light/set", prefix);
    snprintf(t->driver_status, sizeof t->driver_status, "%s/driver/status", prefix);
    snprintf(t->show_state, sizeof t->show_state, "%s/show/state", prefix);
    snprintf(t->show_status, sizeof t->show_status, "%s/show/status", prefix);
    snprintf(t->pattern_set, sizeof t->pattern_set, "%s/show/pattern/set", prefix);
    snprintf(t->delay_set, sizeof t->delay_set, "%s/show/delay/set", prefix);
    snprintf(t->next_set, sizeof t->next_set, "%s/show/next/set", prefix);
    snprintf(t->hub_status, sizeof t->hub_status, "%s/status", discovery_prefix);
}

int home_of_driver(home_entity e)
{
    return e == HOME_LAMPS || e == HOME_LIVE;
}

int home_config_topic(const home_topics *t, home_entity e, char *buf, size_t size)
{
    int n = snprintf(buf, size, "%s/%s/%s/%s/config", t->discovery, entities[e].component, t->node,
                     entities[e].object);
    return n > 0 && (size_t)n < size ? n : -1;
}

int home_config(const home_topics *t, home_entity e, const char *const *names, int num_names,
                char *buf, size_t size)
{
    const entity_row &row = entities[e];
    char id[HOME_TOPIC_MAX + 32];
    cJSON *c = cJSON_CreateObject();
    cJSON_AddStringToObject(c, "name", row.name);
    snprintf(id, sizeof id, "%s_%s", t->node, row.object);
    cJSON_AddStringToObject(c, "unique_id", id);
    cJSON_AddStringToObject(c, "icon", row.icon);
    /* Available while the bridge runs and the program behind it answers. */
    cJSON *availability = cJSON_AddArrayToObject(c, "availability");
    const char *sources[] = {t->status, home_of_driver(e) ? t->driver_status : t->show_status};
    for (const char *topic : sources) {
        cJSON *a = cJSON_CreateObject();
        cJSON_AddStringToObject(a, "topic", topic);
        cJSON_AddItemToArray(availability, a);
    }
    cJSON_AddStringToObject(c, "availability_mode", "all");
    cJSON *device = cJSON_AddObjectToObject(c, "device");
    snprintf(id, sizeof id, "hallmqtt_%s", t->node);
    const char *identifiers[] = {id};
    cJSON_AddItemToObject(device, "identifiers", string_list(identifiers, 1, nullptr));
    cJSON_AddStringToObject(device, "name", HOME_DEVICE_NAME);
    cJSON_AddStringToObject(device, "manufacturer", "hallway-lights");
    cJSON_AddStringToObject(device, "model", "60 lamps on 10 dimmer boxes");
    cJSON_AddStringToObject(device, "sw_version", HALL_VERSION);
    switch (e) {
    case HOME_LAMPS:
        cJSON_AddStringToObject(c, "schema", "json");
        cJSON_AddStringToObject(c, "command_topic", t->light_set);
        cJSON_AddStringToObject(c, "state_topic", t->light_state);
        cJSON_AddBoolToObject(c, "brightness", 1);
        cJSON_AddNumberToObject(c, "brightness_scale", 255);
        static const char *const modes[] = {"brightness"};
        cJSON_AddItemToObject(c, "supported_color_modes", string_list(modes, 1, nullptr));
        cJSON_AddBoolToObject(c, "effect", 1);
        cJSON_AddItemToObject(c, "effect_list", string_list(names, num_names, nullptr));
        break;
    case HOME_LIVE:
        cJSON_AddStringToObject(c, "state_topic", t->light_state);
        cJSON_AddStringToObject(c, "value_template", "{{ 'ON' if value_json.live else 'OFF' }}");
        break;
    case HOME_PATTERN:
        cJSON_AddStringToObject(c, "command_topic", t->pattern_set);
        cJSON_AddStringToObject(c, "state_topic", t->show_state);
        cJSON_AddStringToObject(c, "value_template", "{{ value_json.pattern }}");
        cJSON_AddItemToObject(c, "options", string_list(names, num_names, HOME_AUTOMATIC));
        break;
    case HOME_DELAY:
        cJSON_AddStringToObject(c, "command_topic", t->delay_set);
        cJSON_AddStringToObject(c, "state_topic", t->show_state);
        cJSON_AddStringToObject(c, "value_template", "{{ value_json.delay }}");
        cJSON_AddNumberToObject(c, "min", SHOW_DELAY_MIN);
        cJSON_AddNumberToObject(c, "max", SHOW_DELAY_MAX);
        cJSON_AddNumberToObject(c, "step", 1);
        cJSON_AddStringToObject(c, "unit_of_measurement", "ms");
        cJSON_AddStringToObject(c, "mode", "box");
        cJSON_AddStringToObject(c, "entity_category", "config");
        break;
    case HOME_TEMPO:
        cJSON_AddStringToObject(c, "state_topic", t->show_state);
        /* null (no tempo reported) renders as None: the state is unknown */
        cJSON_AddStringToObject(c, "value_template", "{{ value_json.tempo }}");
        cJSON_AddStringToObject(c, "unit_of_measurement", "BPM");
        cJSON_AddStringToObject(c, "json_attributes_topic", t->show_state);
        cJSON_AddStringToObject(c, "json_attributes_template",
                                "{{ {'locked': value_json.locked, 'running': value_json.running}"
                                " | tojson }}");
        break;
    case HOME_NEXT:
        cJSON_AddStringToObject(c, "command_topic", t->next_set);
        cJSON_AddStringToObject(c, "payload_press", HOME_PRESS);
        break;
    case HOME_ENTITIES:
        break;
    }
    return print_into(c, buf, size);
}

int home_level_of(int brightness)
{
    return (brightness * CONTROL_LEVEL_MAX + 127) / 255;
}

int home_brightness_of(int level)
{
    return (level * 255 + CONTROL_LEVEL_MAX / 2) / CONTROL_LEVEL_MAX;
}

int home_light_state(const control_answer *d, char *buf, size_t size)
{
    cJSON *s = cJSON_CreateObject();
    cJSON_AddStringToObject(s, "state", d->level > 0 ? "ON" : "OFF");
    if (d->level > 0) {
        cJSON_AddNumberToObject(s, "brightness", home_brightness_of(d->level));
        cJSON_AddStringToObject(s, "color_mode", "brightness");
    }
    if (d->feed < d->num_feeds)
        cJSON_AddStringToObject(s, "effect", d->names[d->feed]);
    cJSON_AddNumberToObject(s, "level", d->level);
    cJSON_AddBoolToObject(s, "live", d->live);
    return print_into(s, buf, size);
}

int home_show_state(const show_answer *show, char *buf, size_t size)
{
    cJSON *s = cJSON_CreateObject();
    cJSON_AddStringToObject(s, "pattern",
                            show->fixed && show->has_pattern ? show->pattern : HOME_AUTOMATIC);
    if (show->has_pattern)
        cJSON_AddStringToObject(s, "running", show->pattern);
    else
        cJSON_AddNullToObject(s, "running");
    cJSON_AddNumberToObject(s, "delay", show->delay_ms);
    if (show->has_tempo)
        cJSON_AddNumberToObject(s, "tempo", round(show->tempo * 10) / 10);
    else
        cJSON_AddNullToObject(s, "tempo");
    if (show->has_locked)
        cJSON_AddBoolToObject(s, "locked", show->locked);
    else
        cJSON_AddNullToObject(s, "locked");
    return print_into(s, buf, size);
}

int home_parse_light(const char *payload, size_t len, const control_answer *driver,
                     home_light_command *out, char *err, size_t errlen)
{
    if (len > HOME_COMMAND_MAX) {
        snprintf(err, errlen, "too long: %zu bytes, at most %d", len, HOME_COMMAND_MAX);
        return -1;
    }
    cJSON *root = cJSON_ParseWithLength(payload, len);
    char q[48];
    if (!cJSON_IsObject(root)) {
        cJSON_Delete(root);
        snprintf(err, errlen, "not a JSON object: '%s'", quote(payload, len, q));
        return -1;
    }
    const cJSON *state = cJSON_GetObjectItemCaseSensitive(root, "state");
    const cJSON *brightness = cJSON_GetObjectItemCaseSensitive(root, "brightness");
    const cJSON *effect = cJSON_GetObjectItemCaseSensitive(root, "effect");
    home_light_command got = {-1, -1, -1};
    if (cJSON_IsString(state) && strcmp(state->valuestring, "ON") == 0)
        got.on = 1;
    else if (cJSON_IsString(state) && strcmp(state->valuestring, "OFF") == 0)
        got.on = 0;
    int result = 0;
    if (got.on < 0) {
        snprintf(err, errlen, "needs \"state\": \"ON\" or \"OFF\"");
        result = -1;
    } else if (brightness) {
        double v = cJSON_IsNumber(brightness) ? brightness->valuedouble : -1;
        if (v >= 0 && v <= 255 && v == floor(v)) {
            got.brightness = (int)v;
        } else {
            snprintf(err, errlen, "\"brightness\" is a whole number from 0 to 255");
            result = -1;
        }
    }
    if (result == 0 && effect) {
        for (int i = 0; cJSON_IsString(effect) && i < driver->num_feeds; i++)
            if (strcmp(effect->valuestring, driver->names[i]) == 0)
                got.feed = i;
        if (got.feed < 0) {
            const char *name = cJSON_IsString(effect) ? effect->valuestring : "";
            snprintf(err, errlen, "no such effect (feed): '%s'", quote(name, strlen(name), q));
            result = -1;
        }
    }
    cJSON_Delete(root);
    if (result == 0)
        *out = got;
    return result;
}

int home_parse_pattern(const char *payload, size_t len, const show_answer *show,
                       show_command *out, char *err, size_t errlen)
{
    char name[SHOW_NAME_MAX + 1];
    show_command got;
    memset(&got, 0, sizeof got);
    if (as_text(payload, len, name, sizeof name) && strcmp(name, HOME_AUTOMATIC) == 0) {
        got.kind = SHOW_AUTO;
        *out = got;
        return 0;
    }
    for (int i = 0; as_text(payload, len, name, sizeof name) && i < show->num_patterns; i++) {
        if (strcmp(name, show->patterns[i]) == 0) {
            got.kind = SHOW_PATTERN;
            memcpy(got.pattern, name, len + 1);
            *out = got;
            return 0;
        }
    }
    char q[48];
    snprintf(err, errlen, "no such pattern: '%s'", quote(payload, len, q));
    return -1;
}

int home_parse_delay(const char *payload, size_t len, show_command *out, char *err, size_t errlen)
{
    char text[32];
    double v;
    if (!as_text(payload, len, text, sizeof text) ||
        cli_parse_double(text, SHOW_DELAY_MIN, SHOW_DELAY_MAX, &v) != 0 || v != floor(v)) {
        char q[48];
        snprintf(err, errlen, "expected whole milliseconds from %d to %d, got '%s'",
                 SHOW_DELAY_MIN, SHOW_DELAY_MAX, quote(payload, len, q));
        return -1;
    }
    memset(out, 0, sizeof *out);
    out->kind = SHOW_DELAY;
    out->delay_ms = (int)v;
    return 0;
}

int home_parse_next(const char *payload, size_t len, show_command *out, char *err, size_t errlen)
{
    char q[48];
    if (len != strlen(HOME_PRESS) || memcmp(payload, HOME_PRESS, len) != 0) {
        snprintf(err, errlen, "expected \"" HOME_PRESS "\", got '%s'", quote(payload, len, q));
        return -1;
    }
    memset(out, 0, sizeof *out);
    out->kind = SHOW_NEXT;
    return 0;
}
