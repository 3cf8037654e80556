/* glim_patterns_frames.cpp -- one frame of each extra pattern on a varying
 * random spectrum, through the functions the library exports. A pattern
 * that ends itself is started again inside the loop (a few calls in 44 for
 * explosion). */
#include <stdio.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include "game_patterns.h"
#include "simple_patterns_equalizers.h"
#include "simple_patterns_explosion.h"
#include "simple_patterns_meters.h"
#include "simple_patterns_motion.h"

namespace {

constexpr int SPECTRA = 64;
int16_t spectra[SPECTRA][2][256];

void make_spectra()
{
    srand(2001);
    for (auto &s : spectra)
        for (int i = 0; i < 256; i++)
            s[0][i] = s[1][i] = (int16_t)(rand() % 20000 / (1 + i / 16));
}

void frame_bench(benchmark::State &state, pattern_info p)
{
    double averages[10];
    int16_t heights[10];
    int light[60] = {};
    for (int i = 0; i < 10; i++) {
        averages[i] = 64.0;
        heights[i] = (int16_t)(i * 11);
    }
    FILE *keep = stdout; /* init messages stay off the report */
    stdout = fopen("/dev/null", "w");
    p.init(nullptr);
    int n = 0;
    for (auto _ : state) {
        int r = p.frame(averages, heights, light, spectra[n++ % SPECTRA], 100);
        benchmark::DoNotOptimize(light);
        if (r < 0) {
            p.deinit();
            p.init(nullptr);
        }
    }
    p.deinit();
    fclose(stdout);
    stdout = keep;
}

#define PATTERN_BENCH(name)                                                    \
    BENCHMARK_CAPTURE(frame_bench, name,                                       \
                      pattern_info{name##_init, name##_frame, name##_deinit})

PATTERN_BENCH(simple_equalizer);
PATTERN_BENCH(ring_equalizer);
PATTERN_BENCH(swirl_meter);
PATTERN_BENCH(vertical_spectrum);
PATTERN_BENCH(bar_equalizer);
PATTERN_BENCH(center_meter);
PATTERN_BENCH(vertical_meter);
PATTERN_BENCH(trailing_lines);
PATTERN_BENCH(warp_core);
PATTERN_BENCH(auto_pong);
PATTERN_BENCH(explosion);

} // namespace

int main(int argc, char **argv)
{
    make_spectra();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
