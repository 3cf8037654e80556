/* show_control.cpp -- the light show's commands and answer line
 * (show_control.h): reading and writing commands, writing the answer. No
 * state. */
#include "wire/show_control.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "wire/json_line.h"

namespace {

bool name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
}

/* "-12", "0", "2000": an optional minus and 1..5 digits, in range. */
bool whole_ms(const char *text, int *out)
{
    const char *c = text + (*text == '-');
    size_t digits = strspn(c, "0123456789");
    if (digits == 0 || digits > 5 || c[digits] != '\0')
        return false;
    int v = 0;
    for (size_t i = 0; i < digits; i++)
        v = v * 10 + (c[i] - '0');
    if (*text == '-')
        v = -v;
    if (v < SHOW_DELAY_MIN || v > SHOW_DELAY_MAX)
        return false;
    *out = v;
    return true;
}

int refuse(char *err, size_t errlen, const char *why)
{
    if (err && errlen)
        snprintf(err, errlen, "%s", why);
    return -1;
}

const char KNOWN[] = "; known: ?, pattern NAME[:OPTIONS], auto, next, delay MS";

} // namespace

extern "C" {

int show_parse_command(const void *datagram, size_t len, struct show_command *out, char *err,
                       size_t errlen)
{
    const char *d = (const char *)datagram;
    char why[160];
    if (len > SHOW_COMMAND_MAX) {
        snprintf(why, sizeof why, "command too long: %zu bytes, at most %d", len,
                 SHOW_COMMAND_MAX);
        return refuse(err, errlen, why);
    }
    /* A line typed into a terminal tool ends with a newline: allow one. */
    if (len > 0 && d[len - 1] == '\n') {
        len--;
        if (len > 0 && d[len - 1] == '\r')
            len--;
    }
    char text[SHOW_COMMAND_MAX + 1];
    for (size_t i = 0; i < len; i++) {
        if ((unsigned char)d[i] < 0x20 || d[i] == 0x7f)
            return refuse(err, errlen, "control characters in the command");
        text[i] = d[i];
    }
    text[len] = '\0';
    memset(out, 0, sizeof *out);
    if (strcmp(text, SHOW_WORD_ASK) == 0) {
        out->kind = SHOW_ASK;
    } else if (strcmp(text, SHOW_WORD_AUTO) == 0) {
        out->kind = SHOW_AUTO;
    } else if (strcmp(text, SHOW_WORD_NEXT) == 0) {
        out->kind = SHOW_NEXT;
    } else if (strncmp(text, SHOW_WORD_DELAY " ", sizeof SHOW_WORD_DELAY) == 0) {
        out->kind = SHOW_DELAY;
        if (!whole_ms(text + sizeof SHOW_WORD_DELAY, &out->delay_ms)) {
            snprintf(why, sizeof why, "delay needs whole milliseconds from %d to %d",
                     SHOW_DELAY_MIN, SHOW_DELAY_MAX);
            return refuse(err, errlen, why);
        }
    } else if (strncmp(text, SHOW_WORD_PATTERN " ", sizeof SHOW_WORD_PATTERN) == 0) {
        out->kind = SHOW_PATTERN;
        const char *name = text + sizeof SHOW_WORD_PATTERN;
        size_t n = 0;
        while (name[n] && name[n] != ':' && name_char(name[n]))
            n++;
        if (n == 0 || n > SHOW_NAME_MAX || (name[n] && name[n] != ':')) {
            snprintf(why, sizeof why,
                     "pattern needs NAME[:OPTIONS], a name of 1 to %d letters, digits, _ - .",
                     SHOW_NAME_MAX);
            return refuse(err, errlen, why);
        }
        memcpy(out->pattern, name, n);
        out->pattern[n] = '\0';
        if (name[n] == ':') {
            const char *options = name + n + 1;
            if (strlen(options) > SHOW_OPTIONS_MAX) {
                snprintf(why, sizeof why, "a pattern's options are at most %d bytes",
                         SHOW_OPTIONS_MAX);
                return refuse(err, errlen, why);
            }
            out->has_options = 1;
            snprintf(out->options, sizeof out->options, "%s", options);
        }
    } else {
        snprintf(why, sizeof why, "unknown command%s", KNOWN);
        return refuse(err, errlen, why);
    }
    return 0;
}

int show_format_command(char *buf, size_t size, const struct show_command *cmd)
{
    int n = -1;
    switch (cmd->kind) {
    case SHOW_ASK:
        n = snprintf(buf, size, SHOW_WORD_ASK);
        break;
    case SHOW_AUTO:
        n = snprintf(buf, size, SHOW_WORD_AUTO);
        break;
    case SHOW_NEXT:
        n = snprintf(buf, size, SHOW_WORD_NEXT);
        break;
    case SHOW_DELAY:
        n = snprintf(buf, size, SHOW_WORD_DELAY " %d", cmd->delay_ms);
        break;
    case SHOW_PATTERN:
        n = snprintf(buf, size, SHOW_WORD_PATTERN " %.*s%s%.*s", SHOW_NAME_MAX, cmd->pattern,
                     cmd->has_options ? ":" : "", SHOW_OPTIONS_MAX,
                     cmd->has_options ? cmd->options : "");
        break;
    }
    /* What goes out is what the show would take, checked by its reader. */
    show_command back;
    if (n < 0 || (size_t)n >= size || show_parse_command(buf, (size_t)n, &back, nullptr, 0) != 0) {
        if (size)
            buf[0] = '\0';
        return -1;
    }
    return n;
}

int show_format_answer(char *buf, size_t size, const struct show_state *s)
{
    if (!buf || size == 0)
        return -1;
    json_line l;
    json_line_start(&l, buf, size);
    json_line_put(&l, "{\"" SHOW_FIELD_PATTERN "\":");
    if (s->pattern)
        json_line_string(&l, s->pattern);
    else
        json_line_put(&l, "null");
    json_line_put(&l, ",\"" SHOW_FIELD_FIXED "\":%s,\"" SHOW_FIELD_DELAY "\":%d,\"" SHOW_FIELD_PATTERNS
                      "\":[",
                  s->fixed ? "true" : "false", s->delay_ms);
    int n = s->num_patterns < SHOW_MAX_PATTERNS ? s->num_patterns : SHOW_MAX_PATTERNS;
    for (int i = 0; i < n; i++) {
        if (i)
            json_line_put(&l, ",");
        json_line_string(&l, s->patterns[i]);
    }
    json_line_put(&l, "]");
    if (s->has_tempo && isfinite(s->tempo) && s->tempo >= 0 && s->tempo <= SHOW_TEMPO_MAX)
        json_line_put(&l, ",\"" SHOW_FIELD_TEMPO "\":%.1f", s->tempo);
    if (s->has_locked)
        json_line_put(&l, ",\"" SHOW_FIELD_LOCKED "\":%s", s->locked ? "true" : "false");
    if (s->error) {
        json_line_put(&l, ",\"" SHOW_FIELD_ERROR "\":");
        json_line_string(&l, s->error);
    }
    json_line_put(&l, "}");
    return json_line_end(&l);
}

} // extern "C"
