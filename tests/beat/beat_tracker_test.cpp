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

enum Sound { KICK, SNARE, HAT, OPEN_HAT, BASS };

/* A sound at a place in the bar, in beats from its first beat. */
struct Hit {
    Sound sound;
    double at;
};

/* Music of bars of `per_bar` beats, each playing `hits`; `chords`: a
 * held chord that changes every bar. */
struct Style {
    int per_bar;
    std::vector<Hit> hits;
    bool chords;
};

/* The tests' house band: a kick on every beat and a snare on every
 * second, a closed hat on every off-beat. */
const Style ROCK = {4, {{KICK, 0}, {KICK, 1}, {KICK, 2}, {KICK, 3}, {SNARE, 1}, {SNARE, 3},
                        {HAT, 0.5}, {HAT, 1.5}, {HAT, 2.5}, {HAT, 3.5}}, false};

struct Heard {
    std::vector<double> beats;   /* times of signalled beats */
    std::vector<double> bpm;     /* tempo at each */
    std::vector<int> place;      /* beat_in_bar at each */
    double first_lock = -1.0;
    int beats_per_bar = 0;       /* at the end */
};

unsigned noise_state = 12345;

double noise()
{
    noise_state = noise_state * 1103515245u + 12345u;
    return ((noise_state >> 16) & 0x7fff) / 16384.0 - 1.0;
}

void add(std::vector<double> &mix, Sound s, double at_seconds, double bass_hz)
{
    long at = lround(at_seconds * RATE);
    for (long k = 0; k < RATE / 4 && at + k < (long)mix.size(); k++) {
        double e = exp(-k / (0.04 * RATE)), v = 0.0;
        switch (s) {
        case KICK: v = 0.6 * e * sin(2 * M_PI * (50.0 + 80.0 * e) * k / RATE); break;
        case SNARE: v = 0.35 * exp(-k / (0.03 * RATE)) * noise(); break;
        case HAT: v = k < RATE / 50 ? 0.15 * exp(-k / (0.005 * RATE)) * noise() : 0.0; break;
        case OPEN_HAT: v = 0.2 * exp(-k / (0.05 * RATE)) * noise(); break;
        case BASS: v = 0.4 * exp(-k / (0.12 * RATE)) * sin(2 * M_PI * bass_hz * k / RATE); break;
        }
        mix[at + k] += v;
    }
}

/* Stereo samples of `style` played on the beats `beats` (the first beat
 * of a bar at beats[0]) for `seconds`; bars from `quiet_from` to
 * `quiet_to` (bar numbers) keep only the bass and the chords. */
std::vector<int16_t> render(const Style &style, const std::vector<double> &beats, double seconds,
                            int quiet_from = -1, int quiet_to = -1)
{
    static const double root[4] = {55.0, 41.2, 43.65, 49.0}, third[4] = {1.26, 1.19, 1.26, 1.26};
    noise_state = 12345;
    std::vector<double> mix((size_t)(seconds * RATE), 0.0);
    for (size_t i = 0; i + 1 < beats.size(); i++) {
        int bar = (int)(i / style.per_bar), place = (int)(i % style.per_bar);
        double gap = beats[i + 1] - beats[i];
        bool quiet = bar >= quiet_from && bar < quiet_to;
        for (const Hit &h : style.hits)
            if ((int)h.at == place && (!quiet || h.sound == BASS))
                add(mix, h.sound, beats[i] + (h.at - place) * gap, root[bar % 4]);
        if (style.chords && place == 0) {
            double end = i + style.per_bar < beats.size() ? beats[i + style.per_bar] : seconds;
            for (long n = lround(beats[i] * RATE); n < lround(end * RATE) && n < (long)mix.size(); n++)
                for (double f : {8.0, 8.0 * third[bar % 4], 12.0})
                    mix[n] += 0.03 * sin(2 * M_PI * root[bar % 4] * f * n / RATE);
        }
    }
    for (size_t n = 0; n < mix.size(); n++)
        mix[n] += 0.05 * sin(2 * M_PI * 55.0 * n / RATE);
    std::vector<int16_t> out(mix.size() * 2);
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
            r.place.push_back(s->beat_in_bar);
        }
        r.beats_per_bar = s->beats_per_bar;
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
        Heard r = track(render(ROCK, truth, 20.0));
        ASSERT_GT(r.first_lock, 0.0);
        EXPECT_LT(r.first_lock, 4.0);
        ASSERT_FALSE(r.bpm.empty());
        EXPECT_NEAR(r.bpm.back(), bpm, bpm * 0.02);
        expect_on_beat(r, truth, 6.0, 19.5);
    }
}

/* Styles whose loudest onsets mislead: the same backbeat pattern is a
 * beat of 70 or of 172 only by its tempo (not 140, not 86); house puts
 * an open hat and the bass on every off-beat (the beat is the kick).
 * Settled within a few bars (a slow backbeat needs some to be heard). */
TEST(BeatTracker, TakesTheBackbeatsTempoAndTheKicksPhase)
{
    const Style backbeat = {4, {{KICK, 0}, {KICK, 2.5}, {SNARE, 1}, {SNARE, 3}, {HAT, 0}, {HAT, 0.5},
                                {HAT, 1}, {HAT, 1.5}, {HAT, 2}, {HAT, 2.5}, {HAT, 3}, {HAT, 3.5}}, false};
    const Style house = {4, {{KICK, 0}, {KICK, 1}, {KICK, 2}, {KICK, 3}, {SNARE, 1}, {SNARE, 3},
                             {OPEN_HAT, 0.5}, {OPEN_HAT, 1.5}, {OPEN_HAT, 2.5}, {OPEN_HAT, 3.5},
                             {BASS, 0.5}, {BASS, 1.5}, {BASS, 2.5}, {BASS, 3.5}}, false};
    const struct {
        const char *name;
        const Style &style;
        double bpm;
    } cases[] = {{"slow backbeat", backbeat, 70.0}, {"fast backbeat", backbeat, 172.0},
                 {"house", house, 124.0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto truth = grid(c.bpm, 0.0, 24.0);
        Heard r = track(render(c.style, truth, 24.0));
        ASSERT_FALSE(r.bpm.empty());
        EXPECT_NEAR(r.bpm.back(), c.bpm, c.bpm * 0.02);
        expect_on_beat(r, truth, 12.0, 23.5);
    }
}

TEST(BeatTracker, FollowsATempoStepWithinFourSeconds)
{
    auto truth = grid(100.0, 0.0, 12.05);
    double step = truth.back();
    for (double t : grid(130.0, 0.0, 26.0, step + 60.0 / 130.0))
        truth.push_back(t);
    Heard r = track(render(ROCK, truth, 26.0));
    ASSERT_FALSE(r.bpm.empty());
    EXPECT_NEAR(r.bpm.back(), 130.0, 2.6);
    expect_on_beat(r, truth, step + 4.0, 25.5);
}

/* Four bars with the drums gone and only a bass between the beats: the
 * beat holds where it was, and the drums come back on it. */
TEST(BeatTracker, HoldsTheBeatThroughABreakdown)
{
    const Style style = {4, {{KICK, 0}, {KICK, 2}, {SNARE, 1}, {SNARE, 3}, {HAT, 0.5}, {HAT, 1.5},
                             {HAT, 2.5}, {HAT, 3.5}, {BASS, 0.5}, {BASS, 1.5}, {BASS, 2.5}, {BASS, 3.5}},
                         true};
    auto truth = grid(120.0, 0.0, 30.0);
    Heard r = track(render(style, truth, 30.0, 6, 10));  /* bars 6..9: 12 s to 20 s */
    expect_on_beat(r, truth, 6.0, 29.5);
}

/* A chord that changes with every bar, a kick on its first beat: the
 * beats know their place, in four and in three. */
TEST(BeatTracker, CountsTheBarInFourAndInThree)
{
    const Style four = {4, {{KICK, 0}, {KICK, 2}, {SNARE, 1}, {SNARE, 3}, {HAT, 0.5}, {HAT, 1.5},
                            {HAT, 2.5}, {HAT, 3.5}}, true};
    const Style three = {3, {{KICK, 0}, {SNARE, 1}, {SNARE, 2}, {HAT, 0.5}, {HAT, 1.5}, {HAT, 2.5}},
                         true};
    for (const Style *style : {&four, &three}) {
        SCOPED_TRACE(style->per_bar);
        auto truth = grid(110.0, 0.0, 30.0);
        Heard r = track(render(*style, truth, 30.0));
        EXPECT_EQ(style->per_bar, r.beats_per_bar);
        int right = 0, counted = 0;
        for (size_t i = 0; i < r.beats.size(); i++) {
            if (r.beats[i] < 15.0)
                continue;
            size_t n = lround((r.beats[i] - 0.05) * 110.0 / 60.0);
            right += r.place[i] == (int)(n % style->per_bar) + 1;
            counted++;
        }
        EXPECT_GT(counted, 20);
        EXPECT_GE(right, counted * 9 / 10);
    }
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

/* Music that stops: the beats stop within a few, and a seek (time going
 * back) starts afresh. */
TEST(BeatTracker, LetsGoWhenTheMusicStopsAndStartsAfreshOnASeek)
{
    auto truth = grid(120.0, 0.0, 12.0);
    auto music = render(ROCK, truth, 12.0);
    music.resize(music.size() + (size_t)8 * RATE * 2, 0);  /* then 8 s of silence */
    Heard r = track(music);
    ASSERT_FALSE(r.beats.empty());
    EXPECT_LT(r.beats.back(), 12.0 + 2.0);

    beat_tracker t;
    ASSERT_EQ(0, beat_tracker_init(&t));
    int16_t freq[2][SPECTRUM_BINS];
    const beat_state *s = nullptr;
    for (size_t b = 0; b < (size_t)10 * RATE / SPECTRUM_SAMPLES; b++) {
        spectrum_compute(&music[b * SPECTRUM_SAMPLES * 2], 1, freq);
        s = beat_tracker_feed(&t, freq[0], (double)(b + 1) * SPECTRUM_SAMPLES / RATE);
    }
    EXPECT_TRUE(s->locked);
    EXPECT_GT(s->beat_count, 0);
    s = beat_tracker_feed(&t, freq[0], 1.0);  /* back to 1 s */
    EXPECT_FALSE(s->locked);
    EXPECT_EQ(0, s->beat_count);
    EXPECT_EQ(0.0, s->bpm);
    beat_tracker_free(&t);
}

} // namespace
