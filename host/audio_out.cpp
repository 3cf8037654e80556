/* audio_out.cpp -- playback through a PulseAudio simple stream, or a
 * silent clock. The sound stream's position is what was written minus the
 * stream's latency; the silent output's position is the elapsed time. A
 * small table remembers when each chunk entered the stream, for the
 * latency benchmark. */
#include "host/audio_out.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <math.h>
#include <stdio.h>

#include <atomic>

#include "loop/loop.h"

namespace {

pa_simple *stream = nullptr;   /* the sound stream, none when silent */
int out_rate = 44100;
int64_t written = 0;           /* frames handed to the output so far */
std::atomic<int64_t> last_latency{0};  /* frames, at the last position reading */

/* Silent clock: position = base_frames + elapsed since base_ns. */
int64_t base_ns = 0;
int64_t base_frames = 0;

/* Buffering of the sound stream: about 46 ms at 44.1 kHz, enough to ride
 * out a late callback, small enough to keep lights and sound together. */
const int64_t AHEAD_FRAMES = 2048;

/* When each 512-frame block entered the stream: entry_ns[(pos / 512) % N]. */
const int ENTRY_SLOTS = 256;
int64_t entry_ns[ENTRY_SLOTS];
int64_t entry_block[ENTRY_SLOTS];

void note_entry(int64_t from, int frames, int64_t now_ns)
{
    for (int64_t b = from / 512; b <= (from + frames - 1) / 512; b++) {
        if (b * 512 < from && entry_block[b % ENTRY_SLOTS] == b)
            continue;  /* block started in an earlier write */
        entry_ns[b % ENTRY_SLOTS] = now_ns;
        entry_block[b % ENTRY_SLOTS] = b;
    }
}

/* Switch to the silent clock, continuing from `position` at now_ns. */
void go_silent(int64_t position, int64_t now_ns)
{
    base_frames = position;
    base_ns = now_ns;
    if (stream) {
        pa_simple_free(stream);
        stream = nullptr;
    }
}

} // namespace

int out_open(int rate, int mute)
{
    out_rate = rate;
    written = 0;
    for (int i = 0; i < ENTRY_SLOTS; i++)
        entry_block[i] = -1;
    if (mute)
        return 0;
    pa_sample_spec sample;
    sample.format = PA_SAMPLE_S16LE;
    sample.rate = (uint32_t)rate;
    sample.channels = 2;
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = (uint32_t)(AHEAD_FRAMES * 4);
    attr.prebuf = (uint32_t)-1;
    attr.minreq = (uint32_t)-1;
    attr.fragsize = (uint32_t)-1;
    int error = 0;
    stream = pa_simple_new(nullptr, "glimhost", PA_STREAM_PLAYBACK, nullptr, "light show music",
                           &sample, nullptr, &attr, &error);
    if (!stream) {
        fprintf(stderr, "glimhost: no sound server (%s), playing silently\n", pa_strerror(error));
        return 0;
    }
    return 1;
}

void out_start(int64_t now_ns)
{
    base_ns = now_ns;
    base_frames = 0;
}

int64_t out_ahead(void)
{
    return stream ? AHEAD_FRAMES : 0;
}

void out_write(const int16_t *stereo, int frames, int64_t now_ns)
{
    int64_t entered = -1;
    if (stream) {
        int error = 0;
        if (pa_simple_write(stream, stereo, (size_t)frames * 4, &error) < 0) {
            fprintf(stderr, "glimhost: sound output failed (%s), playing silently\n",
                    pa_strerror(error));
            go_silent(written, now_ns);
        } else {
            /* in the stream once the write returns (it may wait for room) */
            entered = loop_now_ns();
        }
    }
    note_entry(written, frames, entered);
    written += frames;
}

int64_t out_position(int64_t now_ns)
{
    if (!stream) {
        int64_t elapsed = now_ns - base_ns;
        if (elapsed < 0)
            elapsed = 0;
        return base_frames + llround((double)elapsed * out_rate / 1e9);
    }
    int error = 0;
    pa_usec_t latency = pa_simple_get_latency(stream, &error);
    if (latency == (pa_usec_t)-1) {
        fprintf(stderr, "glimhost: sound output failed (%s), playing silently\n",
                pa_strerror(error));
        go_silent(written, now_ns);
        return written;
    }
    int64_t buffered = (int64_t)((double)latency * out_rate / 1e6);
    last_latency.store(buffered);
    int64_t pos = written - buffered;
    return pos < 0 ? 0 : pos;
}

int64_t out_entry_time(int64_t position)
{
    if (!stream)  /* silent: a frame enters when its time comes */
        return base_ns + (int64_t)((double)(position - base_frames) * 1e9 / out_rate);
    int64_t b = position / 512;
    if (position < 0 || entry_block[b % ENTRY_SLOTS] != b)
        return -1;
    return entry_ns[b % ENTRY_SLOTS];
}

int64_t out_buffered_frames(void)
{
    return stream ? last_latency.load() : 0;
}

int out_audible(void)
{
    return stream != nullptr;
}

void out_close(int drain)
{
    if (stream) {
        int error = 0;
        if (drain)
            pa_simple_drain(stream, &error);
        pa_simple_free(stream);
        stream = nullptr;
    }
}
