/* test_fft_bins.cpp -- the player's spectrum: which index a tone lands
 * on, its scale, how stereo is mixed, the edge bins, and the int16 bound. */
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/fft_bins.h"

namespace {

struct Spectrum : ::testing::Test {
    void SetUp() override { ASSERT_EQ(spectrum_init(), 0); }
    /* 512 stereo frames from two functions of n. */
    template <class L, class R> void fill(L left, R right)
    {
        for (int n = 0; n < 512; n++) {
            in[2 * n] = (int16_t)std::lrint(left(n));
            in[2 * n + 1] = (int16_t)std::lrint(right(n));
        }
    }
    int16_t in[1024] = {};
    int16_t freq[2][256];
};

double sine(int bin, double amp, int n)
{
    return amp * std::sin(2 * M_PI * bin * n / 512.0);
}

TEST_F(Spectrum, ToneAtBinKReadsItsAmplitudeAtIndexKMinus1)
{
    for (int bin : {1, 5, 40, 200, 255}) {
        fill([&](int n) { return sine(bin, 20000, n); }, [&](int n) { return sine(bin, 20000, n); });
        spectrum_compute(in, 1, freq);
        EXPECT_NEAR(freq[0][bin - 1], 20000, 200) << "bin " << bin;
        for (int i = 0; i < 256; i++) {
            if (i != bin - 1) {
                EXPECT_LT(freq[0][i], 100) << "bin " << bin << " leaks into " << i;
            }
            EXPECT_EQ(freq[1][i], 0);
        }
    }
}

TEST_F(Spectrum, StereoIsMixedBeforeTheTransform)
{
    /* Opposite channels cancel in (L + R) >> 1: nothing is left. */
    fill([](int n) { return sine(10, 15000, n); }, [](int n) { return -sine(10, 15000, n); });
    spectrum_compute(in, 1, freq);
    for (int i = 0; i < 256; i++)
        ASSERT_LE(freq[0][i], 1) << i;

    /* One channel alone comes through at half its amplitude. */
    fill([](int n) { return sine(20, 16000, n); }, [](int) { return 0.0; });
    spectrum_compute(in, 1, freq);
    EXPECT_NEAR(freq[0][19], 8000, 80);
}

TEST_F(Spectrum, TwoChannelsGiveOneRowEach)
{
    fill([](int n) { return sine(3, 10000, n); }, [](int n) { return sine(50, 5000, n); });
    spectrum_compute(in, 2, freq);
    EXPECT_NEAR(freq[0][2], 10000, 100);
    EXPECT_LT(freq[0][49], 50);
    EXPECT_NEAR(freq[1][49], 5000, 50);
    EXPECT_LT(freq[1][2], 50);

    spectrum_compute(in, 0, freq);
    for (int i = 0; i < 256; i++)
        ASSERT_TRUE(freq[0][i] == 0 && freq[1][i] == 0);
}

TEST_F(Spectrum, DirectCurrentIsLeftOutAndTheTopBinIsQuartered)
{
    fill([](int) { return 10000.0; }, [](int) { return 10000.0; });
    spectrum_compute(in, 1, freq);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(freq[0][i], 0) << i;

    /* +A, -A, ...: all of it in bin 256, whose power is divided by 4. */
    fill([](int n) { return n % 2 ? -10000.0 : 10000.0; },
         [](int n) { return n % 2 ? -10000.0 : 10000.0; });
    spectrum_compute(in, 1, freq);
    EXPECT_EQ(freq[0][255], 10000);
    EXPECT_EQ(freq[0][0], 0);
}

TEST_F(Spectrum, LoudSquareWaveIsHeldAtTheTopInsteadOfWrapping)
{
    /* Its fundamental is 4/pi of full scale, more than int16 holds. */
    fill([](int n) { return (n / 32) % 2 ? -32768.0 : 32767.0; },
         [](int n) { return (n / 32) % 2 ? -32768.0 : 32767.0; });
    spectrum_compute(in, 1, freq);
    EXPECT_EQ(freq[0][7], 32767);
    for (int i = 0; i < 256; i++)
        ASSERT_GE(freq[0][i], 0) << i;
}

TEST_F(Spectrum, WaveformRowsFollowTheChannelsWanted)
{
    int16_t pcm[2][512];
    fill([](int n) { return n * 10.0; }, [](int n) { return -n * 4.0; });
    spectrum_pcm(in, 1, pcm);
    EXPECT_EQ(pcm[0][100], (1000 - 400) >> 1);
    EXPECT_EQ(pcm[1][100], 0);
    spectrum_pcm(in, 2, pcm);
    EXPECT_EQ(pcm[0][100], 1000);
    EXPECT_EQ(pcm[1][100], -400);
}

} // namespace
