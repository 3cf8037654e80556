/* web_token.h -- the token that guards the operator's controls: read from
 * a file once at start, compared in constant time with what a page sends. */
#ifndef HALLWEB_WEB_TOKEN_H
#define HALLWEB_WEB_TOKEN_H

#include <stddef.h>

#define WEB_TOKEN_MIN 8
#define WEB_TOKEN_MAX 128

/* The token in a token file's bytes: the first line, with a trailing
 * "\r" and surrounding blanks taken off; WEB_TOKEN_MIN..WEB_TOKEN_MAX
 * printable ASCII characters without blanks inside. 0 with the token in
 * out; -1 with a one-line reason in err otherwise. */
int web_token_parse(const char *bytes, size_t len, char out[WEB_TOKEN_MAX + 1], char *err,
                    size_t errlen);

/* Read and parse the token file at path, refused when others (neither
 * its owner nor its group) may read it. 0, or -1 with a one-line reason
 * (naming the file) in err. */
int web_token_load(const char *path, char out[WEB_TOKEN_MAX + 1], char *err, size_t errlen);

/* 1 when `given` (len bytes) is the token, 0 otherwise; the time taken
 * does not depend on where they differ. */
int web_token_equal(const char *token, const char *given, size_t len);

#endif
