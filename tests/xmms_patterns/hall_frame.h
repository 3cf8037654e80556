/* hall_frame.h -- what the plug-in core hands a pattern's frame: the light
 * frame (here fenced by guard values on both sides, so a write outside the
 * 60 values shows), the bars and one callback's spectrum. Plus helpers to
 * pick a random seed that makes a pattern draw a wanted value, and to read
 * what a pattern printed. */
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fresh_glim.h"

namespace hall_frame {

constexpr int GUARD = 16;
constexpr int GUARD_VALUE = 0x5a5a5a5a;

struct Hall {
    int buf[GUARD + 60 + GUARD];
    int *light = buf + GUARD;
    double averages[10];
    int16_t heights[10] = {};
    int16_t raw[2][256] = {};

    Hall()
    {
        for (int &v : buf)
            v = GUARD_VALUE;
        fill(0);
        for (double &a : averages)
            a = 64.0;
    }

    int run(const fresh_glim::Pattern &p, int time_left = 200)
    {
        return p.frame(averages, heights, light, raw, time_left);
    }

    bool guards_intact() const
    {
        for (int i = 0; i < GUARD; i++)
            if (buf[i] != GUARD_VALUE || buf[GUARD + 60 + i] != GUARD_VALUE)
                return false;
        return true;
    }

    int at(int box, int channel) const { return light[box * 6 + channel]; }
    void fill(int v)
    {
        for (int k = 0; k < 60; k++)
            light[k] = v;
    }
    void set_heights(int h)
    {
        for (int16_t &b : heights)
            b = (int16_t)h;
    }
    void set_spectrum(int v)
    {
        for (int i = 0; i < 256; i++)
            raw[0][i] = raw[1][i] = (int16_t)v;
    }
    void random_spectrum()
    {
        for (int i = 0; i < 256; i++) {
            raw[0][i] = (int16_t)(rand() & 0xffff);
            raw[1][i] = (int16_t)(rand() & 0xffff);
        }
        for (int16_t &b : heights)
            b = (int16_t)(rand() % 100);
        for (double &a : averages)
            a = rand() % 10000 / 100.0;
    }
    /* Every box's six values equal v. */
    bool box_is(int box, int v) const
    {
        for (int c = 0; c < 6; c++)
            if (at(box, c) != v)
                return false;
        return true;
    }
};

/* Seed the generator with the first seed for which `wanted` (which draws
 * with rand) holds, so the pattern's own draws after it give the same. */
inline unsigned seed_where(const std::function<bool()> &wanted)
{
    for (unsigned s = 1;; s++) {
        srand(s);
        if (wanted()) {
            srand(s);
            return s;
        }
    }
}

/* Spectrum bins 0..5 for a bass level of about `level` on the first call
 * of a freshly loaded library (gain 50): ln(50 * sum / 32767 / 6 + 0.6). */
inline int bass_bin_for(double level)
{
    return (int)lround((std::exp(level) - 0.6) * 32767.0 / 50.0);
}

/* Runs f with standard output captured; returns what it printed. */
inline std::string printed(const std::function<void()> &f)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline std::string printed_err(const std::function<void()> &f)
{
    fflush(stderr);
    testing::internal::CaptureStderr();
    f();
    fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

/* A writable copy of an option string, as the core passes one. */
struct Options {
    char text[256];
    explicit Options(const char *s) { snprintf(text, sizeof text, "%s", s); }
    operator char *() { return text; }
};

} // namespace hall_frame
