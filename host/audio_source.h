/* audio_source.h -- where glimhost's music comes from: the built-in demo,
 * a sound file, or live capture from the sound server. One source is open
 * at a time; it hands out interleaved 16-bit stereo frames at its own rate. */
#ifndef HOST_AUDIO_SOURCE_H
#define HOST_AUDIO_SOURCE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Most frames one source_read call delivers. */
#define SOURCE_CHUNK 512

typedef struct {
    char name[256];    /* for messages and the status line */
    int rate;          /* frames a second, as the source holds them */
    int live;          /* 1: reads block in real time (capture) */
    /* Up to `frames` (at most SOURCE_CHUNK) stereo frames into stereo:
     * how many, 0 at the end, -1 (with a message on stderr) on an error. */
    int (*read)(int16_t *stereo, int frames);
} audio_source;

/* Open the built-in music. Always 0. */
int source_open_demo(audio_source *s);

/* Open a sound file; mono is doubled, channels beyond two are dropped.
 * 0, or -1 with a one-line reason naming the file in err. */
int source_open_file(audio_source *s, const char *path, char *err, size_t err_len);

/* Open live capture from the sound server; device NULL means the monitor
 * of the default output. 0, or -1 with a one-line reason in err. */
int source_open_capture(audio_source *s, const char *device, char *err, size_t err_len);

/* Close whatever source is open. */
void source_close(void);

#ifdef __cplusplus
}
#endif

#endif
