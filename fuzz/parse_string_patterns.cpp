/* parse_string_patterns.cpp -- fuzz target: option strings given to the
 * patterns that read options, followed by frames. Whatever the values,
 * the frame stays inside the light array and holds no value a frame of
 * these patterns cannot (0 to 255). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "xmms/src/simple_patterns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    static int16_t raw[2][256];
    static double averages[10];
    static int16_t heights[10];
    int light[60] = {0};

    bool rise = data[0] & 1;
    srand(data[0]);
    if (rise)
        rise_init(text.data());
    else
        spinning_stripe_init(text.data());
    for (int k = 0; k < 50; k++) {
        int r = rise ? rise_frame(averages, heights, light, raw, 50 - k)
                     : spinning_stripe_frame(averages, heights, light, raw, 50 - k);
        for (int v : light)
            if (v < 0 || v > 255)
                abort();
        if (r < 0)
            break;
    }
    return 0;
}
