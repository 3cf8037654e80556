/* analysis.cpp -- the spectrum condensed into ten bars: the peak of each
 * bar's bins on a log scale, a running average, and a per-bar gain that
 * keeps the bars moving; heights rise at once and fall at a growing rate.
 * State is file-level and runs on the player's rendering thread. */
#include "analysis.h"

#include <math.h>

#include "preview.h"

int16_t bar_heights[NUM_BARS];
double bar_averages[NUM_BARS];

namespace {

double bar_scales[NUM_BARS];
double bar_rate[NUM_BARS];
double scale;
const int xscale[] = {0, 1, 2, 3, 5, 7, 10, 14, 20, 28, 40, 54, 74, 101, 137, 187, 255};

} // namespace

void analysis_reset(void)
{
    scale = 100.0 / log(256.0);
    for (int i = 0; i < NUM_BARS; i++) {
        bar_averages[i] = 64.0;
        bar_scales[i] = 1.0;
    }
}

void glim_analyze_freq(int16_t data[2][256])
{
    if (!preview_open())
        return;
    for (int i = 0; i < NUM_BARS; i++) {
        int y = 0;
        for (int c = xscale[i]; c < xscale[i + 1]; c++)
            if (data[0][c] > y)
                y = data[0][c];
        int v = y >> 7;

        double level = v ? log((double)v) * scale : 0.0;
        bar_averages[i] = (level + 15 * bar_averages[i]) * 0.0625;

        int h = v ? (int)(log((double)v) * scale) : 0;
        if (h > 99)
            h = 99;

        bar_scales[i] = bar_scales[i] + 0.002;
        if (bar_scales[i] > 3.0)
            bar_scales[i] = 3.0;

        int d = h - (int)bar_averages[i];
        if (d * bar_scales[i] > 100.0)
            bar_scales[i] = 100.0 / d;
        h = (int)(d * bar_scales[i]) + 10;
        if (h < 0)
            h = 0;
        if (h > 99)
            h = 99;

        if (h > bar_heights[i]) {
            bar_heights[i] = (int16_t)h;
            bar_rate[i] = 0.0;
        } else if (bar_heights[i] > bar_rate[i]) {
            bar_heights[i] = (int16_t)(bar_heights[i] - bar_rate[i]);
            bar_rate[i] += 0.25;
        } else {
            bar_heights[i] = 0;
        }
    }
    draw_func(nullptr);
}
