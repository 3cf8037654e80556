/* boxline_decode_fuzz.cpp -- the boxes' line decoder on arbitrary bytes.
 * The first byte picks plain or error-marked input and where the rest is
 * cut into pieces; decoding it whole and in pieces must agree (the state
 * carries across calls), every level must be a level, and the counts
 * must add up. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "boxline/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    int marked = data[0] & 1;
    size_t step = (data[0] >> 1) + 1;
    data++;
    size--;

    boxline_decoder whole, pieces;
    int whole_levels[LIGHT_CHANNELS], piece_levels[LIGHT_CHANNELS];
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        whole_levels[i] = piece_levels[i] = -1;
    boxline_decoder_init(&whole, marked);
    boxline_decoder_init(&pieces, marked);

    int whole_frames = boxline_decode(&whole, data, size, whole_levels);
    int piece_frames = 0;
    for (size_t at = 0; at < size; at += step)
        piece_frames += boxline_decode(&pieces, data + at, size - at < step ? size - at : step,
                                       piece_levels);

    if (whole_frames != piece_frames || memcmp(&whole.counts, &pieces.counts, sizeof whole.counts) ||
        memcmp(whole_levels, piece_levels, sizeof whole_levels))
        abort();
    const boxline_counts &c = whole.counts;
    if (c.frames != whole_frames || c.frames > c.commands || c.bytes > (long long)size ||
        c.commands * 3 + c.stray + c.bad_address > c.bytes)
        abort();
    if (!marked && c.bytes != (long long)size)
        abort();
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        if (whole_levels[i] < -1 || whole_levels[i] > 255)
            abort();
    return 0;
}
