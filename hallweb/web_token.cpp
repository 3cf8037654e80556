/* web_token.cpp -- reading and checking the controls' token
 * (web_token.h). No state: the program keeps the token. */
#include "hallweb/web_token.h"
#include "cli/cli.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int web_token_parse(const char *bytes, size_t len, char out[WEB_TOKEN_MAX + 1], char *err,
                    size_t errlen)
{
    const char *end = len ? (const char *)memchr(bytes, '\n', len) : nullptr;
    size_t line = end ? (size_t)(end - bytes) : len;
    size_t first = 0;
    while (first < line && (bytes[first] == ' ' || bytes[first] == '\t'))
        first++;
    while (line > first && (bytes[line - 1] == ' ' || bytes[line - 1] == '\t' ||
                            bytes[line - 1] == '\r'))
        line--;
    size_t n = line - first;
    if (n < WEB_TOKEN_MIN || n > WEB_TOKEN_MAX) {
        snprintf(err, errlen, "the token on its first line has %zu characters; it needs %d to %d",
                 n, WEB_TOKEN_MIN, WEB_TOKEN_MAX);
        return -1;
    }
    for (size_t i = first; i < line; i++) {
        unsigned char c = (unsigned char)bytes[i];
        if (c <= ' ' || c >= 0x7f) {
            snprintf(err, errlen,
                     "the token may hold printable ASCII characters only, without blanks");
            return -1;
        }
    }
    memcpy(out, bytes + first, n);
    out[n] = '\0';
    return 0;
}

int web_token_load(const char *path, char out[WEB_TOKEN_MAX + 1], char *err, size_t errlen)
{
    char bytes[CLI_SECRET_FILE_MAX + 1];
    size_t len;
    unsigned mode;
    /* A token others can read is no guard: say so rather than serve. */
    int r = cli_read_secret(path, "token", S_IROTH, bytes, sizeof bytes, &len, &mode, err, errlen);
    if (r == -2)
        snprintf(err, errlen, "%s: others can read it (mode %03o); chmod o-rw %s first", path,
                 mode & 0777, path);
    if (r != 0)
        return -1;
    char why[160];
    if (web_token_parse(bytes, len, out, why, sizeof why) != 0) {
        snprintf(err, errlen, "%s: %s", path, why);
        return -1;
    }
    return 0;
}

int web_token_equal(const char *token, const char *given, size_t len)
{
    size_t n = strlen(token);
    unsigned diff = n != len;
    /* Walk the whole token whatever is given, so that the time says
     * nothing about how much of it was right. */
    for (size_t i = 0; i < n; i++)
        diff |= (unsigned char)token[i] ^ (unsigned char)(i < len ? given[i] : 0);
    return diff == 0;
}
