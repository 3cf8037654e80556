/* fft_bins.cpp -- the spectrum analysis a player does for its
 * visualisation plug-ins: mix, 512-point real FFT with no window, power
 * per bin, square root, shift down 8 bits. FFTW does the transform; the
 * plan and its buffers are made once at start. */
#include "host/fft_bins.h"

#include <fftw3.h>
#include <math.h>
#include <string.h>

namespace {

double *fft_in = nullptr;            /* 512 real samples */
fftw_complex *fft_out = nullptr;     /* 257 bins */
fftw_plan plan = nullptr;

/* One channel's 256 values from fft_in. */
void transform(int16_t out[SPECTRUM_BINS])
{
    fftw_execute(plan);
    for (int i = 0; i < SPECTRUM_BINS; i++) {
        int bin = i + 1;
        double re = fft_out[bin][0], im = fft_out[bin][1];
        double power = re * re + im * im;
        if (bin == SPECTRUM_SAMPLES / 2)
            power /= 4;
        /* A square-ish full-scale wave reaches 4/pi of full scale at its
         * fundamental; hold to the int16 range instead of wrapping. */
        int v = ((int)sqrt(power)) >> 8;
        out[i] = (int16_t)(v > 32767 ? 32767 : v);
    }
}

} // namespace

int spectrum_init(void)
{
    if (plan)
        return 0;
    fft_in = fftw_alloc_real(SPECTRUM_SAMPLES);
    fft_out = fftw_alloc_complex(SPECTRUM_SAMPLES / 2 + 1);
    if (!fft_in || !fft_out)
        return -1;
    plan = fftw_plan_dft_r2c_1d(SPECTRUM_SAMPLES, fft_in, fft_out, FFTW_ESTIMATE);
    return plan ? 0 : -1;
}

void spectrum_compute(const int16_t *stereo, int channels, int16_t freq[2][SPECTRUM_BINS])
{
    memset(freq, 0, sizeof(int16_t) * 2 * SPECTRUM_BINS);
    if (channels <= 0)
        return;
    if (channels == 1) {
        for (int n = 0; n < SPECTRUM_SAMPLES; n++)
            fft_in[n] = (stereo[2 * n] + stereo[2 * n + 1]) >> 1;
        transform(freq[0]);
        return;
    }
    for (int ch = 0; ch < 2; ch++) {
        for (int n = 0; n < SPECTRUM_SAMPLES; n++)
            fft_in[n] = stereo[2 * n + ch];
        transform(freq[ch]);
    }
}

void spectrum_pcm(const int16_t *stereo, int channels, int16_t pcm[2][SPECTRUM_SAMPLES])
{
    memset(pcm, 0, sizeof(int16_t) * 2 * SPECTRUM_SAMPLES);
    for (int n = 0; n < SPECTRUM_SAMPLES; n++) {
        if (channels == 1) {
            pcm[0][n] = (int16_t)((stereo[2 * n] + stereo[2 * n + 1]) >> 1);
        } else if (channels >= 2) {
            pcm[0][n] = stereo[2 * n];
            pcm[1][n] = stereo[2 * n + 1];
        }
    }
}
