/* cli.cpp -- strict number parsing for command lines. */
#include "tools/cli.h"

#include <errno.h>
#include <stdlib.h>

int cli_parse_long(const char *text, long min, long max, long *out)
{
    if (!text || !*text)
        return -1;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}
