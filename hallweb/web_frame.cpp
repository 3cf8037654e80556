/* web_frame.cpp -- reading a page's frame header (web_frame.h). No state. */
#include "hallweb/web_frame.h"

#include <string.h>

int web_frame_head_parse(const unsigned char *bytes, size_t len, web_frame_head *h)
{
    memset(h, 0, sizeof *h);
    h->head_len = 2;
    if (len < 2)
        return 0;
    h->fin = (bytes[0] & 0x80) != 0;
    h->opcode = bytes[0] & 0x0f;
    bool control = h->opcode >= WEB_OP_CLOSE;
    bool known = h->opcode <= WEB_OP_BINARY || (control && h->opcode <= WEB_OP_PONG);
    unsigned short7 = bytes[1] & 0x7f;
    if ((bytes[0] & 0x70) || !known || !(bytes[1] & 0x80) ||
        (control && (!h->fin || short7 > 125)))
        return -1;
    size_t extra = short7 == 126 ? 2 : short7 == 127 ? 8 : 0;
    h->head_len = 2 + extra + 4;
    if (len < h->head_len)
        return 0;
    h->length = short7;
    if (extra) {
        h->length = 0;
        for (size_t i = 0; i < extra; i++)
            h->length = h->length << 8 | bytes[2 + i];
        if (h->length >> 63)
            return -1;
    }
    memcpy(h->mask, bytes + 2 + extra, 4);
    return 1;
}

void web_frame_unmask(unsigned char *payload, size_t n, const unsigned char mask[4])
{
    for (size_t i = 0; i < n; i++)
        payload[i] ^= mask[i & 3];
}
