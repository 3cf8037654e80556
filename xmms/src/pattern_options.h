/* pattern_options.h -- reading a pattern's option string ("center=4
 * speed=2") into the pattern's own variables. Stands alone: only the C
 * library. Not reentrant (one field list at a time). */
#ifndef GLIM_PATTERN_OPTIONS_H
#define GLIM_PATTERN_OPTIONS_H

#include "pattern.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One declared field, kept in a list for the length of one call. */
typedef struct param_field {
    char *name;                /* private copy of the key */
    char type;                 /* type letter from the format: 'i' = int */
    void *val;                 /* the caller's variable, not owned */
    struct param_field *next;  /* newest first */
} param_field;

/* For each letter of `format` the variable arguments hold a key (char *)
 * and the address of the variable that receives its value. Stores the
 * values of the keys found in `string` and leaves the rest untouched.
 * A null string returns at once. Always returns 0. */
GLIM_EXPORT int parse_string(char *string, char *format, ...);

#ifdef __cplusplus
}
#endif

#endif
