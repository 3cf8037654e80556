/* beat_tracker.cpp -- what the beat tracker adds to a plug-in callback:
 * one feed (onset function, autocorrelation, tempo search every fourth
 * call, beat loop) on the spectra of a drum loop, against the host's
 * spectrum of the same blocks as a floor. Median of repetitions. */
#include <benchmark/benchmark.h>
#include <math.h>

#include <vector>

#include "beat_tracker.h"
#include "host/fft_bins.h"

namespace {

const int BLOCKS = 2048;  /* 23.8 s of music */
int16_t spectra[BLOCKS][2][256];
std::vector<int16_t> music;

/* A kick every 0.5 s and a noise hat between, over a low tone. */
void make_music()
{
    music.assign((size_t)BLOCKS * 512 * 2, 0);
    unsigned x = 7;
    for (size_t n = 0; n < music.size() / 2; n++) {
        double t = n / 44100.0, beat = fmod(t, 0.5), hat = fmod(t + 0.25, 0.5);
        x = x * 1664525u + 1013904223u;
        double v = 0.1 * sin(2 * M_PI * 55 * t) + 0.6 * exp(-beat / 0.04) * sin(2 * M_PI * 60 * beat) +
                   0.15 * exp(-hat / 0.005) * (((x >> 16) & 0x7fff) / 16384.0 - 1.0);
        music[2 * n] = music[2 * n + 1] = (int16_t)(v * 20000);
    }
    spectrum_init();
    for (int b = 0; b < BLOCKS; b++)
        spectrum_compute(&music[(size_t)b * 1024], 1, spectra[b]);
}

void BM_TrackerFeed(benchmark::State &state)
{
    beat_tracker t;
    beat_tracker_init(&t);
    long i = 0;
    for (auto _ : state) {
        const beat_state *s = beat_tracker_feed(&t, spectra[i % BLOCKS][0], (i + 1) * 512 / 44100.0);
        benchmark::DoNotOptimize(s);
        i++;
    }
    state.counters["locked"] = t.state.locked;
    beat_tracker_free(&t);
}

void BM_HostSpectrum(benchmark::State &state)
{
    int16_t freq[2][256];
    long i = 0;
    for (auto _ : state) {
        spectrum_compute(&music[(size_t)(i++ % BLOCKS) * 1024], 1, freq);
        benchmark::DoNotOptimize(freq);
    }
}

} // namespace

int main(int argc, char **argv)
{
    make_music();
    benchmark::RegisterBenchmark("beat_tracker/feed", BM_TrackerFeed)
        ->Repetitions(5)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("floor/host_spectrum", BM_HostSpectrum)
        ->Repetitions(5)->ReportAggregatesOnly(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
