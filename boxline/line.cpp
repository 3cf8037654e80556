/* line.cpp -- the boxes' serial line format and timing (see line.h). The
 * inverse of the dimming table is built once, on first use, from the
 * table itself, so the two directions can never disagree. */
#include "boxline/line.h"

#include "boxline/scale_table.h"

namespace {

const int DELAYS = 128;         /* every byte with bit 7 clear */
int level_of_delay[DELAYS];     /* the inverse table */
bool inverse_ready = false;

int clamp_level(int level)
{
    return level < 0 ? 0 : level > 255 ? 255 : level;
}

/* For each delay in the table, the highest level that sends it; then the
 * gaps between entries by linear interpolation, rounded to the nearest. */
void build_inverse()
{
    for (int d = 0; d < DELAYS; d++)
        level_of_delay[d] = -1;
    for (int level = 0; level <= 255; level++) {
        int d = scale_table[255 - level] & 0x7f;
        if (level > level_of_delay[d])
            level_of_delay[d] = level;
    }
    int below = -1; /* the last delay the table holds, under d */
    for (int d = 0; d < DELAYS; d++) {
        if (level_of_delay[d] >= 0) {
            below = d;
            continue;
        }
        int above = d + 1;
        while (above < DELAYS && level_of_delay[above] < 0)
            above++;
        if (below < 0)
            level_of_delay[d] = 255;  /* fires earlier than full: full */
        else if (above >= DELAYS)
            level_of_delay[d] = 0;    /* fires later than off: off */
        else {
            int from = level_of_delay[below], to = level_of_delay[above];
            int span = above - below, step = d - below;
            /* from + (to - from) * step / span, rounded half away from 0 */
            int num = (to - from) * step * 2;
            int q = num >= 0 ? (num + span) / (2 * span) : -((-num + span) / (2 * span));
            level_of_delay[d] = from + q;
        }
    }
    inverse_ready = true;
}

} // namespace

extern "C" {

unsigned char boxline_address(int box, int pair)
{
    return (unsigned char)(BOXLINE_ADDRESS_FLAG | (((unsigned)box << 2) & 0xff) |
                           ((unsigned)pair & 0xff));
}

int boxline_parse_address(unsigned char byte, int *box, int *pair)
{
    if (!(byte & BOXLINE_ADDRESS_FLAG))
        return 0;
    int b = (byte >> 2) & 0x1f, p = byte & 3;
    if (b < 1 || b > BOXLINE_BOXES || p >= BOXLINE_PAIRS)
        return 0;
    *box = b;
    *pair = p;
    return 1;
}

unsigned char boxline_delay(int level)
{
    return (unsigned char)(scale_table[255 - clamp_level(level)] & 0xff);
}

int boxline_level(unsigned char delay)
{
    if (!inverse_ready)
        build_inverse();
    return level_of_delay[delay & 0x7f];
}

void boxline_command(int box, int pair, int level1, int level2, unsigned char out[3])
{
    out[0] = boxline_address(box, pair);
    out[1] = boxline_delay(level1);
    out[2] = boxline_delay(level2);
}

void boxline_frame(const int levels[LIGHT_CHANNELS], unsigned char out[BOXLINE_FRAME_BYTES])
{
    /* Channel pairs in hardware order: pair j covers channels 2j, 2j + 1. */
    for (int c = 0; c < BOXLINE_FRAME_COMMANDS; c++)
        boxline_command(c / BOXLINE_PAIRS + 1, c % BOXLINE_PAIRS, levels[2 * c],
                        levels[2 * c + 1], out + c * BOXLINE_COMMAND_BYTES);
}

int boxline_baud_ok(long baud)
{
    return baud == BOXLINE_BAUD || baud == BOXLINE_BAUD_FAST;
}

long long boxline_line_ns(long baud, long long bytes)
{
    return bytes * BOXLINE_BITS_PER_BYTE * 1000000000LL / baud;
}

long long boxline_line_bytes(long baud, long long ns)
{
    if (ns <= 0)
        return 0;
    /* ns * baud stays in range for spans of up to some 40 hours */
    return ns * baud / (BOXLINE_BITS_PER_BYTE * 1000000000LL);
}

} // extern "C"
