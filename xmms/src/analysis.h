/* analysis.h -- the spectrum condensed into ten bars for the patterns and
 * the preview: a height 0..99 and a running average per bar. */
#ifndef GLIM_ANALYSIS_H
#define GLIM_ANALYSIS_H

#include <stdint.h>

const int NUM_BARS = 10;

/* Bar heights 0..99 and running averages, handed to every pattern frame. */
extern int16_t bar_heights[NUM_BARS];
extern double bar_averages[NUM_BARS];

/* The settings of a fresh enable: the level scale, every average at 64
 * and every bar's gain at 1. Heights and fall rates are kept. */
void analysis_reset(void);

/* Condense row 0 of the spectrum into the ten bars, then redraw the
 * preview. Nothing happens while there is no preview window. */
void glim_analyze_freq(int16_t data[2][256]);

#endif
