/* show_answer.cpp -- the light show's answer line read back
 * (show_parse_answer in show_control.h), with cJSON. No state. */
#include <cjson/cJSON.h>
#include <math.h>
#include <string.h>

#include "wire/show_control.h"

namespace {

/* Copy at most max bytes of text, cut at a character boundary. */
void copy_cut(char *out, size_t max, const char *text)
{
    size_t n = strlen(text);
    if (n > max) {
        n = max;
        while (n > 0 && ((unsigned char)text[n] & 0xc0) == 0x80)
            n--;
    }
    memcpy(out, text, n);
    out[n] = '\0';
}

const cJSON *field(const cJSON *root, const char *name)
{
    return cJSON_GetObjectItemCaseSensitive(root, name);
}

} // namespace

extern "C" int show_parse_answer(const char *text, size_t len, struct show_answer *out)
{
    cJSON *root = text ? cJSON_ParseWithLength(text, len) : nullptr;
    const cJSON *pattern = field(root, SHOW_FIELD_PATTERN);
    const cJSON *fixed = field(root, SHOW_FIELD_FIXED);
    const cJSON *delay = field(root, SHOW_FIELD_DELAY);
    const cJSON *patterns = field(root, SHOW_FIELD_PATTERNS);
    const cJSON *tempo = field(root, SHOW_FIELD_TEMPO);
    const cJSON *locked = field(root, SHOW_FIELD_LOCKED);
    const cJSON *error = field(root, SHOW_FIELD_ERROR);
    show_answer got;
    memset(&got, 0, sizeof got);
    double d = cJSON_IsNumber(delay) ? delay->valuedouble : NAN;
    bool ok = cJSON_IsObject(root) && (cJSON_IsString(pattern) || cJSON_IsNull(pattern)) &&
              cJSON_IsBool(fixed) && d >= SHOW_DELAY_MIN && d <= SHOW_DELAY_MAX &&
              d == floor(d) && cJSON_IsArray(patterns) &&
              (!tempo || (cJSON_IsNumber(tempo) && tempo->valuedouble >= 0 &&
                          tempo->valuedouble <= SHOW_TEMPO_MAX)) &&
              (!locked || cJSON_IsBool(locked)) && (!error || cJSON_IsString(error));
    const cJSON *p;
    const cJSON *list = ok ? patterns : nullptr;
    cJSON_ArrayForEach(p, list)
    {
        if (!cJSON_IsString(p)) {
            ok = false;
            break;
        }
        if (got.num_patterns < SHOW_MAX_PATTERNS)
            copy_cut(got.patterns[got.num_patterns++], SHOW_NAME_MAX, p->valuestring);
    }
    if (ok) {
        got.has_pattern = cJSON_IsString(pattern);
        if (got.has_pattern)
            copy_cut(got.pattern, SHOW_NAME_MAX, pattern->valuestring);
        got.fixed = cJSON_IsTrue(fixed);
        got.delay_ms = (int)d;
        got.has_tempo = tempo != nullptr;
        got.tempo = tempo ? tempo->valuedouble : 0;
        got.has_locked = locked != nullptr;
        got.locked = cJSON_IsTrue(locked);
        got.has_error = error != nullptr;
        if (error)
            copy_cut(got.error, SHOW_ERROR_MAX, error->valuestring);
        *out = got;
    }
    cJSON_Delete(root);
    return ok ? 0 : -1;
}
