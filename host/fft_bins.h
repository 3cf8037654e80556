/* fft_bins.h -- the player's spectrum of one callback: the newest 512
 * stereo samples in, 256 bins a channel out, scaled so that a full-scale
 * sine of amplitude A at bin k reads about A at index k - 1. */
#ifndef HOST_FFT_BINS_H
#define HOST_FFT_BINS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SPECTRUM_SAMPLES 512
#define SPECTRUM_BINS 256

/* Make the FFT plan; once, before any spectrum_compute, on one thread.
 * 0, or -1 when FFTW cannot make a plan. */
int spectrum_init(void);

/* From 512 interleaved stereo frames (left, right), oldest first, fill
 * freq. channels 1: row 0 is the mono mix (L + R) >> 1, row 1 is zero;
 * channels 2: row 0 left, row 1 right; 0: both rows zero. Each value is
 * ((int) sqrt(power of bin i + 1)) >> 8, bin 256's power divided by 4,
 * held to 32767. Allocates nothing. */
void spectrum_compute(const int16_t *stereo, int channels, int16_t freq[2][SPECTRUM_BINS]);

/* The waveform as the player hands it to render_pcm: channels 1 puts the
 * mono mix in row 0 (row 1 zero), 2 the left and right channels. */
void spectrum_pcm(const int16_t *stereo, int channels, int16_t pcm[2][SPECTRUM_SAMPLES]);

#ifdef __cplusplus
}
#endif

#endif
