/* hallweb_message_fuzz.cpp -- a page's WebSocket message as the web
 * console reads it. Whatever is accepted is in range; whatever is refused
 * has a one-line reason. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hallweb/web_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    web_message m;
    char err[160];
    memset(err, 'x', sizeof err);
    if (web_message_parse((const char *)data, size, &m, err, sizeof err) != 0) {
        size_t n = strnlen(err, sizeof err);
        if (n == 0 || n == sizeof err || memchr(err, '\n', n))
            abort();
        return 0;
    }
    switch (m.kind) {
    case WEB_MSG_VIEW:
        if (m.feed < 0 || m.feed >= WEB_MAX_FEEDS)
            abort();
        break;
    case WEB_MSG_SELECT:
        if (m.feed < 0 || m.feed > 9)
            abort();
        break;
    case WEB_MSG_LEVEL:
        if (m.level < 0 || m.level > CONTROL_LEVEL_MAX || m.level % CONTROL_LEVEL_STEP)
            abort();
        break;
    case WEB_MSG_AUTH:
        if (m.token_len > WEB_TOKEN_MAX || strlen(m.token) != m.token_len)
            abort();
        break;
    case WEB_MSG_NEXT:
    case WEB_MSG_AUTO:
        break;
    default:
        abort();
    }
    return 0;
}
