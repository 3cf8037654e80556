/* json_line.h -- writing one line of JSON into a caller's buffer with
 * printf-style pieces, for the answers that programs without a JSON
 * library send (the box driver's, the show's). Once a piece does not fit
 * the line is marked full and takes nothing more. */
#ifndef WIRE_JSON_LINE_H
#define WIRE_JSON_LINE_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct json_line {
    char *buf;
    size_t size, len;
    bool full;
};

/* Start an empty line in buf (size bytes, at least 1). */
void json_line_start(struct json_line *l, char *buf, size_t size);

/* Append printf-style text, as it is. */
void json_line_put(struct json_line *l, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

/* Append text as a JSON string: quoted, with quotes, backslashes and
 * control characters escaped; NULL as the empty string. */
void json_line_string(struct json_line *l, const char *text);

/* End the line with "\n": its length, or -1 (buf holding an empty
 * string) when it did not fit. */
int json_line_end(struct json_line *l);

#ifdef __cplusplus
}
#endif

#endif
