/* json_line.cpp -- one line of JSON written piece by piece (json_line.h).
 * No state beyond the caller's record. */
#include "wire/json_line.h"

#include <stdarg.h>
#include <stdio.h>

extern "C" {

void json_line_start(struct json_line *l, char *buf, size_t size)
{
    *l = {buf, size, 0, size == 0};
    if (size)
        buf[0] = '\0';
}

void json_line_put(struct json_line *l, const char *format, ...)
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

void json_line_string(struct json_line *l, const char *text)
{
    json_line_put(l, "\"");
    for (const unsigned char *c = (const unsigned char *)(text ? text : ""); *c; c++) {
        if (*c == '"' || *c == '\\')
            json_line_put(l, "\\%c", *c);
        else if (*c < 0x20)
            json_line_put(l, "\\u%04x", *c);
        else
            json_line_put(l, "%c", *c);
    }
    json_line_put(l, "\"");
}

int json_line_end(struct json_line *l)
{
    json_line_put(l, "\n");
    if (l->full) {
        if (l->size)
            l->buf[0] = '\0';
        return -1;
    }
    return (int)l->len;
}

} // extern "C"
