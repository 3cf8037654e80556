/* simple_patterns_equalizers.cpp -- the spectrum shown band by band.
 *
 * simple_equalizer: bar i lights box i, from the floor up or across it.
 * ring_equalizer, swirl_meter: new band levels enter at one end and the
 *   picture travels one box per frame, dimming as it goes.
 * vertical_spectrum: band b sits on the bottom pair of box b and climbs a
 *   pair per frame towards the ceiling.
 * Settings live in file-level variables for the life of the library; the
 * moving pictures live in the light frame itself. */
#include "simple_patterns_equalizers.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "pattern_options.h"
#include "simple_patterns.h"

namespace {

int se_center = 0;    /* 0 edge mode, 1 sweep from channel 0, 2 from 5 */
int se_fade = 20;     /* fade per frame of the sweep modes */
int re_direction = 0; /* above 0 travels towards box 9, else towards 0 */
int re_fade = 0;      /* dimming per box travelled */
int sm_direction = 0;
int sm_fade = 0;
double rot = 0.0;     /* swirl spot on the ring; kept from run to run */
int vs_fade = 0;      /* dimming per pair climbed */

/* Direction and fade of a travelling pattern: sentinels, then the option
 * string, then random draws for what it left unset. */
void travel_init(char *param, int *direction, int *fade, int fade_mask)
{
    *direction = 0;
    *fade = -1;
    if (param) {
        parse_string(param, (char *)"i", "dir", direction);
        parse_string(param, (char *)"i", "fade", fade);
    }
    if (*direction != 0) {
        printf(MSG_TOLD_DIRECTION, *direction);
    } else {
        *direction = (rand() & 1) * 2 - 1;
        printf(MSG_RANDOM_DIRECTION, *direction);
    }
    if (*fade < 0) {
        *fade = rand() & fade_mask;
        printf(MSG_RANDOM_FADE, *fade);
    }
}

/* Move the picture one box along, one fade step darker; returns the index
 * of the entry box's channel 0, where the new values go. Copies from the
 * far end backwards so every box takes its neighbour's old values. */
int travel(int *light_data, int direction, int fade)
{
    if (direction > 0) {
        for (int k = LIGHT_CHANNELS - 1; k >= LIGHT_CHANNELS_PER_BOX; k--)
            light_data[k] = dim(light_data[k - LIGHT_CHANNELS_PER_BOX], fade);
        return light_index(0, 0);
    }
    for (int k = 0; k < LIGHT_CHANNELS - LIGHT_CHANNELS_PER_BOX; k++)
        light_data[k] = dim(light_data[k + LIGHT_CHANNELS_PER_BOX], fade);
    return light_index(LIGHT_BOXES - 1, 0);
}

} // namespace

extern "C" {

/* Draws the mode and the sweep fade. Always accepts. */
int simple_equalizer_init(char *)
{
    se_center = rand() % 3;
    se_fade = rand() % 20 + 10;
    printf("simple_equalizer_init called\n");
    return 0;
}

/* Bar i lights box i; every call writes or fades all 60 values. */
int simple_equalizer_frame(double *, int16_t *bar_heights, int *light_data,
                           int16_t (*)[256], int)
{
    for (int box = 0; box < LIGHT_BOXES; box++) {
        int h = bar_heights[box];
        int *b = light_data + light_index(box, 0);
        if (se_center == 0) {
            /* Both walls at once, floor first: each pair has its own
             * threshold and slope. */
            b[0] = b[5] = clamp_byte(5 * h - 50);
            b[1] = b[4] = clamp_byte(6 * h - 165);
            b[2] = b[3] = clamp_byte(5 * h - 245);
            continue;
        }
        for (int j = 0; j < LIGHT_CHANNELS_PER_BOX; j++) {
            int c = se_center == 1 ? j : LIGHT_CHANNELS_PER_BOX - 1 - j;
            int t = 10 + 16 * j;
            if (h > t) {
                int v = 16 * (h - t);
                b[c] = v > 255 ? 255 : v;
            } else {
                b[c] = dim(b[c], se_fade);
            }
        }
    }
    return 0;
}

int simple_equalizer_deinit(void)
{
    printf("simple_equalizer_deinit called\n");
    return 0;
}

/* Direction and fade from "dir" and "fade", else drawn. Always accepts. */
int ring_equalizer_init(char *param)
{
    travel_init(param, &re_direction, &re_fade, 15);
    return 0;
}

/* Six bands enter the entry box, band 0 on channel 0, and travel on. */
int ring_equalizer_frame(double *, int16_t *, int *light_data,
                         int16_t (*raw_data)[256], int)
{
    double levels[6];
    get_n_scaled_values(raw_data, levels, 6);
    int entry = travel(light_data, re_direction, re_fade);
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++)
        light_data[entry + c] = (int)(levels[c] * 255.0);
    return 0;
}

int ring_equalizer_deinit(void)
{
    printf("ring_equalizer_deinit called\n");
    return 0;
}

/* As ring_equalizer, with a smaller random fade. Always accepts. */
int swirl_meter_init(char *param)
{
    travel_init(param, &sm_direction, &sm_fade, 7);
    return 0;
}

/* The spot at `rot` shows the low band, the side opposite it the high
 * band; the spot circles a full turn every 40 frames. */
int swirl_meter_frame(double *, int16_t *, int *light_data,
                      int16_t (*raw_data)[256], int)
{
    double levels[2];
    get_n_scaled_values(raw_data, levels, 2);
    int entry = travel(light_data, sm_direction, sm_fade);
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
        double d = ring_distance(rot, c);
        int v = 0;
        if (d >= 3.4)
            v = (int)(levels[1] * 255.0);
        else if (d <= 0.4)
            v = (int)(levels[0] * 255.0);
        light_data[entry + c] = v;
    }
    rot += 0.2;
    while (rot >= RING_SIZE)
        rot -= RING_SIZE;
    return 0;
}

int swirl_meter_deinit(void)
{
    return 0;
}

/* Fade from "fade", else drawn (0 to 127). Always accepts. */
int vertical_spectrum_init(char *param)
{
    vs_fade = -1;
    if (param)
        parse_string(param, (char *)"i", "fade", &vs_fade);
    if (vs_fade < 0) {
        vs_fade = rand() & 127;
        printf(MSG_RANDOM_FADE, vs_fade);
    }
    return 0;
}

/* Band b holds its peak on the bottom pair of box b; light climbs one
 * pair per frame, losing vs_fade per step. */
int vertical_spectrum_frame(double *, int16_t *, int *light_data,
                            int16_t (*raw_data)[256], int)
{
    double levels[LIGHT_BOXES];
    get_n_scaled_values(raw_data, levels, LIGHT_BOXES);
    for (int box = 0; box < LIGHT_BOXES; box++) {
        int *b = light_data + light_index(box, 0);
        /* Top pair first, so each pair takes the old value below it. */
        b[2] = dim(b[1], vs_fade);
        b[3] = dim(b[4], vs_fade);
        b[1] = dim(b[0], vs_fade);
        b[4] = dim(b[5], vs_fade);
        /* 256, not 255: a band at full level gives 256 (sent as 255). */
        int t = (int)(levels[box] * 256.0);
        int sunk0 = b[0] > INT_MIN + 8 ? b[0] - 8 : INT_MIN;
        int sunk5 = b[5] > INT_MIN + 8 ? b[5] - 8 : INT_MIN;
        b[0] = sunk0 > t ? sunk0 : t;
        b[5] = sunk5 > t ? sunk5 : t;
    }
    return 0;
}

int vertical_spectrum_deinit(void)
{
    return 0;
}

} // extern "C"
