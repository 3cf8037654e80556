/* audio_out.h -- where glimhost's music goes: a PulseAudio playback
 * stream when a server is reachable, otherwise (or with --mute) a silent
 * output that "plays" in real time by the clock. Either way it says how
 * far playback has got, so the analysis follows what is heard. */
#ifndef HOST_AUDIO_OUT_H
#define HOST_AUDIO_OUT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Open the output for stereo 16-bit frames at `rate`. With mute 0 try the
 * sound server and fall back to silence (with a line on stderr saying
 * why). Returns 1 for sound, 0 for silence. */
int out_open(int rate, int mute);

/* Start the clock: playback position 0 is `now_ns` (loop_now_ns). */
void out_start(int64_t now_ns);

/* Frames to keep written ahead of the playback position (the stream's
 * own buffering); 0 for the silent output. */
int64_t out_ahead(void);

/* Hand `frames` frames to the output. The silent output discards them.
 * A sound stream that fails turns into the silent output from then on. */
void out_write(const int16_t *stereo, int frames, int64_t now_ns);

/* Frames heard so far, at time now_ns. */
int64_t out_position(int64_t now_ns);

/* Time (loop_now_ns) at which the frame at `position` entered the
 * playback stream, for latency measurements; -1 when no longer known. */
int64_t out_entry_time(int64_t position);

/* The stream's own latency (buffer and device) at the last position
 * reading, in frames; 0 when silent. Safe from any thread. */
int64_t out_buffered_frames(void);

/* 1 while the sound stream plays, 0 when silent. */
int out_audible(void);

/* Let the stream play out what it holds (sound only), then close it. */
void out_close(int drain);

#ifdef __cplusplus
}
#endif

#endif
