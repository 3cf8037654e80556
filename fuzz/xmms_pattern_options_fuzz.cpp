/* xmms_pattern_options_fuzz.cpp -- the extra patterns' init on arbitrary
 * option strings, followed by frames on a spectrum made of the same bytes.
 * The first byte picks the pattern, the rest is the option string. A frame
 * must never write outside the 60 values (guards on both sides). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "game_patterns.h"
#include "simple_patterns_equalizers.h"
#include "simple_patterns_explosion.h"
#include "simple_patterns_meters.h"
#include "simple_patterns_motion.h"

#define ROW(name) {name##_init, name##_frame, name##_deinit}

static const pattern_info extra_patterns[] = {
    ROW(simple_equalizer), ROW(ring_equalizer), ROW(swirl_meter),
    ROW(vertical_spectrum), ROW(bar_equalizer), ROW(center_meter),
    ROW(vertical_meter),   ROW(trailing_lines), ROW(warp_core),
    ROW(auto_pong),        ROW(explosion),
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = false;
    if (!quiet) { /* the patterns' messages would drown the fuzzer's */
        quiet = freopen("/dev/null", "w", stdout) != nullptr;
    }
    if (size < 1)
        return 0;
    const pattern_info &p =
        extra_patterns[data[0] % (sizeof extra_patterns / sizeof *extra_patterns)];

    char options[512];
    size_t n = size - 1 < sizeof options - 1 ? size - 1 : sizeof options - 1;
    memcpy(options, data + 1, n);
    options[n] = '\0';

    static const int GUARD = 0x5a5a5a5a;
    int buf[8 + 60 + 8];
    for (int &v : buf)
        v = GUARD;
    int *light = buf + 8;
    for (int k = 0; k < 60; k++)
        light[k] = data[k % size];
    double averages[10];
    int16_t heights[10];
    int16_t raw[2][256];
    for (int i = 0; i < 10; i++) {
        averages[i] = data[i % size];
        heights[i] = (int16_t)(data[i % size] % 100);
    }
    for (int i = 0; i < 256; i++)
        raw[0][i] = raw[1][i] = (int16_t)(data[i % size] * 257 - 32768);

    if (p.init(options) != 0)
        return 0;
    for (int f = 0; f < 64; f++)
        if (p.frame(averages, heights, light, raw, 63 - f) < 0)
            break;
    p.deinit();
    for (int i = 0; i < 8; i++)
        if (buf[i] != GUARD || buf[8 + 60 + i] != GUARD)
            abort();
    return 0;
}
