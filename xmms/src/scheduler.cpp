/* scheduler.cpp -- the pattern scheduler and its table, made from the
 * pattern list. Each callback counts the current pattern's time down;
 * when it runs out (or the pattern ends itself) the next is drawn from
 * `patterns` with rand(), or the fixed pattern a host chose
 * (glim_set_fixed_pattern) is started again. Runs on the player's
 * rendering thread; only the current pattern's name is read from other
 * threads. */
#include "scheduler.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>

#include "analysis.h"
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

int current_pattern = -1;        /* drawn row; -1 = none */
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
 * the next callback tries again. */
void draw_pattern(void)
{
    current_pattern = -1;
    current_name.store(nullptr);
    if (num_patterns <= 0 && !fixed_set)
        return;
    for (int tries = 0; tries < MAX_DRAWS; tries++) {
        int row = num_patterns > 0 ? rand() % num_patterns : 0;
        pattern_info rec = fixed_set ? fixed_info : patterns[row];
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

void stop_current(void)
{
    current_name.store(nullptr);
    if (current_rec.deinit)
        current_rec.deinit();
    current_pattern = -1;
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
        printf("calling deinit for pattern %i\n", current_pattern);
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
    if (time_left < 0 && current_pattern >= 0) {
        printf("calling deinit for pattern %i\n", current_pattern);
        stop_current();
    }
    if (current_pattern == -1 || time_left < 0)
        draw_pattern();
}

void run_frame(int16_t data[2][256])
{
    if (current_pattern >= 0 &&
        current_rec.frame(bar_averages, bar_heights, light_data, data, time_left) < 0)
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
