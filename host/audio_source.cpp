/* audio_source.cpp -- the three sources behind one read function each:
 * the demo music (rendered on demand), a file through libsndfile (read as
 * played, never loaded whole), and a PulseAudio record stream. */
#include "host/audio_source.h"

#include <pulse/error.h>
#include <pulse/simple.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host/demo_music.h"

namespace {

long demo_position = 0;          /* next demo frame */

SNDFILE *file = nullptr;         /* open sound file, or none */
int file_channels = 0;
short *file_buffer = nullptr;    /* one chunk in the file's own channel layout */

pa_simple *capture = nullptr;    /* open record stream, or none */
const int CAPTURE_RATE = 44100;

int demo_read(int16_t *stereo, int frames)
{
    demo_music_render(demo_position, stereo, frames);
    demo_position += frames;
    return frames;
}

int file_read(int16_t *stereo, int frames)
{
    sf_count_t got = sf_readf_short(file, file_buffer, frames);
    if (got < 0)
        return -1;
    for (sf_count_t i = 0; i < got; i++) {
        const short *f = file_buffer + i * file_channels;
        stereo[2 * i] = f[0];
        stereo[2 * i + 1] = file_channels > 1 ? f[1] : f[0];
    }
    if (got == 0 && sf_error(file) != SF_ERR_NO_ERROR) {
        fprintf(stderr, "glimhost: reading: %s\n", sf_strerror(file));
        return -1;
    }
    return (int)got;
}

int capture_read(int16_t *stereo, int frames)
{
    int error = 0;
    if (pa_simple_read(capture, stereo, (size_t)frames * 4, &error) < 0) {
        fprintf(stderr, "glimhost: capture: %s\n", pa_strerror(error));
        return -1;
    }
    return frames;
}

} // namespace

int source_open_demo(audio_source *s)
{
    memset(s, 0, sizeof *s);
    snprintf(s->name, sizeof s->name, "demo music");
    s->rate = DEMO_MUSIC_RATE;
    s->read = demo_read;
    demo_position = 0;
    return 0;
}

int source_open_file(audio_source *s, const char *path, char *err, size_t err_len)
{
    memset(s, 0, sizeof *s);
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE *f = sf_open(path, SFM_READ, &info);
    if (!f) {
        /* libsndfile's text sometimes ends in a newline; keep one line. */
        char reason[200];
        snprintf(reason, sizeof reason, "%s", sf_strerror(nullptr));
        reason[strcspn(reason, "\n")] = '\0';
        snprintf(err, err_len, "cannot play \"%s\": %s", path, reason);
        return -1;
    }
    if (info.channels < 1 || info.channels > 64 || info.samplerate < 1000 ||
        info.samplerate > 768000) {
        snprintf(err, err_len, "cannot play \"%s\": %d channels at %d Hz is not supported",
                 path, info.channels, info.samplerate);
        sf_close(f);
        return -1;
    }
    file_buffer = (short *)malloc(sizeof(short) * SOURCE_CHUNK * info.channels);
    if (!file_buffer) {
        snprintf(err, err_len, "cannot play \"%s\": out of memory", path);
        sf_close(f);
        return -1;
    }
    file = f;
    file_channels = info.channels;
    snprintf(s->name, sizeof s->name, "%s", path);
    s->rate = info.samplerate;
    s->read = file_read;
    return 0;
}

int source_open_capture(audio_source *s, const char *device, char *err, size_t err_len)
{
    memset(s, 0, sizeof *s);
    const char *dev = device ? device : "@DEFAULT_MONITOR@";
    pa_sample_spec sample;
    sample.format = PA_SAMPLE_S16LE;
    sample.rate = CAPTURE_RATE;
    sample.channels = 2;
    /* Small fragments: each read returns one callback's worth promptly. */
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = (uint32_t)-1;
    attr.prebuf = (uint32_t)-1;
    attr.minreq = (uint32_t)-1;
    attr.fragsize = SOURCE_CHUNK * 4;
    int error = 0;
    capture = pa_simple_new(nullptr, "glimhost", PA_STREAM_RECORD, dev, "light show input",
                            &sample, nullptr, &attr, &error);
    if (!capture) {
        snprintf(err, err_len, "cannot capture from \"%s\": %s", dev, pa_strerror(error));
        return -1;
    }
    snprintf(s->name, sizeof s->name, "capture %s", dev);
    s->rate = CAPTURE_RATE;
    s->live = 1;
    s->read = capture_read;
    return 0;
}

void source_close(void)
{
    if (file) {
        sf_close(file);
        file = nullptr;
    }
    free(file_buffer);
    file_buffer = nullptr;
    if (capture) {
        pa_simple_free(capture);
        capture = nullptr;
    }
}
