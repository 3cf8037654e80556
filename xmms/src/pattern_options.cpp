/* pattern_options.cpp -- option strings for patterns: key=value pairs
 * separated by single spaces, read against a list of declared fields.
 *
 * The field list hangs from `root` for the length of one call only, so
 * the module holds nothing between calls. Only the C library is used. */
#include "pattern_options.h"

#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

param_field *root = nullptr;  /* fields of the call in progress, newest first */

/* Put one field at the head of the list; a field whose memory cannot be
 * had is left out (its key then matches nothing). */
void add_field(char type, const char *name, void *val)
{
    param_field *f = (param_field *)malloc(sizeof *f);
    if (!f)
        return;
    f->name = strdup(name ? name : "");
    if (!f->name) {
        free(f);
        return;
    }
    f->type = type;
    f->val = val;
    f->next = root;
    root = f;
}

/* The first field (newest first) whose name is exactly key[0..len). */
param_field *find_field(const char *key, size_t len)
{
    for (param_field *f = root; f; f = f->next)
        if (strlen(f->name) == len && memcmp(f->name, key, len) == 0)
            return f;
    return nullptr;
}

void free_fields(void)
{
    while (root) {
        param_field *next = root->next;
        free(root->name);
        free(root);
        root = next;
    }
}

/* Decimal as strtol reads it; out-of-range values are held at the int
 * limits instead of wrapping. */
int read_int(const char *text)
{
    long v = strtol(text, nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return (int)v;
}

} // namespace

extern "C" int parse_string(char *string, char *format, ...)
{
    if (!string)
        return 0;

    root = nullptr;
    va_list ap;
    va_start(ap, format);
    for (const char *t = format ? format : ""; *t; t++) {
        const char *name = va_arg(ap, const char *);
        void *val = va_arg(ap, void *);
        add_field(*t, name, val);
    }
    va_end(ap);

    const char *key = string;
    for (;;) {
        const char *eq = strchr(key, '=');
        if (!eq)
            break;
        param_field *f = find_field(key, (size_t)(eq - key));
        if (f && f->type == 'i')
            *(int *)f->val = read_int(eq + 1);
        const char *space = strchr(eq + 1, ' ');
        if (!space)
            break;
        key = space + 1;
    }

    free_fields();
    return 0;
}
