/* host_analysis.cpp -- what one callback costs glimhost before the
 * plug-in runs: the spectrum of 512 frames, and rendering 512 frames of
 * the demo music. */
#include <benchmark/benchmark.h>

#include <vector>

#include "host/demo_music.h"
#include "host/fft_bins.h"

static void BM_SpectrumOneChannel(benchmark::State &state)
{
    spectrum_init();
    std::vector<int16_t> in(1024);
    demo_music_render(20 * DEMO_MUSIC_RATE, in.data(), 512);
    int16_t freq[2][256];
    for (auto _ : state) {
        spectrum_compute(in.data(), 1, freq);
        benchmark::DoNotOptimize(freq);
    }
}
BENCHMARK(BM_SpectrumOneChannel);

static void BM_DemoMusic512Frames(benchmark::State &state)
{
    std::vector<int16_t> out(1024);
    long at = 0;
    for (auto _ : state) {
        demo_music_render(at, out.data(), 512);
        at += 512;
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_DemoMusic512Frames);

BENCHMARK_MAIN();
