/* simple_patterns.cpp -- the pattern toolkit and the patterns of the
 * scheduler's table: brightness_level and random_spots (meters),
 * sine_wave and spinning_stripe (motion), rise (ends by itself).
 *
 * The toolkit's gain and tilt, and each pattern's settings and running
 * state, are file-level and live as long as the library. Everything runs
 * on the player's rendering thread inside the scheduler's calls. */
#include "simple_patterns.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "beat_clock.h"
#include "pattern_options.h"

namespace {

/* get_n_scaled_values' automatic gain and tilt, shared by every caller. */
double scale = 50.0;
double slope = 2.0;
/* Bounds far outside what music needs (a gain of a few thousand for very
 * quiet input, a tilt of a few units) that keep both finite: during long
 * silence the gain grows about 1.8 % per call and would overflow, and a
 * huge gain lets the tilt's cubic correction overshoot without end. */
const double SCALE_MAX = 1e6;
const double SLOPE_MAX = 100.0;

/* sine_wave */
float sw_offset;      /* phase counter, in frames (music-adjusted) */
float sw_dense;       /* wavelength in boxes */
float sw_offset_var;  /* how strongly the bass changes the pace */
float sw_speed;       /* base pace */
int sw_dir;           /* +1 or -1 */

/* spinning_stripe */
int ss_rate;          /* 1/256 ring positions per frame, signed */
int ss_invert;        /* 1: dark stripe on a brightening background */
int ss_beats;         /* > 0: a full turn every this many beats, while a
                         beat is followed */
double rot;           /* angle of the stripe, [0, 8) */

/* rise: settings keep their last values from run to run */
int rise_center = 5;  /* box where the rise starts */
int rise_speed = 3;   /* level gained per frame */
int rise_diff = 20;   /* head start of a box over the next one out */
int rise_bot = 0;     /* offsets of the pairs from the box level */
int rise_mid = -40;
int rise_top = -80;
int rise_seg_level[LIGHT_BOXES];

/* Rise levels are kept within +-10^9 so that option values of any size
 * cannot overflow an int; the defaults stay far inside. */
const int RISE_LIMIT = 1000000000;

int rise_add(long long a, long long b)
{
    return clamp_int(a + b, -RISE_LIMIT, RISE_LIMIT);
}

} // namespace

extern "C" {

/* Toolkit */

double get_n_scaled_values(int16_t (*raw_data)[256], double *lev, int n)
{
    if (n < 1)
        return 0.0;
    double b = pow(256.0, 1.0 / (n + 2));
    int j = 0;
    double avg_height = 0.0, s = 0.0;
    for (int i = 0; i < n; i++) {
        lev[i] = 0;
        int this_bound = (int)pow(b, i + 1);
        while (j < this_bound) {
            lev[i] += abs(raw_data[0][j]);
            j++;
        }
        double pos = (i + 0.5) / n - 0.5;
        double d = log(scale * lev[i] / 32767.0 / this_bound + 0.6) + slope * pos;
        avg_height += d;
        s += pos * d;
        lev[i] = d < 0 ? 0 : d > 1 ? 1 : d;
    }
    avg_height /= n;
    s /= n;
    scale *= exp((0.4 - avg_height) / 50.0);
    if (scale > SCALE_MAX)
        scale = SCALE_MAX;
    slope -= 10.0 * s * s * s;
    if (slope > SLOPE_MAX)
        slope = SLOPE_MAX;
    if (slope < -SLOPE_MAX)
        slope = -SLOPE_MAX;
    if (avg_height >= 1)
        return 1;
    if (avg_height <= 0)
        return 0;
    return avg_height;
}

double bass_level(int16_t (*raw_data)[256])
{
    double val;
    get_n_scaled_values(raw_data, &val, 1);
    return val;
}

void fade_hallway(int *light_data)
{
    for (int i = LIGHT_CHANNELS - 1; i >= 0; i--)
        light_data[i] = dim(light_data[i], 48);
}

/* brightness_level: the whole hallway glows with the bass, decaying 16
 * per frame when the bass falls. */

int brightness_level_init(char *)
{
    return 0;
}

int brightness_level_frame(double *, int16_t *, int *light_data,
                           int16_t (*raw_data)[256], int)
{
    int l = (int)(bass_level(raw_data) * 255.0);
    for (int i = 0; i < LIGHT_CHANNELS; i++) {
        int v = light_data[i] - 16;
        if (v < l)
            v = l;
        light_data[i] = v < 0 ? 0 : v;
    }
    return 0;
}

int brightness_level_deinit(void)
{
    return 0;
}

/* random_spots: the louder the bass, the more random lights flip. */

int random_spots_init(char *)
{
    return 0;
}

int random_spots_frame(double *, int16_t *, int *light_data,
                       int16_t (*raw_data)[256], int)
{
    int k = (int)(bass_level(raw_data) * 60.0);
    for (int i = 0; i <= k; i++) {
        int idx = rand() % LIGHT_CHANNELS;
        light_data[idx] = light_data[idx] > 0 ? 0 : 255;
    }
    return 0;
}

int random_spots_deinit(void)
{
    return 0;
}

/* sine_wave: a sine of brightness runs along the hallway, its pace
 * nudged by the bass. */

int sine_wave_init(char *)
{
    sw_offset = 0;
    sw_dense = rand() % 4 + 4;
    sw_offset_var = (rand() % 20) / 20.0;
    sw_speed = (rand() % 15 + 3) / 10.0;
    sw_dir = (rand() % 2) * 2 - 1;
    printf("sine_wave_init called  dense=%f  offset_var=%f  speed=%f\n", sw_dense,
           sw_offset_var, sw_speed);
    return 0;
}

int sine_wave_frame(double *, int16_t *, int *light_data,
                    int16_t (*raw_data)[256], int)
{
    double lev = bass_level(raw_data);
    float step = sw_speed * 6.28318f / 30;
    for (int x = 0; x < LIGHT_BOXES; x++) {
        float angle = 2 * x * 3.14159f / sw_dense + step * sw_offset * sw_dir;
        float v = sin(angle) * 127 + 127;
        for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++)
            light_data[light_index(x, c)] = (int)v;
    }
    sw_offset = sw_offset + 1 + (lev - 0.5) * sw_offset_var;
    return 0;
}

int sine_wave_deinit(void)
{
    printf("sine_wave_deinit called\n");
    return 0;
}

/* spinning_stripe: a stripe across the cross-section turns round the
 * hallway's axis, the same in every box. */

int spinning_stripe_init(char *param)
{
    ss_rate = 0;
    ss_invert = -1;
    ss_beats = 0;
    if (param) {
        parse_string(param, (char *)"i", "rate", &ss_rate);
        parse_string(param, (char *)"i", "invert", &ss_invert);
        parse_string(param, (char *)"i", "beats", &ss_beats);
    }
    if (ss_rate == 0) {
        ss_rate = (rand() & 63) + 32;
        if (rand() & 1)
            ss_rate = -ss_rate;
        printf("Randomly picking rate %d.\n", ss_rate);
    }
    if (ss_invert < 0) {
        ss_invert = rand() & 1;
        printf("Randomly picking invert %d.\n", ss_invert);
    }
    return 0;
}

int spinning_stripe_frame(double *, int16_t *, int *light_data,
                          int16_t (*)[256], int)
{
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
        double d = ring_distance(rot, c);
        bool stripe = d >= 3.5 || d <= 0.5;
        for (int x = 0; x < LIGHT_BOXES; x++) {
            int *v = &light_data[light_index(x, c)];
            if (stripe) {
                *v = ss_invert ? 0 : 255;
            } else if (ss_invert) {
                *v = *v + 80 > 255 ? 255 : *v + 80;
            } else {
                *v = dim(*v, 80);
            }
        }
    }
    const beat_view *b = beat_clock_view();
    if (ss_beats > 0 && b->locked && b->frames_per_beat > 0.0)
        rot += (ss_rate < 0 ? -RING_SIZE : RING_SIZE) / (ss_beats * b->frames_per_beat);
    else
        rot += ss_rate * 0.00390625;
    /* fmod instead of repeated steps of 8, so a large rate from an option
     * string costs no more than a small one. */
    if (rot >= RING_SIZE || rot < 0) {
        rot = fmod(rot, RING_SIZE);
        if (rot < 0)
            rot += RING_SIZE;
        if (rot >= RING_SIZE)
            rot -= RING_SIZE;
    }
    return 0;
}

int spinning_stripe_deinit(void)
{
    return 0;
}

/* rise: the hallway fills with light from its centre box outwards and
 * from the floor up; ends once every top pair is at full. */

int rise_init(char *param)
{
    printf("rise_init called\n");
    parse_string(param, (char *)"iiiiii", "center", &rise_center, "speed", &rise_speed,
                 "diff", &rise_diff, "bot", &rise_bot, "mid", &rise_mid, "top",
                 &rise_top);
    /* The centre indexes the box levels: hold it inside the hallway. */
    rise_center = clamp_int(rise_center, 0, LIGHT_BOXES - 1);
    rise_seg_level[rise_center] = 0;
    for (int b = rise_center + 1; b < LIGHT_BOXES; b++)
        rise_seg_level[b] = rise_add(rise_seg_level[b - 1], -(long long)rise_diff);
    for (int b = rise_center - 1; b >= 0; b--)
        rise_seg_level[b] = rise_add(rise_seg_level[b + 1], -(long long)rise_diff);
    return 0;
}

int rise_frame(double *, int16_t *, int *light_data, int16_t (*)[256], int)
{
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        light_data[i] = 0;
    bool done = true;
    for (int b = 0; b < LIGHT_BOXES; b++) {
        rise_seg_level[b] = rise_add(rise_seg_level[b], rise_speed);
        int level = rise_seg_level[b];
        /* A pair shows its level plus its offset, 0..255. */
        int bot = clamp_byte((long long)level + rise_bot);
        int mid = clamp_byte((long long)level + rise_mid);
        int top = clamp_byte((long long)level + rise_top);
        light_data[light_index(b, 0)] = light_data[light_index(b, 5)] = bot;
        light_data[light_index(b, 1)] = light_data[light_index(b, 4)] = mid;
        light_data[light_index(b, 2)] = light_data[light_index(b, 3)] = top;
        if ((long long)level + rise_top <= 254)
            done = false;
    }
    return done ? -1 : 0;
}

int rise_deinit(void)
{
    return 0;
}

} // extern "C"
