/* toolkit_test.cpp -- get_n_scaled_values and fade_hallway through the
 * library's exported functions. Every probe maps a fresh library, so the
 * shared gain and tilt start from their load-time values. */
#include <cmath>

#include "glim_host.h"

using namespace glim_host;

namespace {

/* Band levels of one call on a fresh library. */
std::vector<double> levels_on_fresh_load(int n, int bin, int16_t value, double *ret = nullptr)
{
    Glim g = load_glim();
    Spectrum s;
    fill(s, 0);
    if (bin >= 0)
        s[0][bin] = value;
    std::vector<double> lev(n, -1.0);
    double r = g.get_n_scaled_values(s, lev.data(), n);
    if (ret)
        *ret = r;
    return lev;
}

/* The band whose level a single loud bin changes; -1 for none, -2 for
 * more than one. */
int band_of_bin(int n, int bin, const std::vector<double> &quiet)
{
    std::vector<double> lev = levels_on_fresh_load(n, bin, bin % 2 ? 32767 : -32768);
    int band = -1;
    for (int i = 0; i < n; i++)
        if (lev[i] != quiet[i])
            band = band == -1 ? i : -2;
    return band;
}

TEST(GetNScaledValues, BandBoundsForTheBandCountsInUse)
{
    const std::vector<std::vector<int>> bounds = {
        {6}, {4, 16}, {2, 4, 8, 16, 32, 64}, {1, 2, 3, 6, 10, 15, 25, 40, 63, 101}};
    for (const auto &b : bounds) {
        int n = (int)b.size();
        std::vector<double> quiet = levels_on_fresh_load(n, -1, 0);
        int lower = 0;
        for (int i = 0; i < n; i++) {
            SCOPED_TRACE("n = " + std::to_string(n) + ", band " + std::to_string(i));
            /* first and last bin of the band land in it */
            EXPECT_EQ(band_of_bin(n, lower, quiet), lower < b[i] ? i : -1) << "bin " << lower;
            EXPECT_EQ(band_of_bin(n, b[i] - 1, quiet), i) << "bin " << b[i] - 1;
            lower = b[i];
        }
        /* the bin after the last bound is not used at all */
        EXPECT_EQ(band_of_bin(n, b.back(), quiet), -1) << "n = " << n;
        /* every level lies in [0, 1] */
        for (double v : quiet) {
            EXPECT_GE(v, 0.0);
            EXPECT_LE(v, 1.0);
        }
    }
}

TEST(GetNScaledValues, SilenceRaisesTheGain)
{
    Glim g = load_glim();
    Spectrum zero, probe;
    fill(zero, 0);
    fill(probe, 0);
    for (int j = 0; j < 6; j++)
        probe[0][j] = 655;  /* a band level that stays inside (0, 1) */

    double lev[1];
    double expected_scale = 50.0;
    for (int k = 0; k < 10; k++) {
        EXPECT_EQ(g.get_n_scaled_values(zero, lev, 1), 0.0);
        EXPECT_EQ(lev[0], 0.0);
        expected_scale *= std::exp((0.4 - std::log(0.6)) / 50.0);
    }
    EXPECT_NEAR(expected_scale / 50.0, std::pow(1.01838, 10), 1e-3);

    double r = g.get_n_scaled_values(probe, lev, 1);
    double expected = std::log(expected_scale * 3930 / 32767.0 / 6 + 0.6);
    EXPECT_NEAR(lev[0], expected, 1e-9);
    EXPECT_NEAR(r, expected, 1e-9);
}

TEST(GetNScaledValues, OneBandLeavesTheTiltAlone)
{
    /* With every bin 0, the top band of ten reads ln 0.6 + slope * 0.45
     * whatever the gain: a direct view of the tilt. */
    auto top_band = [](Glim &g) {
        Spectrum zero;
        fill(zero, 0);
        double lev[10];
        g.get_n_scaled_values(zero, lev, 10);
        return lev[9];
    };
    Glim g = load_glim();
    Spectrum s;
    double lev[10];
    for (int k = 0; k < 200; k++) {
        for (int j = 0; j < 256; j++)
            s[0][j] = (int16_t)((j * 7919 + k * 104729) % 30000);
        g.get_n_scaled_values(s, lev, 1);
    }
    EXPECT_NEAR(top_band(g), std::log(0.6) + 2.0 * 0.45, 1e-12);

    /* A tilted spectrum with ten bands does move it. */
    Glim h = load_glim();
    fill(s, 0);
    for (int j = 63; j < 101; j++)
        s[0][j] = 30000;
    for (int k = 0; k < 20; k++)
        h.get_n_scaled_values(s, lev, 10);
    EXPECT_GT(std::fabs(top_band(h) - (std::log(0.6) + 0.9)), 0.01);
}

TEST(GetNScaledValues, LongSilenceKeepsTheGainFinite)
{
    Glim g = load_glim();
    Spectrum zero, loud, moderate;
    fill(zero, 0);
    fill(loud, 32767);
    fill(moderate, 0);
    for (int j = 0; j < 256; j++)
        moderate[0][j] = (int16_t)(j < 64 ? 800 : 0);
    double lev[10];
    for (int k = 0; k < 200000; k++)
        ASSERT_EQ(g.get_n_scaled_values(zero, lev, 1), 0.0) << "call " << k;

    /* Loud after quiet: levels sit at 1, then come down again. */
    EXPECT_EQ(g.get_n_scaled_values(loud, lev, 6), 1.0);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(lev[i], 1.0);
    double r = 1.0;
    int calls = 0;
    while (r >= 1.0 && calls < 2000) {
        r = g.get_n_scaled_values(moderate, lev, 6);
        calls++;
    }
    EXPECT_LT(r, 1.0) << "gain did not come down in 2000 calls";
    for (int k = 0; k < 1000; k++) {
        r = g.get_n_scaled_values(k % 2 ? loud : zero, lev, 10);
        ASSERT_TRUE(std::isfinite(r));
        for (int i = 0; i < 10; i++)
            ASSERT_TRUE(lev[i] >= 0.0 && lev[i] <= 1.0) << "band " << i << " call " << k;
    }
}

TEST(GetNScaledValues, NoBandsWritesNothing)
{
    Glim g = load_glim();
    Spectrum s;
    fill(s, 1000);
    double lev[1] = {-7.0};
    EXPECT_EQ(g.get_n_scaled_values(s, lev, 0), 0.0);
    EXPECT_EQ(lev[0], -7.0);
}

TEST(FadeHallway, LowersEveryValueBy48NotBelowZero)
{
    Glim g = load_glim();
    int light[60];
    for (int i = 0; i < 60; i++)
        light[i] = i * 5;
    light[0] = 30;
    light[1] = 255;
    light[2] = -20;
    light[3] = 48;
    light[4] = 49;
    light[59] = 1000;
    g.fade_hallway(light);
    EXPECT_EQ(light[0], 0);
    EXPECT_EQ(light[1], 207);
    EXPECT_EQ(light[2], 0);
    EXPECT_EQ(light[3], 0);
    EXPECT_EQ(light[4], 1);
    EXPECT_EQ(light[59], 952);
    for (int i = 5; i < 59; i++)
        EXPECT_EQ(light[i], std::max(0, i * 5 - 48)) << i;
}

} // namespace
