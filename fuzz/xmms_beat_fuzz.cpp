/* xmms_beat_fuzz.cpp -- the patterns that follow the beat, on arbitrary
 * option strings and an arbitrary beat grid. The first byte picks the
 * pattern; the text up to the first NUL is its option string; the bytes
 * after it make a grid handed over as a host would (three bytes a beat:
 * the gap to it, its place in the bar, a section starting on it) and the
 * last byte how the music time moves (on, or jumping back). Then frames:
 * none may write outside the 60 values, and the grid's beat must be sane. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "beat_clock.h"
#include "beat_patterns.h"
#include "simple_patterns.h"
#include "simple_patterns_motion.h"

#define ROW(name) {name##_init, name##_frame, name##_deinit}

static const pattern_info beat_patterns[] = {
    ROW(beat_pulse), ROW(beat_chase), ROW(spinning_stripe), ROW(warp_core),
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = false;
    if (!quiet) /* the patterns' messages would drown the fuzzer's */
        quiet = freopen("/dev/null", "w", stdout) != nullptr;
    if (size < 2)
        return 0;
    const pattern_info &p = beat_patterns[data[0] % (sizeof beat_patterns / sizeof *beat_patterns)];
    const uint8_t *end = data + size, *text = data + 1;
    const uint8_t *nul = (const uint8_t *)memchr(text, 0, (size_t)(end - text));
    std::vector<char> options(text, nul ? nul : end);
    options.push_back('\0');

    std::vector<glim_grid_beat> beats;
    std::vector<glim_grid_section> sections;
    double t = 0.0;
    for (const uint8_t *g = nul ? nul + 1 : end; g + 3 <= end; g += 3) {
        t += g[0] / 255.0;  /* a gap of 0 makes the grid unsorted: refused */
        beats.push_back({t, g[1] % 6});
        if (g[2] & 1)
            sections.push_back({t - (g[2] >> 4) / 32.0, (g[2] >> 2) / 63.0, (g[2] >> 1) & 1});
    }
    beat_clock_set_grid(beats.data(), (int)beats.size(), sections.data(), (int)sections.size());

    static const int GUARD = 0x5a5a5a5a;
    int buf[8 + 60 + 8];
    for (int &v : buf)
        v = GUARD;
    int *light = buf + 8;
    double averages[10] = {0};
    int16_t heights[10] = {0};
    int16_t raw[2][256];
    for (int i = 0; i < 256; i++)
        raw[0][i] = raw[1][i] = (int16_t)(data[i % size] * 128);

    if (p.init(options.data()) != 0)
        return 0;
    uint8_t moves = data[size - 1];
    double now = 0.0;
    for (int f = 0; f < 300; f++) {
        now += (moves & 1) && f % 97 == 96 ? -1.5 : 512.0 / 44100.0;
        beat_clock_set_music_time(now);
        beat_clock_feed(raw[0]);
        const beat_view *b = beat_clock_view();
        if (b->beat && (b->beat_in_bar < 0 || b->beats_per_bar < 1))
            abort();
        double phase = beat_clock_phase(b);
        if (!(phase >= 0.0 && phase <= 1.0))
            abort();
        p.frame(averages, heights, light, raw, 0);
    }
    p.deinit();
    beat_clock_set_grid(nullptr, 0, nullptr, 0);
    for (int i = 0; i < 8; i++)
        if (buf[i] != GUARD || buf[8 + 60 + i] != GUARD)
            abort();
    return 0;
}
