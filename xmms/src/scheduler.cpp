/* scheduler.cpp -- the pattern scheduler and its table, made from the
 * pattern list. Each callback counts the current pattern's time down;
 * when it runs out (or the pattern ends itself) the next is drawn from
 * `patterns` with rand(), or the fixed pattern a host chose
 * (glim_set_fixed_pattern) is started again.
 *
 * While a beat is followed the pattern changes on the beat instead: a
 * running time ends on the first beat of the bar after it has passed, and
 * a drop (or a new section of the host's grid) changes the pattern at
 * once, on its beat. With a grid the pattern drawn suits the section: a
 * busy, bright one when it is loud, a calm one when it is quiet (a grid
 * without sections draws from the table). Without a beat everything is as
 * above, draw for draw.
 *
 * Runs on the player's rendering thread; only the current pattern's name
 * is read from other threads. */
#include "scheduler.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>

#include "analysis.h"
#include "beat_clock.h"
#include "host_api.h"
#include "pattern.h"
#include "pattern_list.h"

int light_data[LIGHT_CHANNELS];
int num_patterns;

/* A row of the table, and its pattern's place in the list. */
#define SCHEDULER_ROW(NAME) {NAME##_init, NAME##_frame, NAME##_deinit},
#define SCHEDULER_ROW_PLACE(NAME) PATTERN_LIST_##NAME,
#define SCHEDULER_ROWS(NAME, ROWS) PATTERN_LIST_ROWS(NAME, ROWS, SCHEDULER_ROW)
#define SCHEDULER_ROW_PLACES(NAME, ROWS) PATTERN_LIST_ROWS(NAME, ROWS, SCHEDULER_ROW_PLACE)

namespace {

/* Where each row of `patterns` is in the list: its name is the host
 * API's, the very string a host finds listed. */
const unsigned char row_places[] = {PATTERN_LIST(SCHEDULER_ROW_PLACES)};

/* Draws per callback before the scheduler gives up until the next one,
 * so a table whose every init refuses cannot hang the player. With one
 * accepting row in six, 100 refusals in a row happen once in 10^8. */
const int MAX_DRAWS = 100;

/* Patterns drawn for a section of a grid, by place in the pattern list. */
const unsigned char loud_places[] = {PATTERN_LIST_beat_pulse, PATTERN_LIST_beat_chase,
                                     PATTERN_LIST_random_spots, PATTERN_LIST_spinning_stripe,
                                     PATTERN_LIST_brightness_level};
const unsigned char calm_places[] = {PATTERN_LIST_sine_wave, PATTERN_LIST_rise,
                                     PATTERN_LIST_trailing_lines};
/* Sections at least this loud (0..1 across the song) get a loud pattern. */
const double LOUD_SECTION = 0.5;
/* Bars a running time may wait for its bar's first beat before it ends
 * anyway (a bar whose first beat is never heard). */
const int OVERTIME_BARS = 2;

int current_pattern = -1;        /* drawn row; -1 = none */
const char *current_drawn_name;  /* a section's pattern without a row; else NULL */
int time_left;                   /* frames left after the current one */
pattern_info current_rec;        /* the functions of the current pattern */
bool refusal_reported;           /* "no pattern" already said this streak */
/* Name of current_rec while it runs, for hosts on other threads. */
std::atomic<const char *> current_name{nullptr};

/* Fixed pattern hook (glim_set_fixed_pattern) */
bool fixed_set;
std::atomic<bool> fixed_shown{false}; /* fixed_set, for other threads */
pattern_info fixed_info;
const char *fixed_name;  /* its name, or NULL when the library has none */
char *fixed_options;   /* the caller's options, kept */
char *fixed_work;      /* writable copy handed to each init */
size_t fixed_size;

/* Steering left by a host's thread (scheduler_fix, scheduler_next), taken
 * by the rendering thread at its next callback. */
enum steer_kind { STEER_NONE, STEER_FIX, STEER_ROTATION, STEER_NEXT };
std::mutex steer_lock;
steer_kind steer = STEER_NONE;
pattern_info steer_info;
char steer_options[SCHEDULER_OPTIONS_MAX + 1];
bool steer_has_options;

/* Draw patterns until one's init accepts; the table's row, or the fixed
 * record when one is set. After MAX_DRAWS refusals nothing is current and
 * the next callback tries again. A pattern that must change (a drop, a new
 * section) passes the one that ended as `avoid`: it is not drawn again. */
void draw_pattern(const pattern_info *avoid = nullptr)
{
    current_pattern = -1;
    current_name.store(nullptr);
    if (num_patterns <= 0 && !fixed_set)
        return;
    for (int tries = 0; tries < MAX_DRAWS; tries++) {
        int row = num_patterns > 0 ? rand() % num_patterns : 0;
        pattern_info rec = fixed_set ? fixed_info : patterns[row];
        if (avoid && !fixed_set && rec.init == avoid->init && rec.frame == avoid->frame)
            continue;
        char *param = nullptr;
        if (fixed_set && fixed_options) {
            memcpy(fixed_work, fixed_options, fixed_size);
            param = fixed_work;
        }
        printf("calling init for pattern %i\n", row);
        int result = rec.init(param);
        printf("\n");
        if (result == 0) {
            current_pattern = row;
            current_rec = rec;
            current_name.store(fixed_set ? fixed_name : host_api_name(row_places[row]));
            time_left = rand() % 250 + 125;
            refusal_reported = false;
            return;
        }
    }
    if (!refusal_reported)
        fprintf(stderr, "glim: no pattern accepted its init; trying again next frame\n");
    refusal_reported = true;
}

/* For a section of the host's grid: a loud or a calm pattern, drawn
 * until one accepts (as draw_pattern, `avoid` too). */
void draw_for_section(double loudness, const pattern_info *avoid = nullptr)
{
    const unsigned char *places = loudness >= LOUD_SECTION ? loud_places : calm_places;
    int n = loudness >= LOUD_SECTION ? (int)sizeof loud_places : (int)sizeof calm_places;
    current_pattern = -1;
    current_name.store(nullptr);
    for (int tries = 0; tries < MAX_DRAWS; tries++) {
        const glim_named_pattern *p = host_api_pattern(places[rand() % n]);
        if (avoid && p->init == avoid->init && p->frame == avoid->frame)
            continue;
        printf("calling init for pattern %s\n", p->name);
        int result = p->init(nullptr);
        printf("\n");
        if (result == 0) {
            /* A row of the table keeps its number in the messages. */
            current_pattern = 0;
            current_drawn_name = p->name;
            for (int row = 0; row < num_patterns; row++)
                if (patterns[row].init == p->init && patterns[row].frame == p->frame) {
                    current_pattern = row;
                    current_drawn_name = nullptr;
                    break;
                }
            current_rec = {p->init, p->frame, p->deinit};
            current_name.store(p->name);
            time_left = rand() % 250 + 125;
            return;
        }
    }
}

/* "calling deinit for pattern N" (or NAME, for a section's pattern
 * without a row). */
void say_deinit(void)
{
    if (current_drawn_name)
        printf("calling deinit for pattern %s\n", current_drawn_name);
    else
        printf("calling deinit for pattern %i\n", current_pattern);
}

/* While a beat is followed: does the current pattern end on this beat? */
bool beat_change_due(const beat_view *b)
{
    if (b->change)
        return true;
    if (time_left >= 0)
        return false;
    if (b->beat && b->beat_in_bar == 1)
        return true;
    double overtime = OVERTIME_BARS * b->beats_per_bar * b->frames_per_beat;
    return -time_left > overtime + 1;
}

void stop_current(void)
{
    current_name.store(nullptr);
    if (current_rec.deinit)
        current_rec.deinit();
    current_pattern = -1;
    current_drawn_name = nullptr;
}

/* Act on the steering a host left: a new fixed pattern, the rotation
 * again, or the next pattern; each ends the current one now. */
void take_steering(void)
{
    steer_kind kind;
    pattern_info info;
    char options[SCHEDULER_OPTIONS_MAX + 1];
    bool has_options;
    {
        std::lock_guard<std::mutex> g(steer_lock);
        kind = steer;
        info = steer_info;
        has_options = steer_has_options;
        memcpy(options, steer_options, sizeof options);
        steer = STEER_NONE;
    }
    if (kind == STEER_NONE)
        return;
    if (kind == STEER_FIX)
        glim_set_fixed_pattern(&info, has_options ? options : nullptr);
    else if (kind == STEER_ROTATION)
        glim_set_fixed_pattern(nullptr, nullptr);
    if (current_pattern >= 0) {
        say_deinit();
        stop_current();
    }
}

} // namespace

int scheduler_fix(const pattern_info *info, const char *options)
{
    if (info && (!info->init || !info->frame))
        return -1;
    if (options && strlen(options) > SCHEDULER_OPTIONS_MAX)
        return -1;
    std::lock_guard<std::mutex> g(steer_lock);
    steer = info ? STEER_FIX : STEER_ROTATION;
    if (info)
        steer_info = *info;
    steer_has_options = options != nullptr;
    snprintf(steer_options, sizeof steer_options, "%s", options ? options : "");
    return 0;
}

void scheduler_next(void)
{
    std::lock_guard<std::mutex> g(steer_lock);
    if (steer == STEER_NONE)
        steer = STEER_NEXT;
}

int scheduler_is_fixed(void)
{
    return fixed_shown.load();
}

void count_patterns(void)
{
    num_patterns = 0;
    while (patterns[num_patterns].init)
        num_patterns++;
}

void schedule(void)
{
    take_steering();
    time_left--;
    const beat_view *b = beat_clock_view();
    if (b->locked && current_pattern >= 0) {
        if (!beat_change_due(b))
            return;
        pattern_info ended = current_rec;
        say_deinit();
        stop_current();
        if (b->from_grid && !fixed_set && b->loudness >= 0)
            draw_for_section(b->loudness, b->change ? &ended : nullptr);
        else
            draw_pattern(b->change ? &ended : nullptr);
        return;
    }
    if (time_left < 0 && current_pattern >= 0) {
        say_deinit();
        stop_current();
    }
    if (b->locked && b->from_grid && !fixed_set && b->loudness >= 0 && current_pattern == -1)
        draw_for_section(b->loudness);
    else if (current_pattern == -1 || time_left < 0)
        draw_pattern();
}

void run_frame(int16_t data[2][256])
{
    /* Waiting for its bar's first beat a pattern is on its last frame. */
    if (current_pattern >= 0 &&
        current_rec.frame(bar_averages, bar_heights, light_data, data,
                          time_left < 0 ? 0 : time_left) < 0)
        stop_current();
}

const char *current_pattern_name(void)
{
    return current_name.load();
}

extern "C" {

/* The scheduler's table: each pattern's rows in the list's order. */
pattern_info patterns[] = {PATTERN_LIST(SCHEDULER_ROWS){nullptr, nullptr, nullptr}};

int glim_set_fixed_pattern(const pattern_info *info, const char *options)
{
    if (info && (!info->init || !info->frame))
        return -1;
    free(fixed_options);
    free(fixed_work);
    fixed_options = fixed_work = nullptr;
    fixed_size = 0;
    fixed_set = info != nullptr;
    fixed_shown.store(fixed_set);
    if (!info)
        return 0;
    fixed_info = *info;
    fixed_name = pattern_name_of(info);
    if (options) {
        fixed_size = strlen(options) + 1;
        fixed_options = (char *)malloc(fixed_size);
        fixed_work = (char *)malloc(fixed_size);
        if (!fixed_options || !fixed_work) {
            free(fixed_options);
            free(fixed_work);
            fixed_options = fixed_work = nullptr;
            fixed_set = false;
            fixed_shown.store(false);
            return -1;
        }
        memcpy(fixed_options, options, fixed_size);
    }
    return 0;
}

} // extern "C"
