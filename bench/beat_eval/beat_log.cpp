/* beat_log.cpp -- the beat tracker on a sound file, as the plug-in will
 * hear it: the file cut into consecutive 512-frame blocks (every sample
 * analysed once; the last block filled with silence), each block's
 * spectrum computed as the host computes it, fed to the tracker with the
 * music time of the block's end. Writes one line per beat it signals:
 *
 *   music_time_seconds tempo confidence beat_in_bar
 *
 *   beat_log IN.wav OUT.txt [--trace TRACE.txt]
 *
 * --trace writes every callback's state as well (time, locked, tempo,
 * confidence, phase, onset strength, tempo clarity, periodicity at the
 * followed tempo, beat contrast, tempo the comb found, following, beat),
 * for looking into a piece by hand. */
#include <sndfile.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "beat_tracker.h"
#include "host/fft_bins.h"

int main(int argc, char **argv)
{
    if (argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        printf("usage: beat_log IN.wav OUT.txt [--trace TRACE.txt]\n");
        return 0;
    }
    const char *trace_path = nullptr;
    if (argc == 5 && !strcmp(argv[3], "--trace"))
        trace_path = argv[4];
    else if (argc != 3) {
        fprintf(stderr, "usage: beat_log IN.wav OUT.txt [--trace TRACE.txt]\n");
        return 2;
    }
    SF_INFO info{};
    SNDFILE *in = sf_open(argv[1], SFM_READ, &info);
    if (!in) {
        fprintf(stderr, "beat_log: %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    FILE *out = fopen(argv[2], "w");
    FILE *trace = trace_path ? fopen(trace_path, "w") : nullptr;
    if (!out || (trace_path && !trace)) {
        perror("beat_log: output");
        return 1;
    }
    beat_tracker tracker;
    if (spectrum_init() < 0 || beat_tracker_init(&tracker) < 0) {
        fprintf(stderr, "beat_log: cannot set up the analysis\n");
        return 1;
    }
    int channels = info.channels;
    std::vector<short> raw((size_t)SPECTRUM_SAMPLES * channels);
    int16_t stereo[SPECTRUM_SAMPLES * 2];
    int16_t freq[2][SPECTRUM_BINS];
    long blocks = 0;
    for (;;) {
        sf_count_t got = sf_readf_short(in, raw.data(), SPECTRUM_SAMPLES);
        if (got <= 0)
            break;
        for (int n = 0; n < SPECTRUM_SAMPLES; n++) {
            bool have = n < got;
            stereo[2 * n] = have ? raw[(size_t)n * channels] : 0;
            stereo[2 * n + 1] = have ? raw[(size_t)n * channels + (channels > 1)] : 0;
        }
        spectrum_compute(stereo, 1, freq);
        blocks++;
        double now = (double)blocks * SPECTRUM_SAMPLES / info.samplerate;
        const beat_state *s = beat_tracker_feed(&tracker, freq[0], now);
        if (s->beat_now)
            fprintf(out, "%.6f %.2f %.3f %d\n", now, s->bpm, s->confidence, s->beat_in_bar);
        if (trace)
            fprintf(trace, "%.6f %d %.2f %.3f %.3f %.4f %.3f %.3f %.2f %.2f %d %d\n", now, s->locked, s->bpm,
                    s->confidence, s->phase, tracker.onset[(tracker.frame - 1) % BEAT_HISTORY],
                    tracker.tempo_clarity, tracker.periodic, tracker.contrast,
                    tracker.tempo_period > 0 ? 60.0 / (tracker.tempo_period * tracker.period) : 0.0,
                    tracker.tracking, s->beat_now);
        if (got < SPECTRUM_SAMPLES)
            break;
    }
    sf_close(in);
    beat_tracker_free(&tracker);
    fclose(out);
    if (trace)
        fclose(trace);
    return 0;
}
