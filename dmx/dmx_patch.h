/* dmx_patch.h -- where the 60 channels of a light frame land in a DMX
 * universe: a run of 60 addresses from a start address, or a patch file
 * naming each channel's address. Also turns a frame into the DMX slots,
 * scaled by a master level. Plain C; no OLA in here. */
#ifndef DMX_DMX_PATCH_H
#define DMX_DMX_PATCH_H

#include <stddef.h>

#include "dmx/dmx.h"
#include "interface_2001.h"

#ifdef __cplusplus
extern "C" {
#endif

struct dmx_patch {
    int address[LIGHT_CHANNELS]; /* DMX address 1..512 per channel, 0: left out */
    int slots;                   /* highest address used: the frame's length */
};

/* Channels 0..59 at start .. start + 59. 0, or -1 with a one-line reason
 * in err when start is outside 1..DMX_LAST_START. */
int dmx_patch_from_start(struct dmx_patch *p, long start, char *err, size_t errlen);

/* Read a patch from text (len bytes, NUL bytes count as bad characters):
 * 60 whole numbers separated by white space or commas, each a DMX address
 * 1..512 or 0 for a channel left out; '#' starts a comment that runs to
 * the end of the line. Two channels may share an address. `name` heads
 * refusals ("NAME:LINE: ..."). 0, or -1 with the reason in err and *p
 * untouched. */
int dmx_patch_parse(struct dmx_patch *p, const char *text, size_t len, const char *name,
                    char *err, size_t errlen);

/* dmx_patch_parse on the contents of a file (at most 64 KiB). */
int dmx_patch_load(struct dmx_patch *p, const char *path, char *err, size_t errlen);

/* Fill slots[0 .. p->slots - 1] (slot 0 is address 1) from a frame:
 * each channel's value, clamped to 0..255, times level / 256 (level
 * 0..256, as the box driver scales). Addresses no channel uses are 0;
 * where channels share an address the highest level wins, as DMX merges. */
void dmx_patch_apply(const struct dmx_patch *p, const int values[LIGHT_CHANNELS], int level,
                     unsigned char slots[DMX_SLOTS]);

#ifdef __cplusplus
}
#endif

#endif
