/* simple_patterns_motion.cpp -- light that moves whatever the music.
 *
 * trailing_lines: lights start at one end in a random channel and step a
 *   box every tl_move_count frames until they leave at the other end; the
 *   whole frame fades behind them. Owns a line table from init to deinit,
 *   the only pattern that allocates.
 * warp_core: two rings step from boxes 0 and 9 in to boxes 4 and 5, over
 *   and over, fading behind them; with "beats" once every so many beats
 *   while a beat is followed. */
#include "simple_patterns_motion.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "beat_clock.h"
#include "pattern_options.h"
#include "simple_patterns.h"

namespace {

/* trailing_lines settings, kept from run to run (an option string
 * overrides them for good). */
int tl_max_lines = 12;      /* most lines at once; size of the table */
int tl_fade_count = 10;     /* fade per frame of the whole frame */
int tl_new_line_chance = 3; /* a new line when rand() % this is 0 */
int tl_move_count = 2;      /* frames per box */
int tl_dir = 1;             /* boxes per step, sign = direction */

/* A table bigger than this would only cost time on every frame: lines
 * overlap long before it fills. */
constexpr int TL_LINES_LIMIT = 1000;
/* Steps of more than this many boxes all leave the hallway at once. */
constexpr int TL_DIR_LIMIT = LIGHT_BOXES;

int *line_position = nullptr; /* head of each line; -1 = free slot */
int *line_count = nullptr;    /* frames to the next step; -1 = free */
int num_lines = 0;

int wc_delay = 0; /* extra frames between two steps */
int wc_count = 0; /* frames waited since the last step */
int wc_pos = 0;   /* distance of the rings from the ends, 0 to 4 */
int wc_beats = 0; /* > 0: one run from the ends in every this many beats */
long wc_beat = 0; /* beats heard since init */

/* Bring one setting into lo..hi, saying so on standard error. */
void tl_limit(int *value, int lo, int hi, const char *key)
{
    int v = clamp_int(*value, lo, hi);
    if (v != *value) {
        fprintf(stderr, "trailing_lines: %s %d out of range, using %d\n", key,
                *value, v);
        *value = v;
    }
}

void tl_free_table(void)
{
    free(line_position);
    free(line_count);
    line_position = nullptr;
    line_count = nullptr;
}

} // namespace

extern "C" {

/* Reads the five settings, keeps them in the range where lines run and
 * leave, and sets up an empty line table. Returns -1 (refuses) when the
 * table cannot be allocated. */
int trailing_lines_init(char *param)
{
    printf("trailing_lines_init called\n");
    parse_string(param, (char *)"iiiii", "max_lines", &tl_max_lines,
                 "fade_count", &tl_fade_count, "new_line_chance",
                 &tl_new_line_chance, "move_count", &tl_move_count, "dir",
                 &tl_dir);
    tl_limit(&tl_max_lines, 1, TL_LINES_LIMIT, "max_lines");
    tl_limit(&tl_new_line_chance, 1, INT_MAX, "new_line_chance");
    tl_limit(&tl_move_count, 1, INT_MAX, "move_count");
    /* A line that never steps never leaves; 0 starts lines at box 9 like
     * any non-positive direction, so it runs towards box 0. */
    if (tl_dir == 0) {
        fprintf(stderr, "trailing_lines: dir 0 out of range, using -1\n");
        tl_dir = -1;
    }
    tl_limit(&tl_dir, -TL_DIR_LIMIT, TL_DIR_LIMIT, "dir");

    tl_free_table(); /* an init without a deinit before it */
    line_position = (int *)malloc(sizeof(int) * tl_max_lines);
    line_count = (int *)malloc(sizeof(int) * tl_max_lines);
    if (!line_position || !line_count) {
        perror("trailing_lines_init: line table");
        tl_free_table();
        return -1;
    }
    num_lines = 0;
    for (int i = 0; i < tl_max_lines; i++)
        line_position[i] = line_count[i] = -1;
    return 0;
}

/* Fade, step the lines, free those that left, maybe start one, draw the
 * heads. Returns -1 (end the pattern) if there is no line table. */
int trailing_lines_frame(double *, int16_t *, int *light_data,
                         int16_t (*)[256], int)
{
    if (!line_position || !line_count)
        return -1;
    for (int k = 0; k < LIGHT_CHANNELS; k++)
        light_data[k] = dim(light_data[k], tl_fade_count);

    for (int i = 0; i < tl_max_lines; i++) {
        if (line_count[i] > 0 && --line_count[i] == 0) {
            line_count[i] = tl_move_count;
            line_position[i] += tl_dir * LIGHT_CHANNELS_PER_BOX;
        }
    }
    for (int i = 0; i < tl_max_lines; i++) {
        if (line_count[i] != -1 &&
            (line_position[i] < 0 || line_position[i] >= LIGHT_CHANNELS)) {
            line_position[i] = line_count[i] = -1;
            num_lines--;
        }
    }

    int r = rand();
    if ((r % tl_new_line_chance == 0 && num_lines < tl_max_lines) ||
        num_lines == 0) {
        for (int i = 0; i < tl_max_lines; i++) {
            if (line_count[i] != -1)
                continue;
            line_position[i] = tl_dir > 0 ? rand() % LIGHT_CHANNELS_PER_BOX
                                          : rand() % LIGHT_CHANNELS_PER_BOX +
                                                light_index(LIGHT_BOXES - 1, 0);
            line_count[i] = tl_move_count;
            num_lines++;
            break;
        }
    }

    for (int i = 0; i < tl_max_lines; i++)
        if (line_position[i] >= 0)
            light_data[line_position[i]] = 255;
    return 0;
}

/* Frees the line table. */
int trailing_lines_deinit(void)
{
    tl_free_table();
    num_lines = 0;
    return 0;
}

/* Delay from "delay", else drawn (0 to 3); "beats" ties the runs to the
 * beat. The rings' place and count go on from the last run. Always
 * accepts. */
int warp_core_init(char *param)
{
    wc_delay = 0;
    wc_beats = 0;
    wc_beat = 0;
    if (param) {
        parse_string(param, (char *)"i", "delay", &wc_delay);
        parse_string(param, (char *)"i", "beats", &wc_beats);
    }
    if (wc_delay == 0)
        wc_delay = rand() & 3;
    return 0;
}

/* Step the rings every wc_delay + 1 frames (or on the beat), fade, light
 * both rings. */
int warp_core_frame(double *, int16_t *, int *light_data, int16_t (*)[256],
                    int)
{
    const beat_view *b = beat_clock_view();
    if (b->beat)
        wc_beat++;
    if (wc_beats > 0 && b->locked && b->frames_per_beat > 0.0 && wc_beat > 0) {
        /* the run's share of its beats gone by, in five places */
        double run = ((wc_beat - 1) % wc_beats + beat_clock_phase(b)) / wc_beats;
        wc_pos = clamp_int((long long)(run * 5.0), 0, 4);
        wc_count = 0;
    } else if (wc_count < wc_delay) {
        wc_count++;
    } else {
        wc_count = 0;
        wc_pos = wc_pos >= 4 ? 0 : wc_pos + 1;
    }
    fade_hallway(light_data);
    for (int c = 0; c < LIGHT_CHANNELS_PER_BOX; c++) {
        light_data[light_index(wc_pos, c)] = 255;
        light_data[light_index(LIGHT_BOXES - 1 - wc_pos, c)] = 255;
    }
    return 0;
}

int warp_core_deinit(void)
{
    return 0;
}

} // extern "C"
