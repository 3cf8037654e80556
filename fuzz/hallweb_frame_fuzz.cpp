/* hallweb_frame_fuzz.cpp -- the bytes a page sends after the handshake,
 * read as the server reads them: a header, judged, then at most a
 * message's worth of payload, unmasked; again and again. A header never
 * claims more bytes than WEB_FRAME_HEAD_MAX, nor is it complete with
 * fewer than it claims; a control frame is never over 125 bytes. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hallweb/web_frame.h"
#include "hallweb/web_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t at = 0;
    while (at < size) {
        web_frame_head h;
        int r = web_frame_head_parse(data + at, size - at, &h);
        if (h.head_len < 2 || h.head_len > WEB_FRAME_HEAD_MAX)
            abort();
        if (r <= 0)
            return 0;
        if (h.head_len > size - at || (h.opcode >= WEB_OP_CLOSE && h.length > 125))
            abort();
        at += h.head_len;
        if (h.length > WEB_MESSAGE_MAX || h.length > size - at)
            return 0;
        unsigned char payload[WEB_MESSAGE_MAX];
        memcpy(payload, data + at, (size_t)h.length);
        web_frame_unmask(payload, (size_t)h.length, h.mask);
        web_frame_unmask(payload, (size_t)h.length, h.mask);
        if (memcmp(payload, data + at, (size_t)h.length) != 0)
            abort();
        at += (size_t)h.length;
    }
    return 0;
}
