/* demo_music.cpp -- the built-in music, computed from the frame index
 * alone (no oscillator state), so any stretch of it can be rendered at any
 * time and the loop joins without a seam. 124 beats a minute, 32 bars:
 * intro, build, drop, breakdown, build with a snare roll, second drop. */
#include "host/demo_music.h"

#include <math.h>

namespace {

const double BPM = 124.0;
const double BEAT = 60.0 / BPM;            /* seconds a beat */
const int BARS = 32;
const double TWO_PI = 6.283185307179586;

/* Chord roots and voicings, one chord a bar: Am F C G. */
const double bass_root[4] = {55.00, 43.65, 65.41, 49.00};
const double chord[4][3] = {
    {220.00, 261.63, 329.63},
    {174.61, 220.00, 261.63},
    {261.63, 329.63, 392.00},
    {196.00, 246.94, 293.66},
};
/* Lead over the second drop, one note an eighth (0 = rest). */
const double lead[16] = {880.00, 0, 659.25, 0, 783.99, 659.25, 587.33, 0,
                         523.25, 0, 587.33, 659.25, 0, 440.00, 523.25, 0};

/* How loud each part is in a bar of the loop. */
struct section_mix {
    double kick, snare, hats, bass, chords, lead;
};

section_mix mix_for_bar(int bar)
{
    if (bar < 4)       /* intro: soft chords and hats */
        return {0, 0, 0.04, 0, 0.07, 0};
    if (bar < 8)       /* build: kick and bass come in */
        return {0.45, 0, 0.05, 0.12, 0.08, 0};
    if (bar < 16)      /* first drop */
        return {0.75, 0.35, 0.08, 0.28, 0.10, 0};
    if (bar < 20)      /* breakdown: almost silent */
        return {0, 0, 0, 0, 0.04, 0};
    if (bar < 24)      /* build again, snare roll in the last bar */
        return {0.55, 0.18 + 0.05 * (bar - 20), 0.06, 0.15, 0.08, 0};
    return {0.8, 0.38, 0.09, 0.3, 0.10, 0.12};  /* second drop */
}

/* Deterministic white noise in -1..1 from an index. */
double noise(long n)
{
    uint32_t x = (uint32_t)n * 2654435761u;
    x ^= x >> 15;
    x *= 0x2c1b3c6du;
    x ^= x >> 12;
    x *= 0x297a2d39u;
    x ^= x >> 15;
    return (double)x / 2147483648.0 - 1.0;
}

/* Naive sawtooth and triangle of phase p (in cycles). */
double saw(double p) { return 2.0 * (p - floor(p)) - 1.0; }
double triangle(double p) { return 2.0 * fabs(saw(p)) - 1.0; }

/* One stereo frame at loop frame n. */
void frame_at(long n, double *left, double *right)
{
    const double t = (double)n / DEMO_MUSIC_RATE;
    const double beat_pos = t / BEAT;
    const int beat = (int)beat_pos;             /* beat in the loop */
    const double in_beat = (beat_pos - beat) * BEAT;   /* seconds into the beat */
    const int bar = beat / 4;
    const int beat_in_bar = beat % 4;
    const int eighth = (int)(beat_pos * 2.0);
    const double in_eighth = (beat_pos * 2.0 - eighth) * BEAT / 2.0;
    const int sixteenth = (int)(beat_pos * 4.0);
    const double in_sixteenth = (beat_pos * 4.0 - sixteenth) * BEAT / 4.0;
    const int ch = bar % 4;
    const section_mix m = mix_for_bar(bar);

    double centre = 0, l = 0, r = 0;

    /* Kick: a sine falling from 150 Hz to 50 Hz, on every beat. */
    if (m.kick > 0) {
        double f_phase = 50.0 * in_beat + 100.0 * 0.03 * (1.0 - exp(-in_beat / 0.03));
        centre += m.kick * exp(-in_beat / 0.12) * sin(TWO_PI * f_phase);
    }
    /* Snare: noise and a 190 Hz body on beats 2 and 4; sixteenths in bar 23. */
    if (m.snare > 0) {
        double since = -1;
        if (bar == 23)
            since = in_sixteenth;
        else if (beat_in_bar == 1 || beat_in_bar == 3)
            since = in_beat;
        if (since >= 0) {
            double env = exp(-since / 0.07);
            centre += m.snare * env * (0.7 * noise(n) + 0.3 * sin(TWO_PI * 190.0 * since));
        }
    }
    /* Hats: differenced noise (bright), every eighth, a little to the right. */
    if (m.hats > 0) {
        double env = exp(-in_eighth / (eighth % 2 ? 0.05 : 0.02));
        double h = m.hats * env * (noise(n) - noise(n - 1));
        l += 0.7 * h;
        r += h;
    }
    /* Bass: a softened sawtooth on the root, octave up on the off-beats. */
    if (m.bass > 0) {
        double f = bass_root[ch] * (eighth % 2 ? 2.0 : 1.0);
        double env = exp(-in_eighth / 0.25) * (1.0 - exp(-in_eighth / 0.004));
        double p = f * t;
        centre += m.bass * env * (0.6 * saw(p) + 0.4 * sin(TWO_PI * p));
    }
    /* Chords: three triangles with a slow swell over the bar, spread. */
    if (m.chords > 0) {
        double in_bar = beat_pos / 4.0 - bar;
        double env = 0.6 + 0.4 * sin(3.14159265 * in_bar);
        l += m.chords * env * (triangle(chord[ch][0] * t) + 0.6 * triangle(chord[ch][1] * t));
        r += m.chords * env * (triangle(chord[ch][2] * t) + 0.6 * triangle(chord[ch][1] * t));
    }
    /* Lead: plucked sines over the second drop. */
    if (m.lead > 0) {
        double f = lead[eighth % 16];
        if (f > 0) {
            double v = m.lead * exp(-in_eighth / 0.15) * sin(TWO_PI * f * t);
            l += v;
            r += 0.8 * v;
        }
    }
    *left = centre + l;
    *right = centre + r;
}

int16_t to_sample(double v)
{
    v *= 0.7 * 32767.0;
    if (v > 32767.0)
        v = 32767.0;
    if (v < -32768.0)
        v = -32768.0;
    return (int16_t)lrint(v);
}

} // namespace

long demo_music_length(void)
{
    return (long)(BARS * 4 * BEAT * DEMO_MUSIC_RATE);
}

void demo_music_render(long start, int16_t *stereo, int frames)
{
    const long length = demo_music_length();
    long n = start % length;
    if (n < 0)
        n += length;
    for (int i = 0; i < frames; i++) {
        double l, r;
        frame_at(n, &l, &r);
        stereo[2 * i] = to_sample(l);
        stereo[2 * i + 1] = to_sample(r);
        if (++n == length)
            n = 0;
    }
}
