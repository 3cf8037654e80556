/* player.cpp -- the rendering thread's loop. Music is pulled from the
 * source into a ring of recent frames and written to the output a little
 * ahead of playback. The music is cut into consecutive 512-frame blocks,
 * and each block goes to the plug-in as soon as the playback position
 * has passed its end, so the lights follow what is heard, never what is
 * still buffered, and no sound falls between two callbacks however the
 * position moves (a sound stream reports it in steps). A light delay
 * moves that moment later, or earlier into music read ahead from the
 * source (and held in the ring, not yet written to the output); it may
 * change while the music plays, and each turn of the loop takes it afresh
 * (blocks are still handed over once each, in order). With
 * --rate each callback takes the newest 512 frames instead. Nothing is
 * allocated once the loop runs. */
#include "host/player.h"

#include <math.h>
#include <stdio.h>
#include <pthread.h>
#include <string.h>

#include <atomic>

#include "host/audio_out.h"
#include "host/fft_bins.h"
#include "host/plugin.h"
#include "loop/loop.h"

namespace {

const int RING_FRAMES = 1 << 18;          /* about 6 s at 44.1 kHz */
const int RING_MASK = RING_FRAMES - 1;
const int64_t LATE_LIMIT_NS = 250000000;  /* further behind than this: re-plan */
const int64_t SLEEP_SLICE_NS = 50000000;  /* so that a stop is seen soon */

int16_t ring[RING_FRAMES * 2];            /* recent frames, stereo, by position */
int64_t pulled = 0;                       /* frames taken from the source */
int64_t fed = 0;                          /* ... and written to the output */
std::atomic<int> light_delay_ms{0};      /* lights later (+) or earlier (-) */
int16_t window_frames[512 * 2];           /* the 512 frames a callback analyses */
int16_t freq_data[2][256];
int16_t pcm_data[2][512];
int16_t chunk[SOURCE_CHUNK * 2];

audio_source src;                         /* copy of the open source */
VisPlugin *plugin = nullptr;
void (*set_music_time)(double) = nullptr; /* the plug-in's, when it has one */
void (*observer)(double) = nullptr;
bool fast = false;                        /* back to back, on the music's clock */
double callback_rate = 0;                 /* callbacks a second */
bool natural_rate = true;                 /* one callback per 512 frames */
long frame_limit = 0;

std::atomic<bool> stop_requested{false};
std::atomic<bool> attached{false};
std::atomic<long> callbacks{0};
pthread_mutex_t call_lock = PTHREAD_MUTEX_INITIALIZER;  /* held around plug-in calls */

/* player_stop, or a signal that ends the program: the run ends either way. */
bool stopping(void)
{
    return stop_requested.load() || loop_stop_signal();
}

/* Sleep until `when` (loop_now_ns), in slices, returning early on a stop. */
void sleep_until(int64_t when)
{
    for (;;) {
        int64_t now = loop_now_ns();
        if (now >= when || stopping())
            return;
        int64_t until = when - now > SLEEP_SLICE_NS ? now + SLEEP_SLICE_NS : when;
        loop_sleep_until((double)until * 1e-9);
    }
}

/* Room the ring keeps besides the light delay: a callback's window, the
 * output's buffering and a chunk being pulled. */
const int64_t RING_SPARE = 512 + 8192 + SOURCE_CHUNK;

/* Take up to `frames` (at most one chunk) from the source into the ring.
 * Frames read, 0 at the end, -1 on error. */
int pull_chunk(int frames = SOURCE_CHUNK)
{
    int n = src.read(chunk, frames);
    if (n <= 0)
        return n;
    for (int i = 0; i < n; i++) {
        int64_t p = (pulled + i) & RING_MASK;
        ring[2 * p] = chunk[2 * i];
        ring[2 * p + 1] = chunk[2 * i + 1];
    }
    pulled += n;
    return n;
}

/* Write what was pulled to the output until it holds `upto` frames, a
 * chunk at a time (two pieces where the ring wraps). */
void feed_output(int64_t upto, int64_t now)
{
    if (upto > pulled)
        upto = pulled;
    while (fed < upto) {
        int64_t n = upto - fed < SOURCE_CHUNK ? upto - fed : SOURCE_CHUNK;
        int64_t at = fed & RING_MASK;
        if (at + n > RING_FRAMES)
            n = RING_FRAMES - at;
        out_write(ring + 2 * at, (int)n, now);
        fed += n;
    }
}

/* One callback: the 512 frames that end at `position` (silence before
 * the start and after the end) to the plug-in, as spectrum and/or
 * waveform, with their music time. */
void callback(int64_t position)
{
    for (int i = 0; i < 512; i++) {
        int64_t p = position - 512 + i;
        if (p < 0 || p < pulled - RING_FRAMES || p >= pulled) {
            window_frames[2 * i] = window_frames[2 * i + 1] = 0;
        } else {
            window_frames[2 * i] = ring[2 * (p & RING_MASK)];
            window_frames[2 * i + 1] = ring[2 * (p & RING_MASK) + 1];
        }
    }
    pthread_mutex_lock(&call_lock);
    if (attached.load() && plugin) {
        if (plugin->render_pcm && plugin->num_pcm_chs_wanted >= 1) {
            spectrum_pcm(window_frames, plugin->num_pcm_chs_wanted, pcm_data);
            plugin->render_pcm(pcm_data);
        }
        double music_time = (double)position / src.rate;
        if (attached.load() && plugin->render_freq && plugin->num_freq_chs_wanted >= 1) {
            spectrum_compute(window_frames, plugin->num_freq_chs_wanted, freq_data);
            if (set_music_time)
                set_music_time(music_time);
            plugin->render_freq(freq_data);
        }
        if (observer && attached.load())
            observer(music_time);
    }
    pthread_mutex_unlock(&call_lock);
    callbacks.fetch_add(1);
}

/* The light delay in frames of the source, as it is now. */
int64_t delay_frames(void)
{
    return (int64_t)llround((double)light_delay_ms.load() * src.rate / 1000.0);
}

bool limit_reached(void)
{
    return frame_limit > 0 && callbacks.load() >= frame_limit;
}

/* A live source paces the loop itself: what was just read is what is
 * being heard now. One callback per 512 frames, or per rate / HZ frames
 * with --rate (each still analysing the newest 512). */
enum player_end run_live(void)
{
    long step = natural_rate ? 512 : (long)(src.rate / callback_rate + 0.5);
    if (step < 1)
        step = 1;
    while (!stopping()) {
        for (long got = 0; got < step;) {
            long want = step - got < SOURCE_CHUNK ? step - got : SOURCE_CHUNK;
            int n = pull_chunk((int)want);
            if (n < 0)
                return PLAYER_ERROR;
            if (n == 0)
                return PLAYER_END_OF_SOURCE;
            got += n;
        }
        callback(pulled - delay_frames());
        if (limit_reached())
            return PLAYER_FRAMES_DONE;
    }
    return PLAYER_STOPPED;
}

/* The blocks whose end is at `upto` or before, in order, from the
 * block ending at *next_end. PLAYER_RUNNING, or why the run ends. */
enum player_end hand_blocks(int64_t *next_end, int64_t upto)
{
    while (*next_end <= upto) {
        if (stopping())
            return PLAYER_STOPPED;
        callback(*next_end);
        *next_end += SPECTRUM_SAMPLES;
        if (limit_reached())
            return PLAYER_FRAMES_DONE;
    }
    return PLAYER_RUNNING;
}

/* A file or the demo: the loop runs on the clock, keeping the output fed
 * ahead of the playback position, and the ring as far ahead as a negative
 * light delay looks. At the natural rate every block whose end has been
 * heard goes to the plug-in (a sound stream's position moves in steps, so
 * the loop looks twice a block); with --rate, one callback a tick. */
enum player_end run_clocked(void)
{
    const int ticks_per_block = natural_rate && out_audible() ? 2 : 1;
    const double period_ns = 1e9 / (callback_rate * ticks_per_block);
    /* Lights later than the sound start with blocks of silence, so that
     * callbacks come at their pace from the start and the music's blocks
     * stay where they are. */
    const int64_t first_delay = delay_frames();
    const int64_t lead = first_delay > 0
        ? (first_delay + SPECTRUM_SAMPLES - 1) / SPECTRUM_SAMPLES * SPECTRUM_SAMPLES : 0;
    int64_t next_end = SPECTRUM_SAMPLES - lead;   /* the next block to hand over */
    int64_t base = loop_now_ns();     /* tick k is due at base + (k - base_tick + 1) periods */
    long base_tick = 0;
    int64_t end_time = -1;       /* when the source ran out, or -1 */
    out_start(base);
    for (long tick = 0; !stopping(); tick++) {
        int64_t delay = delay_frames();
        /* The silent clock's ticks are moved by the light delay's part of
         * a block, so that each block comes when its moment does, not on
         * the next whole tick. */
        int64_t phase = natural_rate && !out_audible()
            ? (delay % SPECTRUM_SAMPLES + SPECTRUM_SAMPLES) % SPECTRUM_SAMPLES * 1000000000LL /
                  src.rate
            : 0;
        int64_t due = base + (int64_t)((double)(tick - base_tick + 1) * period_ns) + phase;
        if (!fast)
            sleep_until(due);
        if (stopping())
            break;
        /* Fast: the music's clock is the only clock. */
        int64_t now = fast ? due : loop_now_ns();
        if (now - due > LATE_LIMIT_NS) {
            /* Far behind (a stall): carry on from now instead of racing. */
            base = now - (int64_t)period_ns;
            base_tick = tick;
            due = now;
        }
        /* The silent clock reads the tick's due time, so that the natural
         * rate gives exactly 512 frames a callback. */
        int64_t position = out_position(due);
        int64_t look_ahead = delay < 0 ? -delay : 0;
        int64_t ahead = out_ahead() > look_ahead ? out_ahead() : look_ahead;
        while (end_time < 0 && pulled < position + ahead) {
            int n = pull_chunk();
            if (n < 0)
                return PLAYER_ERROR;
            if (n == 0)
                end_time = now;
        }
        /* The output gets what it needs ahead of playback; only the look
         * ahead stays back (all of it once the music has ended). What was
         * read for a look ahead since shortened waits in the ring rather
         * than swell the output. */
        int64_t feed_to = pulled - look_ahead;
        if (feed_to < position + out_ahead())
            feed_to = position + out_ahead();
        if (feed_to > position + out_ahead() + SOURCE_CHUNK)
            feed_to = position + out_ahead() + SOURCE_CHUNK;
        feed_output(end_time >= 0 ? pulled : feed_to, now);
        /* The end comes when the last frame has been heard and, with
         * lights later than the sound, analysed. */
        int64_t analysed = position - delay;
        bool finished = false;
        if (end_time >= 0 && position >= pulled && analysed >= pulled)
            finished = true;
        /* A sound stream may never report the last frames as heard. */
        int64_t delay_ns = 1000000000LL * (delay < 0 ? -delay : delay) / src.rate;
        if (end_time >= 0 &&
            now - end_time > 1000000000LL * out_ahead() / src.rate + 200000000 + delay_ns)
            finished = true;
        if (natural_rate) {
            /* The music's last block, filled with silence, once its frames
             * are heard. */
            int64_t upto = finished ? pulled + SPECTRUM_SAMPLES - 1
                                    : analysed < pulled ? analysed
                                    : end_time >= 0 ? pulled + SPECTRUM_SAMPLES - 1 : pulled;
            enum player_end e = hand_blocks(&next_end, upto);
            if (e != PLAYER_RUNNING)
                return e;
            if (finished || (end_time >= 0 && next_end - SPECTRUM_SAMPLES >= pulled &&
                             position >= pulled))
                return PLAYER_END_OF_SOURCE;
            continue;
        }
        if (analysed > pulled)
            analysed = pulled;
        callback(analysed);
        if (limit_reached())
            return PLAYER_FRAMES_DONE;
        if (finished)
            return PLAYER_END_OF_SOURCE;
    }
    return PLAYER_STOPPED;
}

} // namespace

void player_set_light_delay(int ms)
{
    light_delay_ms.store(ms);
}

int player_change_light_delay(int ms, char *err, size_t errlen)
{
    int limit = player_light_delay_limit_ms(src.rate);
    if (ms < 0 && src.live) {
        snprintf(err, errlen, "a negative delay looks ahead in the music: live input cannot be "
                              "seen ahead");
        return -1;
    }
    if (ms > limit || ms < -limit) {
        snprintf(err, errlen, "the player holds %d ms of music either way", limit);
        return -1;
    }
    light_delay_ms.store(ms);
    return 0;
}

int player_light_delay(void)
{
    return light_delay_ms.load();
}

void player_set_observer(void (*after)(double music_time))
{
    observer = after;
}

void player_set_fast(int on)
{
    fast = on != 0;
}

int player_light_delay_limit_ms(int rate)
{
    return rate > 0 ? (int)((RING_FRAMES - RING_SPARE) * 1000 / rate) : 0;
}

int player_prepare(const audio_source *source, VisPlugin *vp, double rate, long max_frames)
{
    int limit = player_light_delay_limit_ms(source->rate);
    int delay = light_delay_ms.load();
    if (delay > limit || delay < -limit || (delay < 0 && source->live))
        return -1;
    if (spectrum_init() != 0)
        return -1;
    src = *source;
    plugin = vp;
    const glim_host_api2 *api = vp ? plugin_api2() : nullptr;
    set_music_time = api ? api->set_music_time : nullptr;
    attached.store(vp != nullptr);
    natural_rate = rate <= 0;
    callback_rate = natural_rate ? (double)source->rate / 512.0 : rate;
    frame_limit = max_frames;
    stop_requested.store(false);
    callbacks.store(0);
    pulled = 0;
    fed = 0;
    memset(ring, 0, sizeof ring);
    return 0;
}

enum player_end player_run(void)
{
    return src.live ? run_live() : run_clocked();
}

void player_stop(void)
{
    stop_requested.store(true);
}

void player_detach_plugin(void)
{
    attached.store(false);
}

void player_wait_detached(void)
{
    pthread_mutex_lock(&call_lock);
    pthread_mutex_unlock(&call_lock);
}

long player_callbacks(void)
{
    return callbacks.load();
}

double player_rate(void)
{
    return callback_rate;
}
