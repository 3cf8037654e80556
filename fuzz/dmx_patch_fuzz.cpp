/* dmx_patch_fuzz.cpp -- dmxout's patch file parser on any bytes, and the
 * slots made from a frame through whatever patch it accepts. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "dmx/dmx_patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    dmx_patch p;
    char err[256] = "";
    if (dmx_patch_parse(&p, (const char *)data, size, "fuzz", err, sizeof err) != 0) {
        if (strncmp(err, "fuzz:", 5) != 0)
            __builtin_trap(); /* every refusal names the file and line */
        return 0;
    }
    int top = 0;
    for (int a : p.address) {
        if (a < 0 || a > DMX_SLOTS)
            __builtin_trap();
        top = a > top ? a : top;
    }
    if (top == 0 || top != p.slots)
        __builtin_trap();

    /* a frame and a level from the input itself */
    int values[LIGHT_CHANNELS];
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        values[i] = (int)data[i % size] * 2 - 100;
    int level = (int)(size % 257);
    unsigned char slots[DMX_SLOTS];
    dmx_patch_apply(&p, values, level, slots);
    for (int i = 0; i < LIGHT_CHANNELS; i++) {
        int a = p.address[i];
        int v = values[i] < 0 ? 0 : values[i] > 255 ? 255 : values[i];
        if (a && slots[a - 1] < v * level / 256)
            __builtin_trap(); /* shared addresses keep the highest level */
    }
    for (int s = top; s < DMX_SLOTS; s++)
        if (slots[s])
            __builtin_trap(); /* nothing beyond the frame's length */
    return 0;
}
