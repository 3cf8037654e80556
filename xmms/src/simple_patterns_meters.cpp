/* simple_patterns_meters.cpp -- meters of the lowest frequencies.
 *
 * Each frame takes one level in [0, 1] (bins 0 to 5, adaptively scaled),
 * fades the whole hallway and lights a length proportional to the level:
 * bar_equalizer boxes from one end, center_meter boxes from the middle,
 * vertical_meter pairs from the floor up. Only bar_equalizer keeps a
 * setting, its direction. */
#include "simple_patterns_meters.h"

#include <cstdio>
#include <cstdlib>

#include "pattern_options.h"
#include "simple_patterns.h"

namespace {

int bar_equalizer_dir = 1; /* +1 grows from box 0, -1 from box 9 */

/* All six channels of one box at full. */
void light_box(int *light_data, int box)
{
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++)
        light_data[light_index(box, c)] = 255;
}

} // namespace

extern "C" {

/* Direction from "dir" when an option string is given (kept from the last
 * run if it holds none), else drawn. Only the sign counts: a bar that
 * stepped by more than one box, or not at all, would leave the hallway or
 * pile up on its first box. Always accepts. */
int bar_equalizer_init(char *param)
{
    printf("bar_equalizer_init called\n");
    if (param) {
        parse_string(param, (char *)"i", "dir", &bar_equalizer_dir);
        bar_equalizer_dir = bar_equalizer_dir > 0 ? 1 : -1;
        printf(MSG_TOLD_DIRECTION, bar_equalizer_dir);
    } else {
        bar_equalizer_dir = (rand() % 2) * 2 - 1;
        printf(MSG_RANDOM_DIRECTION, bar_equalizer_dir);
    }
    return 0;
}

/* Up to ten boxes from the start box, in the bar's direction. */
int bar_equalizer_frame(double *, int16_t *, int *light_data,
                        int16_t (*raw_data)[256], int)
{
    int len = (int)(bass_level(raw_data) * 10.0);
    fade_hallway(light_data);
    int step = bar_equalizer_dir > 0 ? 1 : -1;
    int start = step > 0 ? 0 : LIGHT_BOXES - 1;
    for (int k = 0; k < len && k < LIGHT_BOXES; k++)
        light_box(light_data, start + k * step);
    return 0;
}

int bar_equalizer_deinit(void)
{
    return 0;
}

int center_meter_init(char *)
{
    return 0;
}

/* Boxes 4 and 5 first, then outwards to both ends (len 0 to 5). */
int center_meter_frame(double *, int16_t *, int *light_data,
                       int16_t (*raw_data)[256], int)
{
    int len = (int)(bass_level(raw_data) * 5.0);
    fade_hallway(light_data);
    for (int i = 0; i < len && i < LIGHT_BOXES / 2; i++) {
        light_box(light_data, LIGHT_BOXES / 2 + i);
        light_box(light_data, LIGHT_BOXES / 2 - 1 - i);
    }
    return 0;
}

int center_meter_deinit(void)
{
    return 0;
}

int vertical_meter_init(char *)
{
    return 0;
}

/* Bottom pair from len 1, middle pair from 2, top pair at 3, in every box. */
int vertical_meter_frame(double *, int16_t *, int *light_data,
                         int16_t (*raw_data)[256], int)
{
    int len = (int)(bass_level(raw_data) * 3.0);
    fade_hallway(light_data);
    for (int box = 0; box < LIGHT_BOXES; box++)
        for (int i = 0; i < len && i < LIGHT_CHANNELS_PER_BOX / 2; i++) {
            light_data[light_index(box, i)] = 255;
            light_data[light_index(box, LIGHT_CHANNELS_PER_BOX - 1 - i)] = 255;
        }
    return 0;
}

int vertical_meter_deinit(void)
{
    return 0;
}

} // extern "C"
