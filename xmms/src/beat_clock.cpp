/* beat_clock.cpp -- the plug-in's beat. Every callback gets a music time
 * (the host's, or callbacks counted at their measured rate), feeds the
 * live tracker, and then says whether a beat falls in it: the tracker's
 * beat, or, once a host has handed over a grid, the grid's beat nearest
 * to this callback. Besides the beat it watches the band's level for a
 * drop (the full band back after a quiet stretch) and, with a grid, the
 * start of each section, so that the scheduler can change the pattern on
 * that very beat.
 *
 * Everything but the host's entries runs on the rendering thread. A grid
 * is copied on the host's thread and handed over through one atomic
 * pointer; the beat a host reads is a copy made under a lock held only
 * for the copy. Nothing is allocated per callback. */
#include "beat_clock.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "beat_tracker.h"

namespace {

/* A callback of 512 samples at 44.1 kHz: the period assumed until one is
 * measured. */
const double DEFAULT_PERIOD = 512.0 / 44100.0;
/* Callbacks a measurement of their rate spans, and the gap that is a
 * pause rather than a slow callback. */
const int RATE_WINDOW = 64;
const int64_t PAUSE_NS = 250000000;

/* Drops: the first bin of the band's upper part; how far it must fall
 * (log2 units of summed magnitude, 6 dB each) and for how long before a
 * return counts; how far above the old mean a block that brings it back
 * stands. */
const int UPPER_FIRST = 16;
const double QUIET_FALL = 1.0;
const double QUIET_SECONDS = 2.0;
const double HIT_ABOVE = 1.0;
const double MEAN_SECONDS = 0.75;
/* The level the band had while it played fully rises within seconds and
 * falls only over half a minute: a breakdown of a few bars is quiet
 * against it. */
const double REFERENCE_RISE_SECONDS = 4.0, REFERENCE_FALL_SECONDS = 30.0;
/* The drop's hit is its first beat: the pattern changes on it, unless the
 * beat followed is due within this many callbacks (the hit came a shade
 * early), when it waits for that beat. */
const double DROP_EARLY_CALLBACKS = 2.0;
const double DROP_ARMED_SECONDS = 0.5;

/* A live beat this close (in beats) before the grid's first one is the
 * same beat: the switch does not flash twice. */
const double SWITCH_SAME_BEAT = 0.25;

/* Grids larger than this are refused: hours of music at any tempo. */
const int GRID_MAX = 1 << 20;

struct beat_grid {
    int num_beats, num_sections;
    glim_grid_beat *beats;
    glim_grid_section *sections;
};

beat_tracker tracker;
bool tracker_ready;
std::atomic<bool> following{true};
std::atomic<bool> restart_requested{false};

/* time base */
bool host_time_given;        /* set_music_time came before this callback */
double host_time;
bool started;                /* a callback since the last restart */
bool relocate = true;        /* music time jumped: find the place in a grid */
double music_time, last_time;
double period = DEFAULT_PERIOD;
bool period_measured;
int64_t window_start_ns, last_call_ns;
int window_calls;

/* drops, heard live */
bool levels_started;
double mean_low, mean_upper, ref_low, ref_upper;
double quiet_for;
bool drop_armed;
double armed_at;

/* grids */
std::atomic<beat_grid *> pending{nullptr};
beat_grid no_grid;           /* handed over for "drop the grid" */
beat_grid *incoming;         /* taken, waiting for its first bar */
int incoming_first;          /* that bar's first beat */
beat_grid *grid;             /* followed */
int grid_next;               /* first beat not yet signalled */
int section_next;            /* first section not yet entered */
int section_waiting;         /* entered, waiting for its first beat; -1 */
int section_now;             /* playing; -1 before the first */

beat_view view;
long bars;                   /* first beats of a bar signalled */
double last_beat_time;       /* music time of the latest beat */
double next_beat_time;
double live_beat_at = -1e9;  /* music time of the latest live beat */

std::mutex published_lock;
glim_beat_state published;

int64_t now_ns(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void free_grid(beat_grid *g)
{
    if (g && g != &no_grid)
        free(g);
}

/* Without a host time base: how long a callback lasts, measured over
 * windows of callbacks with the monotonic clock (a pause starts a new
 * window), so counted callbacks become seconds. */
void measure_period(void)
{
    int64_t now = now_ns();
    if (window_calls > 0 && now - last_call_ns > PAUSE_NS)
        window_calls = 0;
    if (window_calls == 0) {
        window_start_ns = now;
    } else if (window_calls == RATE_WINDOW) {
        double mean = (double)(now - window_start_ns) / RATE_WINDOW * 1e-9;
        if (mean > 0.0005 && mean < 0.2) {
            period = period_measured ? period + 0.25 * (mean - period) : mean;
            period_measured = true;
        }
        window_start_ns = now;
        window_calls = 0;
    }
    window_calls++;
    last_call_ns = now;
}

/* This callback's music time: the host's, or the last one plus a period. */
void advance_time(void)
{
    last_time = music_time;
    if (host_time_given) {
        music_time = host_time;
        host_time_given = false;
        double dt = music_time - last_time;
        if (started && dt > 0.0 && dt < 0.5) {
            period = period_measured ? period + 0.1 * (dt - period) : dt;
            period_measured = true;
        }
    } else {
        measure_period();
        music_time = started ? last_time + period : 0.0;
    }
    double dt = music_time - last_time;
    if (started && (dt < 0.0 || dt > 0.5))
        relocate = true;
    started = true;
}

/* How far the remembered level moves towards the level now. */
double follow(double now, double ref)
{
    double seconds = now > ref ? REFERENCE_RISE_SECONDS : REFERENCE_FALL_SECONDS;
    return period / seconds * (now - ref);
}

/* The band's level and the level it had while it played fully. A drop
 * is the band's upper part (snare, hats, cymbals: above about 1.4 kHz,
 * where a held bass tone leaks little) back after a quiet stretch, heard
 * in a block that stands out at once: a hit up there, or a kick below.
 * Levels are log2 of summed magnitudes (6 dB a unit); the means span
 * about a second, so a hit counts with the blocks around it. */
void watch_levels(const int16_t bins[256])
{
    int low = 0, upper = 0;
    for (int k = 0; k < 4; k++)
        low += bins[k] > 0 ? bins[k] : 0;
    for (int k = UPPER_FIRST; k < 256; k++)
        upper += bins[k] > 0 ? bins[k] : 0;
    if (!levels_started) {
        mean_low = low;
        mean_upper = upper;
        ref_low = log2(1.0 + low / 16.0);
        ref_upper = log2(1.0 + upper / 16.0);
        levels_started = true;
        return;
    }
    double a = period / MEAN_SECONDS;
    mean_low += a * (low - mean_low);
    mean_upper += a * (upper - mean_upper);
    double m_low = log2(1.0 + mean_low / 16.0), m_upper = log2(1.0 + mean_upper / 16.0);
    bool quiet = m_upper < ref_upper - QUIET_FALL;
    /* the block itself, only once a return would count */
    bool hit = quiet && quiet_for >= QUIET_SECONDS &&
               (log2(1.0 + upper / 16.0) >= ref_upper + HIT_ABOVE ||
                log2(1.0 + low / 16.0) >= ref_low + HIT_ABOVE);
    if (hit) {
        drop_armed = true;
        armed_at = music_time;
        quiet_for = 0.0;
    } else if (quiet) {
        quiet_for += period;
    } else {
        quiet_for = 0.0;
        ref_low += follow(m_low, ref_low);
        ref_upper += follow(m_upper, ref_upper);
    }
    if (drop_armed && music_time - armed_at > DROP_ARMED_SECONDS)
        drop_armed = false;
}

/* A beat in this callback: its place in the bar and the beats a second. */
void signal_beat(int beat_in_bar, int beats_per_bar, double at)
{
    view.beat = 1;
    view.beat_count++;
    view.since_beat = 0.0;
    view.beat_in_bar = beat_in_bar;
    if (beats_per_bar >= 2)
        view.beats_per_bar = beats_per_bar;
    if (beat_in_bar == 1)
        bars++;
    last_beat_time = at;
}

/* First beat of g at music time t or later. */
int grid_find(const beat_grid *g, double t)
{
    int lo = 0, hi = g->num_beats;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (g->beats[mid].time < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

double grid_interval(const beat_grid *g, int j)
{
    if (g->num_beats < 2)
        return 0.5;
    if (j + 1 < g->num_beats)
        return g->beats[j + 1].time - g->beats[j].time;
    return g->beats[j].time - g->beats[j - 1].time;
}

/* Beats in the bar that beat j belongs to: the place of the last beat
 * before the next first beat (4 when the grid does not say). */
int grid_bar_length(const beat_grid *g, int j)
{
    int last = g->beats[j].beat_in_bar;
    for (int k = j + 1; k < g->num_beats && k < j + 16; k++) {
        if (g->beats[k].beat_in_bar <= 1)
            return last >= 2 ? last : 4;
        last = g->beats[k].beat_in_bar;
    }
    return last >= 2 ? last : 4;
}

/* Sections entered by music time t, from the start. */
void grid_place_sections(double t)
{
    section_next = 0;
    while (section_next < grid->num_sections && grid->sections[section_next].start <= t)
        section_next++;
    section_now = section_next - 1;
    section_waiting = -1;
}

/* A new grid, handed over by the host: wait for its next bar. */
void take_grid(void)
{
    beat_grid *g = pending.exchange(nullptr);
    if (!g)
        return;
    free_grid(incoming);
    incoming = nullptr;
    if (g == &no_grid) {
        free_grid(grid);
        grid = nullptr;
        return;
    }
    incoming = g;
    incoming_first = -1;
}

/* The incoming grid's first bar begins in this callback: it takes over. */
void switch_to_incoming(double t, double half)
{
    if (incoming_first < 0 || relocate) {
        int j = grid_find(incoming, t - half);
        while (j < incoming->num_beats && incoming->beats[j].beat_in_bar != 1)
            j++;
        incoming_first = j;
    }
    if (incoming_first >= incoming->num_beats) {
        /* No bar of it lies ahead: nothing to switch to. */
        free_grid(incoming);
        incoming = nullptr;
        return;
    }
    if (incoming->beats[incoming_first].time > t + half)
        return;
    free_grid(grid);
    grid = incoming;
    incoming = nullptr;
    grid_next = incoming_first;
    grid_place_sections(grid->beats[grid_next].time + 0.5 * grid_interval(grid, grid_next));
}

/* Is music time t within the grid (from a beat before its first to two
 * after its last)? */
bool grid_covers(double t)
{
    int n = grid->num_beats;
    return t >= grid->beats[0].time - grid_interval(grid, 0) &&
           t <= grid->beats[n - 1].time + 2 * grid_interval(grid, n - 1);
}

/* The grid's beat for this callback, and a section's first beat. */
void grid_step(double t, double half, bool on, bool switched)
{
    if (relocate && !switched) {
        grid_next = grid_find(grid, t - half);
        grid_place_sections(t);
    }
    int fired = -1;
    while (grid_next < grid->num_beats && grid->beats[grid_next].time <= t + half)
        fired = grid_next++;
    view.from_grid = 1;
    view.locked = 1;
    double interval = grid_interval(grid, fired >= 0 ? fired : grid_next > 0 ? grid_next - 1 : 0);
    view.frames_per_beat = interval / period;
    next_beat_time = grid_next < grid->num_beats ? grid->beats[grid_next].time : 0.0;
    if (fired >= 0 && on) {
        const glim_grid_beat *b = &grid->beats[fired];
        /* The live tracker may have flashed this very beat a moment ago. */
        bool same = switched && (t - live_beat_at) < SWITCH_SAME_BEAT * interval;
        if (!same)
            signal_beat(b->beat_in_bar, grid_bar_length(grid, fired), b->time);
        else
            view.beat_in_bar = b->beat_in_bar;
        double tolerance = 0.5 * interval;
        while (section_next < grid->num_sections &&
               grid->sections[section_next].start <= b->time + tolerance)
            section_waiting = section_next++;
        if (section_waiting >= 0 &&
            (grid->sections[section_waiting].drop || b->beat_in_bar == 1)) {
            section_now = section_waiting;
            section_waiting = -1;
            view.change = !same;
        }
    }
    view.loudness = section_now >= 0 ? grid->sections[section_now].loudness : -1.0;
}

/* The live tracker's beat for this callback, and a drop on it. */
void live_step(const beat_state *s, bool on)
{
    view.from_grid = 0;
    view.loudness = -1.0;
    view.locked = s->locked;
    view.frames_per_beat = s->bpm > 0.0 ? 60.0 / (s->bpm * period) : 0.0;
    next_beat_time = s->next_beat;
    if (s->beat_now) {
        live_beat_at = music_time;
        if (on)
            signal_beat(s->beat_in_bar, s->beats_per_bar, music_time);
    }
    double to_beat = view.frames_per_beat - view.since_beat;
    if (drop_armed && on && view.locked && (view.beat || to_beat > DROP_EARLY_CALLBACKS)) {
        view.change = 1;
        drop_armed = false;
    }
}

void publish(const beat_state *s)
{
    glim_beat_state b;
    b.locked = view.locked;
    b.from_grid = view.from_grid;
    double seconds_a_beat = view.frames_per_beat * period;
    b.bpm = !view.from_grid ? s->bpm : seconds_a_beat > 0 ? 60.0 / seconds_a_beat : 0.0;
    b.confidence = view.from_grid ? 1.0 : s->confidence;
    b.phase = beat_clock_phase(&view);
    b.beat_count = view.beat_count;
    b.beat_in_bar = view.beat_in_bar;
    b.beats_per_bar = view.beats_per_bar;
    b.bar_count = bars;
    b.last_beat = last_beat_time;
    b.next_beat = view.locked ? next_beat_time : 0.0;
    std::lock_guard<std::mutex> g(published_lock);
    published = b;
}

/* Nothing heard yet. */
void clear_beat(void)
{
    memset(&view, 0, sizeof view);
    view.beats_per_bar = 4;
    view.loudness = -1.0;
    bars = 0;
    last_beat_time = next_beat_time = 0.0;
    live_beat_at = -1e9;
    levels_started = false;
    quiet_for = 0.0;
    drop_armed = false;
    started = false;
    relocate = true;
    music_time = last_time = 0.0;
}

const beat_state unlocked_state{};

} // namespace

int beat_clock_init(void)
{
    if (tracker_ready)
        return 0;
    clear_beat();
    if (beat_tracker_init(&tracker) != 0)
        return -1;
    tracker_ready = true;
    return 0;
}

void beat_clock_restart(void)
{
    restart_requested.store(true);
}

void beat_clock_feed(const int16_t bins[256])
{
    if (restart_requested.exchange(false)) {
        if (tracker_ready)
            beat_tracker_reset(&tracker);
        clear_beat();
    }
    advance_time();
    const beat_state *s =
        tracker_ready ? beat_tracker_feed(&tracker, bins, music_time) : &unlocked_state;
    watch_levels(bins);
    take_grid();

    bool on = following.load(std::memory_order_relaxed);
    view.beat = 0;
    view.change = 0;
    view.since_beat += 1.0;
    double half = 0.5 * period;
    bool switched = false;
    if (incoming) {
        beat_grid *before = grid;
        switch_to_incoming(music_time, half);
        switched = grid != before;
    }
    if (grid && (switched || grid_covers(music_time))) {
        grid_step(music_time, half, on, switched);
        if (s->beat_now)
            live_beat_at = music_time;
    } else {
        live_step(s, on);
    }
    if (!on) {
        view.locked = 0;
        view.change = 0;
    }
    relocate = false;
    publish(s);
}

const beat_view *beat_clock_view(void)
{
    return &view;
}

double beat_clock_phase(const beat_view *v)
{
    if (v->frames_per_beat <= 0.0)
        return 1.0;
    double p = v->since_beat / v->frames_per_beat;
    return p < 0.0 ? 0.0 : p > 1.0 ? 1.0 : p;
}

void beat_clock_set_music_time(double seconds)
{
    if (!isfinite(seconds))
        return;
    host_time = seconds;
    host_time_given = true;
}

void beat_clock_state(glim_beat_state *out)
{
    std::lock_guard<std::mutex> g(published_lock);
    *out = published;
}

void beat_clock_set_following(int on)
{
    following.store(on != 0);
}

int beat_clock_set_grid(const glim_grid_beat *beats, int num_beats,
                        const glim_grid_section *sections, int num_sections)
{
    if (num_beats < 0 || num_sections < 0 || num_beats > GRID_MAX || num_sections > GRID_MAX ||
        (num_beats > 0 && !beats) || (num_sections > 0 && !sections))
        return -1;
    beat_grid *g = &no_grid;
    if (num_beats > 0) {
        /* Sorted, finite times; anything else would make the cursor wander. */
        for (int i = 0; i < num_beats; i++)
            if (!isfinite(beats[i].time) || (i > 0 && beats[i].time <= beats[i - 1].time) ||
                beats[i].beat_in_bar < 0)
                return -1;
        for (int i = 0; i < num_sections; i++)
            if (!isfinite(sections[i].start) || !isfinite(sections[i].loudness) ||
                (i > 0 && sections[i].start < sections[i - 1].start))
                return -1;
        size_t size = sizeof(beat_grid) + sizeof(glim_grid_beat) * (size_t)num_beats +
                      sizeof(glim_grid_section) * (size_t)num_sections;
        g = (beat_grid *)malloc(size);
        if (!g)
            return -1;
        g->num_beats = num_beats;
        g->num_sections = num_sections;
        g->beats = (glim_grid_beat *)(g + 1);
        g->sections = (glim_grid_section *)(g->beats + num_beats);
        memcpy(g->beats, beats, sizeof(glim_grid_beat) * (size_t)num_beats);
        if (num_sections > 0)
            memcpy(g->sections, sections, sizeof(glim_grid_section) * (size_t)num_sections);
        for (int i = 0; i < num_sections; i++) {
            double l = g->sections[i].loudness;
            g->sections[i].loudness = l < 0.0 ? 0.0 : l > 1.0 ? 1.0 : l;
        }
    }
    /* A grid handed over earlier and not yet taken is never seen: free it. */
    free_grid(pending.exchange(g));
    return 0;
}
