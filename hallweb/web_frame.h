/* web_frame.h -- the header of a WebSocket frame from a page, read before
 * its payload, so that a frame is judged by the length it declares before
 * a byte of it is stored. */
#ifndef HALLWEB_WEB_FRAME_H
#define HALLWEB_WEB_FRAME_H

#include <stddef.h>
#include <stdint.h>

#define WEB_FRAME_HEAD_MAX 14    /* 2, a 64-bit length and the mask */

enum web_opcode {
    WEB_OP_CONTINUATION = 0x0,
    WEB_OP_TEXT = 0x1,
    WEB_OP_BINARY = 0x2,
    WEB_OP_CLOSE = 0x8,
    WEB_OP_PING = 0x9,
    WEB_OP_PONG = 0xa,
};

struct web_frame_head {
    int fin;                     /* the last frame of its message */
    int opcode;
    unsigned char mask[4];
    uint64_t length;             /* the payload's length as declared */
    size_t head_len;             /* bytes of the header */
};

/* The header at the start of bytes (len of them). 1 with *h filled; 0
 * when more bytes are needed, h->head_len then being how many the header
 * takes as far as can be told (2 at least); -1 when it is not a frame a
 * page may send: a reserved bit set (no extension is agreed), an unknown
 * opcode, no mask, a control frame fragmented or over 125 bytes, or a
 * length with its top bit set. */
int web_frame_head_parse(const unsigned char *bytes, size_t len, struct web_frame_head *h);

/* Take the mask off n bytes of payload, in place. */
void web_frame_unmask(unsigned char *payload, size_t n, const unsigned char mask[4]);

#endif
