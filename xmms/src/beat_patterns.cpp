/* beat_patterns.cpp -- beat_pulse and beat_chase. Both read the beat of
 * the callback in progress from the beat clock; their options are set
 * afresh at every init (a run without options uses the defaults). */
#include "beat_patterns.h"

#include <cstdio>

#include "beat_clock.h"
#include "pattern_options.h"
#include "simple_patterns.h"

namespace {

/* beat_pulse */
int bp_level;   /* flash of an ordinary beat */
int bp_accent;  /* flash of a bar's first beat */
int bp_peak;    /* flash of the beat under way; 0 before the first */

/* beat_chase */
int bc_bars;    /* bars walked before turning round */
int bc_fade;    /* fade of the trail a frame */
int bc_dir;     /* +1 towards box 9 */
int bc_pos;     /* box lit; -1 or LIGHT_BOXES before the first step */
int bc_walked;  /* bars begun since the last turn */
int bc_wait;    /* frames to the next step without a beat */
int bc_peak;    /* brightness of the box at its beat */

/* Without a beat the chase steps about three times a second. */
const int BC_FALLBACK_STEP = 30;

/* The whole hallway at the bass level, holding a brighter value a while:
 * what a beat pattern shows while no beat is followed. */
void bass_glow(int *light_data, double bass)
{
    int l = (int)(bass * 255.0);
    for (int i = 0; i < LIGHT_CHANNELS; i++) {
        int v = dim(light_data[i], 16);
        light_data[i] = v < l ? l : v;
    }
}

/* One box along, turning round on a bar's first beat once bc_bars bars
 * are walked, and at the ends of the hallway. */
void bc_step(int beat_in_bar)
{
    if (beat_in_bar == 1) {
        if (bc_walked >= bc_bars) {
            bc_dir = -bc_dir;
            bc_walked = 0;
        }
        bc_walked++;
    }
    bc_pos += bc_dir;
    if (bc_pos >= LIGHT_BOXES) {
        bc_pos = 2 * (LIGHT_BOXES - 1) - bc_pos;
        bc_dir = -1;
    } else if (bc_pos < 0) {
        bc_pos = -bc_pos;
        bc_dir = 1;
    }
}

void bc_light(int *light_data, int level)
{
    if (bc_pos < 0 || bc_pos >= LIGHT_BOXES)
        return;
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
        int *v = &light_data[light_index(bc_pos, c)];
        *v = *v < level ? level : *v;
    }
}

} // namespace

extern "C" {

/* "level" and "accent", 0..255 (defaults 176 and 255). Always accepts. */
int beat_pulse_init(char *param)
{
    bp_level = 176;
    bp_accent = 255;
    parse_string(param, (char *)"ii", "level", &bp_level, "accent", &bp_accent);
    bp_level = clamp_byte(bp_level);
    bp_accent = clamp_byte(bp_accent);
    bp_peak = 0;
    return 0;
}

/* On a beat the whole hallway flashes and fades to dark over the beat,
 * fast at first; without a beat it glows with the bass. */
int beat_pulse_frame(double *, int16_t *, int *light_data, int16_t (*raw_data)[256], int)
{
    double bass = bass_level(raw_data); /* every frame, so the gain keeps up */
    const beat_view *b = beat_clock_view();
    if (!b->locked) {
        bp_peak = 0;
        bass_glow(light_data, bass);
        return 0;
    }
    if (b->beat)
        bp_peak = b->beat_in_bar == 1 ? bp_accent : bp_level;
    if (bp_peak == 0) {
        /* locked, but its first beat is still to come */
        bass_glow(light_data, bass);
        return 0;
    }
    double rest = 1.0 - beat_clock_phase(b);
    int v = (int)(bp_peak * rest * rest);
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        light_data[i] = v;
    return 0;
}

int beat_pulse_deinit(void)
{
    return 0;
}

/* "bars" (turn round every N bars, 1..64, default 1), "fade" (trail's
 * fade a frame, 0..255, default 16), "dir" (first direction, default +1).
 * The first walk is centred in the hallway. Always accepts. */
int beat_chase_init(char *param)
{
    bc_bars = 1;
    bc_fade = 16;
    bc_dir = 1;
    parse_string(param, (char *)"iii", "bars", &bc_bars, "fade", &bc_fade, "dir", &bc_dir);
    bc_bars = clamp_int(bc_bars, 1, 64);
    bc_fade = clamp_byte(bc_fade);
    bc_dir = bc_dir < 0 ? -1 : 1;
    int span = bc_bars * 4;
    int first = span < LIGHT_BOXES ? (LIGHT_BOXES - span) / 2 : 0;
    bc_pos = bc_dir > 0 ? first - 1 : LIGHT_BOXES - first;
    bc_walked = 0;
    bc_wait = 0;
    bc_peak = 0;
    return 0;
}

/* The trail fades; on each beat the lit box moves one along and lights
 * at full, dimming a little over the beat. Without a beat it walks at a
 * steady pace, lit at the bass level. */
int beat_chase_frame(double *, int16_t *, int *light_data, int16_t (*raw_data)[256], int)
{
    double bass = bass_level(raw_data);
    const beat_view *b = beat_clock_view();
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        light_data[i] = dim(light_data[i], bc_fade);
    if (b->locked) {
        if (b->beat) {
            bc_step(b->beat_in_bar);
            bc_peak = 255;
        }
        bc_light(light_data, (int)(bc_peak * (1.0 - 0.6 * beat_clock_phase(b))));
        return 0;
    }
    bc_peak = 0;
    if (--bc_wait <= 0) {
        bc_step(0);
        bc_wait = BC_FALLBACK_STEP;
    }
    bc_light(light_data, (int)(bass * 255.0));
    return 0;
}

int beat_chase_deinit(void)
{
    return 0;
}

} // extern "C"
