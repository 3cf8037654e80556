/* beat_tracker.cpp -- what the beat tracker adds to a plug-in callback,
 * on the spectra of a drum loop at 120 BPM (the tracker locks on it):
 *
 * - beat_tracker/feed: google benchmark's mean of one feed (onset
 *   function, autocorrelation, and the heavier work some callbacks carry:
 *   a tempo search every fourth, a review of the tempo every sixteenth,
 *   the beat measured and the bar judged once a beat);
 * - per call: each feed timed alone over a minute of music, so that the
 *   median shows what a plain callback costs and the 99th percentile
 *   what the heavier ones do;
 * - floor/host_spectrum: the host's spectrum of the same blocks, timed
 *   both ways in the same run, to read the tracker's cost against. */
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "beat_tracker.h"
#include "host/fft_bins.h"

namespace {

const int BLOCKS = 2048;  /* 23.8 s of music, looped */
int16_t spectra[BLOCKS][2][256];
std::vector<int16_t> music;

/* A kick every 0.5 s, a snare on every other, a noise hat between, over
 * a low tone. */
void make_music()
{
    music.assign((size_t)BLOCKS * 512 * 2, 0);
    unsigned x = 7;
    for (size_t n = 0; n < music.size() / 2; n++) {
        double t = n / 44100.0, beat = fmod(t, 0.5), hat = fmod(t + 0.25, 0.5);
        bool backbeat = fmod(t, 1.0) >= 0.5;
        x = x * 1664525u + 1013904223u;
        double noise = ((x >> 16) & 0x7fff) / 16384.0 - 1.0;
        double v = 0.1 * sin(2 * M_PI * 55 * t) + 0.6 * exp(-beat / 0.04) * sin(2 * M_PI * 60 * beat) +
                   (backbeat ? 0.3 * exp(-beat / 0.03) * noise : 0.0) + 0.15 * exp(-hat / 0.005) * noise;
        music[2 * n] = music[2 * n + 1] = (int16_t)(v * 20000);
    }
    spectrum_init();
    for (int b = 0; b < BLOCKS; b++)
        spectrum_compute(&music[(size_t)b * 1024], 1, spectra[b]);
}

double block_time(long i) { return (i + 1) * 512 / 44100.0; }

void BM_TrackerFeed(benchmark::State &state)
{
    beat_tracker t;
    beat_tracker_init(&t);
    long i = 0;
    for (auto _ : state) {
        const beat_state *s = beat_tracker_feed(&t, spectra[i % BLOCKS][0], block_time(i));
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

long now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000L + ts.tv_nsec;
}

struct Spread {
    double median, p90, p99;
};

Spread spread(std::vector<long> &ns)
{
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) { return (double)ns[(size_t)(q * (ns.size() - 1))]; };
    return {at(0.5), at(0.9), at(0.99)};
}

/* Each call timed alone: the tracker's feed, the host's spectrum and an
 * empty pair of clock readings (what the timing itself costs), over
 * `calls` blocks of the loop. */
void per_call(long calls)
{
    std::vector<long> feed(calls), floor(calls), clock(calls);
    beat_tracker t;
    beat_tracker_init(&t);
    int16_t freq[2][256];
    long locked = 0;
    for (long i = 0; i < calls; i++) {
        long a = now_ns();
        const beat_state *s = beat_tracker_feed(&t, spectra[i % BLOCKS][0], block_time(i));
        long b = now_ns();
        spectrum_compute(&music[(size_t)(i % BLOCKS) * 1024], 1, freq);
        long c = now_ns();
        benchmark::DoNotOptimize(freq);
        long d = now_ns();
        feed[i] = b - a;
        floor[i] = c - b;
        clock[i] = d - c;
        locked += s->locked;
    }
    beat_tracker_free(&t);
    Spread f = spread(feed), h = spread(floor), k = spread(clock);
    printf("\nper call, %ld calls (%.0f s of music; locked in %.0f%% of them), ns with the clock's own cost:\n",
           calls, block_time(calls), 100.0 * locked / calls);
    printf("  %-22s %8s %8s %8s\n", "", "median", "p90", "p99");
    printf("  %-22s %8.0f %8.0f %8.0f\n", "beat_tracker/feed", f.median, f.p90, f.p99);
    printf("  %-22s %8.0f %8.0f %8.0f\n", "floor/host_spectrum", h.median, h.p90, h.p99);
    printf("  %-22s %8.0f %8.0f %8.0f\n", "clock reading", k.median, k.p90, k.p99);
    printf("  feed median against the floor: %.2f\n", (f.median - k.median) / (h.median - k.median));
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
    per_call(5 * BLOCKS);
    return 0;
}
