/* hallweb_token_fuzz.cpp -- a token file's bytes. An accepted token is
 * printable, without blanks, of a length in bounds, and equals itself
 * and nothing shorter. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hallweb/web_token.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char token[WEB_TOKEN_MAX + 1];
    char err[160];
    if (web_token_parse((const char *)data, size, token, err, sizeof err) != 0) {
        if (!memchr(err, '\0', sizeof err))
            abort();
        return 0;
    }
    size_t n = strlen(token);
    if (n < WEB_TOKEN_MIN || n > WEB_TOKEN_MAX)
        abort();
    for (size_t i = 0; i < n; i++)
        if (token[i] <= ' ' || token[i] >= 0x7f)
            abort();
    if (!web_token_equal(token, token, n) || web_token_equal(token, token, n - 1) ||
        web_token_equal(token, (const char *)data, size > n ? n : size) !=
            (size >= n && memcmp(token, data, n) == 0))
        abort();
    return 0;
}
