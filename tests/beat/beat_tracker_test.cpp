/* The beat tracker fed as the plug-in will feed it: consecutive 512-sample
 * blocks of synthesised music, each block's spectrum computed by the
 * host's code, the music time of the block's end. */
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "beat_tracker.h"
#include "host/fft_bins.h"

namespace {

const int RATE = 44100;

struct Heard {
    std::vector<double> beats;   /* times of signalled beats */
    std::vector<double> bpm;     /* tempo at each */
    double first_lock = -1.0;
};

/* A drum loop: a kick (a falling sine) on every beat, a snare (noise) on
 * every second, a closed hat (short noise) on every off-beat, a quiet bass
 * tone under it all. Beat times in `beats`. */
std::vector<int16_t> drums(const std::vector<double> &beats, double seconds)
{
    std::vector<int16_t> out((size_t)(seconds * RATE) * 2, 0);
    unsigned noise = 12345;
    auto rnd = [&noise] { noise = noise * 1103515245u + 12345u; return ((noise >> 16) & 0x7fff) / 16384.0 - 1.0; };
    std::vector<double> mix(out.size() / 2, 0.0);
    for (size_t n = 0; n < mix.size(); n++)
        mix[n] = 0.05 * sin(2 * M_PI * 55.0 * n / RATE);
    for (size_t i = 0; i < beats.size(); i++) {
        long at = lround(beats[i] * RATE);
        double gap = i + 1 < beats.size() ? beats[i + 1] - beats[i] : 0.5;
        for (long k = 0; k < RATE / 5 && at + k < (long)mix.size(); k++) {
            double e = exp(-k / (0.04 * RATE));
            mix[at + k] += 0.6 * e * sin(2 * M_PI * (50.0 + 80.0 * e) * k / RATE);
            if (i % 2)
                mix[at + k] += 0.35 * exp(-k / (0.03 * RATE)) * rnd();
        }
        long hat = at + lround(gap / 2 * RATE);
        for (long k = 0; k < RATE / 50 && hat + k < (long)mix.size(); k++)
            mix[hat + k] += 0.15 * exp(-k / (0.005 * RATE)) * rnd();
    }
    for (size_t n = 0; n < mix.size(); n++)
        out[2 * n] = out[2 * n + 1] = (int16_t)lround(fmax(-1.0, fmin(1.0, mix[n])) * 20000);
    return out;
}

std::vector<double> grid(double bpm, double from, double to, double first = 0.05)
{
    std::vector<double> b;
    for (double t = first; t < to; t += 60.0 / bpm)
        if (t >= from)
            b.push_back(t);
    return b;
}

Heard track(const std::vector<int16_t> &stereo)
{
    Heard r;
    beat_tracker t;
    EXPECT_EQ(0, spectrum_init());
    EXPECT_EQ(0, beat_tracker_init(&t));
    int16_t freq[2][SPECTRUM_BINS];
    size_t blocks = stereo.size() / 2 / SPECTRUM_SAMPLES;
    for (size_t b = 0; b < blocks; b++) {
        spectrum_compute(&stereo[b * SPECTRUM_SAMPLES * 2], 1, freq);
        double now = (double)(b + 1) * SPECTRUM_SAMPLES / RATE;
        const beat_state *s = beat_tracker_feed(&t, freq[0], now);
        if (s->locked && r.first_lock < 0)
            r.first_lock = now;
        if (s->beat_now) {
            EXPECT_TRUE(s->locked);
            EXPECT_GE(s->beat_in_bar, 1);
            EXPECT_LE(s->beat_in_bar, s->beats_per_bar);
            r.beats.push_back(now);
            r.bpm.push_back(s->bpm);
        }
    }
    beat_tracker_free(&t);
    return r;
}

/* Every signalled beat from `from` to `to` lies within 35 ms of a true
 * beat, and none of the true beats there is missed. */
void expect_on_beat(const Heard &r, const std::vector<double> &truth, double from, double to)
{
    int matched = 0, expected = 0;
    for (double b : truth)
        if (b >= from && b < to - 0.1)
            expected++;
    for (double e : r.beats) {
        if (e < from || e >= to)
            continue;
        double best = 1e9;
        for (double b : truth)
            best = fmin(best, fabs(e - b));
        EXPECT_LT(best, 0.035) << "beat signalled at " << e;
        matched += best < 0.035;
    }
    EXPECT_GE(matched, expected - 1);
}

TEST(BeatTracker, SteadyBeatsLockQuicklyAtTheirTempoAndFallOnTheBeat)
{
    for (double bpm : {84.0, 120.0, 150.0}) {
        SCOPED_TRACE(bpm);
        auto truth = grid(bpm, 0.0, 20.0);
        Heard r = track(drums(truth, 20.0));
        ASSERT_GT(r.first_lock, 0.0);
        EXPECT_LT(r.first_lock, 4.0);
        ASSERT_FALSE(r.bpm.empty());
        EXPECT_NEAR(r.bpm.back(), bpm, bpm * 0.02);
        expect_on_beat(r, truth, 6.0, 19.5);
    }
}

TEST(BeatTracker, FollowsATempoStepWithinFourSeconds)
{
    auto truth = grid(100.0, 0.0, 12.05);
    double step = truth.back();
    for (double t : grid(130.0, 0.0, 26.0, step + 60.0 / 130.0))
        truth.push_back(t);
    Heard r = track(drums(truth, 26.0));
    ASSERT_FALSE(r.bpm.empty());
    EXPECT_NEAR(r.bpm.back(), 130.0, 2.6);
    expect_on_beat(r, truth, step + 4.0, 25.5);
}

/* 15 s of silence (`noise` false) or of white noise: never locked, no beat. */
void expect_unlocked(bool noise)
{
    std::vector<int16_t> sound((size_t)15 * RATE * 2, 0);
    unsigned x = 99;
    for (auto &v : sound) {
        x = x * 1664525u + 1013904223u;
        v = noise ? (int16_t)(((int)(x >> 16) - 32768) / 4) : 0;
    }
    Heard r = track(sound);
    EXPECT_LT(r.first_lock, 0.0);
    EXPECT_TRUE(r.beats.empty());
}

TEST(BeatTracker, SilenceStaysUnlocked)
{
    expect_unlocked(false);
}

TEST(BeatTracker, WhiteNoiseStaysUnlocked)
{
    expect_unlocked(true);
}

} // namespace
