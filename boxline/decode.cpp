/* decode.cpp -- turns the bytes of the boxes' serial line back into lamp
 * levels (see decode.h). A small state machine per line: waiting for an
 * address, for the first delay, for the second, or passing over bytes
 * until the next address after a fault. */
#include "boxline/decode.h"

#include <string.h>

namespace {

enum {
    WAIT_ADDRESS, /* between commands */
    WAIT_FIRST,   /* address taken */
    WAIT_SECOND,  /* address and first delay taken */
    SKIPPING,     /* after a bad address or a line error: until the next
                     address, delay bytes are part of the broken command */
};

const unsigned char MARK = 0xff;

/* A byte the device marked as received in error: the command under way
 * is lost, and so are its remaining delay bytes. */
void line_error(boxline_decoder *d)
{
    d->counts.line_errors++;
    d->state = SKIPPING;
}

/* One byte as it came off the line. 1 when it ended a frame. */
int take(boxline_decoder *d, unsigned char byte, int levels[LIGHT_CHANNELS])
{
    d->counts.bytes++;
    if (byte & BOXLINE_ADDRESS_FLAG) {
        if (d->state == WAIT_FIRST || d->state == WAIT_SECOND)
            d->counts.cut_short++;
        if (boxline_parse_address(byte, &d->box, &d->pair)) {
            d->state = WAIT_FIRST;
        } else {
            d->counts.bad_address++;
            d->state = SKIPPING;
        }
        return 0;
    }
    switch (d->state) {
    case WAIT_ADDRESS:
        d->counts.stray++;
        return 0;
    case WAIT_FIRST:
        d->first = byte;
        d->state = WAIT_SECOND;
        return 0;
    case WAIT_SECOND: {
        int h = (d->box - 1) * LIGHT_CHANNELS_PER_BOX + 2 * d->pair;
        levels[h] = boxline_level(d->first);
        levels[h + 1] = boxline_level(byte);
        d->counts.commands++;
        d->state = WAIT_ADDRESS;
        if (d->box == BOXLINE_BOXES && d->pair == BOXLINE_PAIRS - 1) {
            d->counts.frames++;
            return 1;
        }
        return 0;
    }
    default: /* SKIPPING */
        return 0;
    }
}

} // namespace

extern "C" {

void boxline_decoder_init(struct boxline_decoder *d, int marked)
{
    memset(d, 0, sizeof *d);
    d->state = WAIT_ADDRESS;
    d->marked = marked;
}

int boxline_decode(struct boxline_decoder *d, const unsigned char *bytes, size_t n,
                   int levels[LIGHT_CHANNELS])
{
    int frames = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned char b = bytes[i];
        if (!d->marked) {
            frames += take(d, b, levels);
            continue;
        }
        switch (d->mark) {
        case 0:
            if (b == MARK)
                d->mark = 1;
            else
                frames += take(d, b, levels);
            break;
        case 1:
            if (b == 0) {
                d->mark = 2;
            } else {
                /* 0xff 0xff is a real 0xff; anything else after a lone
                 * 0xff cannot come from the device: take both as bytes */
                d->mark = 0;
                frames += take(d, MARK, levels);
                if (b != MARK)
                    frames += take(d, b, levels);
            }
            break;
        default: /* the byte received in error, or 0 for a break */
            d->mark = 0;
            d->counts.bytes++;
            line_error(d);
            break;
        }
    }
    return frames;
}

long long boxline_faults(const struct boxline_counts *c)
{
    return c->stray + c->bad_address + c->cut_short + c->line_errors;
}

} // extern "C"
