/* control_answer.cpp -- the box driver's answer line read back
 * (control_parse_answer in control.h), with cJSON. No state. */
#include <cjson/cJSON.h>
#include <math.h>
#include <string.h>

#include "wire/control.h"

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

/* Copy at most CONTROL_NAME_MAX bytes of a name, cut at a character
 * boundary. */
void copy_name(char out[CONTROL_NAME_MAX + 1], const char *name)
{
    size_t n = strlen(name);
    if (n > CONTROL_NAME_MAX) {
        n = CONTROL_NAME_MAX;
        while (n > 0 && ((unsigned char)name[n] & 0xc0) == 0x80)
            n--;
    }
    memcpy(out, name, n);
    out[n] = '\0';
}

} // namespace

extern "C" int control_parse_answer(const char *text, size_t len, struct control_answer *out)
{
    cJSON *root = text ? cJSON_ParseWithLength(text, len) : nullptr;
    const cJSON *feeds = cJSON_GetObjectItemCaseSensitive(root, CONTROL_FIELD_FEEDS);
    const cJSON *live = cJSON_GetObjectItemCaseSensitive(root, CONTROL_FIELD_LIVE);
    control_answer got;
    memset(&got, 0, sizeof got);
    got.feed = whole_number(cJSON_GetObjectItemCaseSensitive(root, CONTROL_FIELD_FEED), 0, 9);
    got.level = whole_number(cJSON_GetObjectItemCaseSensitive(root, CONTROL_FIELD_LEVEL), 0,
                             CONTROL_LEVEL_MAX);
    bool ok = cJSON_IsObject(root) && cJSON_IsArray(feeds) && cJSON_IsBool(live) &&
              got.feed >= 0 && got.level >= 0;
    const cJSON *f;
    const cJSON *list = ok ? feeds : nullptr;
    cJSON_ArrayForEach(f, list)
    {
        const cJSON *name = cJSON_GetObjectItemCaseSensitive(f, CONTROL_FIELD_NAME);
        if (!cJSON_IsString(name)) {
            ok = false;
            break;
        }
        if (got.num_feeds < CONTROL_MAX_FEEDS)
            copy_name(got.names[got.num_feeds++], name->valuestring);
    }
    got.live = cJSON_IsTrue(live);
    cJSON_Delete(root);
    if (!ok)
        return -1;
    *out = got;
    return 0;
}
