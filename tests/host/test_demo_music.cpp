/* test_demo_music.cpp -- the built-in music: repeatable, seamless at the
 * loop, with quiet passages and loud drops, and something in the low,
 * middle and high bands for the patterns to show. */
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/demo_music.h"
#include "host/fft_bins.h"

namespace {

const double BAR_FRAMES = 4 * 60.0 / 124.0 * DEMO_MUSIC_RATE;

std::vector<int16_t> render(long start, int frames)
{
    std::vector<int16_t> v(2 * frames);
    demo_music_render(start, v.data(), frames);
    return v;
}

double rms_of_bar(int bar)
{
    auto v = render((long)(bar * BAR_FRAMES), (int)BAR_FRAMES);
    double sum = 0;
    for (int16_t s : v)
        sum += (double)s * s;
    return std::sqrt(sum / v.size());
}

TEST(DemoMusic, RepeatableAndSeamlessAtTheLoop)
{
    long len = demo_music_length();
    EXPECT_GT(len, 30L * DEMO_MUSIC_RATE);
    EXPECT_EQ(render(1000, 4096), render(1000, 4096));
    EXPECT_EQ(render(1000, 4096), render(len + 1000, 4096));
    /* Across the end: the same frames as the end followed by the start. */
    auto across = render(len - 300, 600);
    auto tail = render(len - 300, 300), head = render(0, 300);
    tail.insert(tail.end(), head.begin(), head.end());
    EXPECT_EQ(across, tail);
}

TEST(DemoMusic, QuietPassagesAndLoudDrops)
{
    double intro = rms_of_bar(1), drop = rms_of_bar(10), breakdown = rms_of_bar(17),
           drop2 = rms_of_bar(26);
    EXPECT_GT(breakdown, 50);              /* quiet, not silent */
    EXPECT_GT(drop, 4 * breakdown);
    EXPECT_GT(drop2, 4 * breakdown);
    EXPECT_GT(drop, 2 * intro);
}

TEST(DemoMusic, EveryBandHasSomethingInTheDrop)
{
    ASSERT_EQ(spectrum_init(), 0);
    int16_t freq[2][256];
    int low = 0, mid = 0, high = 0;
    for (long at = (long)(25 * BAR_FRAMES); at < (long)(27 * BAR_FRAMES); at += 512) {
        auto v = render(at, 512);
        spectrum_compute(v.data(), 1, freq);
        for (int i = 0; i < 256; i++) {
            int &band = i < 4 ? low : i < 40 ? mid : high;
            band = std::max(band, (int)freq[0][i]);
        }
    }
    EXPECT_GT(low, 4000);
    EXPECT_GT(mid, 1000);
    EXPECT_GT(high, 100);
}

} // namespace
