/* beat_tracker.h -- tempo, beat and bar from the spectrum of each
 * callback. Fed once per callback with the one channel of 256 bins the
 * plug-in receives and the music time of that callback; it signals a beat
 * in the callback nearest to the predicted beat, so a pattern acts on the
 * beat as it is heard, not one beat later. It counts in music time only:
 * a run gives the same beats at any speed.
 *
 * Music time of a callback: seconds, from any origin, of the moment the
 * newest sample of its spectrum is heard (for gapless 512-sample blocks,
 * the end of the block). Without a host time base the caller passes
 * callbacks so far times a measured callback period.
 *
 * All state lives in the record; beat_tracker_init allocates what it
 * needs once, beat_tracker_feed allocates nothing. Not thread-safe: one
 * thread feeds a record; copy `state` out for others. */
#ifndef GLIM_BEAT_TRACKER_H
#define GLIM_BEAT_TRACKER_H

#include <stdint.h>

/* What a pattern or a host reads; valid after every feed. */
struct beat_state {
    int locked;           /* 1 while the beat is followed with confidence */
    int beat_now;         /* 1 in the callback that signals a beat (locked only) */
    double bpm;           /* tempo followed, 0 before any; kept while unlocked */
    double confidence;    /* 0..1: how well the recent onsets fit the beat */
    double phase;         /* 0 at a beat, rising to 1 at the next */
    long beat_count;      /* beats signalled since init or reset */
    int beat_in_bar;      /* 1..beats_per_bar of the beat signalled last */
    int beats_per_bar;    /* 4, or 3 where triple time is clear */
    long bar_count;       /* first beats of a bar signalled */
    double next_beat;     /* music time of the next predicted beat, 0 unknown */
    double last_beat;     /* music time of the last beat signalled, 0 none */
};

/* Frames of onset history kept: about 11.9 s at 86 callbacks a second. */
const int BEAT_HISTORY = 1024;
/* Autocorrelation lags: four beats at 60 BPM up to about 95 callbacks a
 * second. */
const int BEAT_LAGS = 384;
/* Lags of the hats' autocorrelation: up to about half a second. */
const int BEAT_TATUM_LAGS = 48;
/* Bins of the held spectrum whose change from beat to beat tells a new
 * chord (up to 3.4 kHz). */
const int BEAT_CHORD_BINS = 40;
/* Beats whose onsets are kept for the bar and metre judgements: eight
 * bars of four. */
const int BEAT_RECORDS = 32;

/* The tracker's own bookkeeping from here on: what a caller reads is
 * `state`. */

/* The onsets heard at one followed beat and half a beat after it, by
 * band: kick (lowest bin), middle (snare, clap), high middle (snare and
 * hat noise). */
struct beat_record {
    float kick[2], mid[2], high[2];
    float change;   /* how much the harmony changed from the beat before */
};

struct beat_tracker {
    beat_state state;

    /* time base */
    double last_time;       /* music time of the previous feed */
    double period;          /* seconds between callbacks */
    long frame;             /* callbacks since reset */
    double lag_period;      /* the period the lag range was set for */

    /* onsets: aubio's spectral flux on weighted log magnitudes held under
     * a falling envelope, and the same rises summed by band */
    struct _aubio_specdesc_t *flux;
    void *spectrum;         /* aubio cvec_t of 257 magnitudes */
    void *flux_out;         /* aubio fvec_t of 1 */
    float weight[256];      /* per-bin weight: each octave counts alike */
    float envelope[256];    /* log magnitude, held and falling slowly */
    double flux_mean, flux_dev;  /* over a second and a half */
    double flux_fast;       /* mean over the last few tenths of a second */
    float onset[BEAT_HISTORY];  /* full-band onset above its mean, ring by frame */
    float kick[BEAT_HISTORY];   /* band onsets, ring by frame */
    float mid[BEAT_HISTORY];
    float high[BEAT_HISTORY];
    float recent[2 * BEAT_HISTORY];  /* flux minus its mean, newest first, written twice */
    float top_recent[2 * BEAT_HISTORY];  /* hats' onset minus its mean, the same */
    double top_mean;        /* the hats' onset mean */

    /* tempo: a decaying autocorrelation of the centred flux */
    float acf[BEAT_LAGS];
    double acf_mean[BEAT_LAGS];  /* the same as mean products, at the last search */
    float top_acf[BEAT_TATUM_LAGS];  /* the hats' autocorrelation, for the tatum */
    double decay;           /* of the autocorrelations, a frame */
    int lag_min, lag_max;   /* beat periods searched, in frames */
    double prior[BEAT_LAGS / 4];  /* the tempo prior at each of them */
    double tempo_period;    /* best period found, frames; 0 none */
    double tempo_clarity;   /* how much the best period stands out, 0..1 */
    double periodic;        /* clarity at the followed period, over a few seconds */
    int tempo_stable;       /* searches in a row that found about the same period */

    /* beat: a phase-locked loop on the predicted beats */
    int tracking;           /* a period and phase are being followed */
    double beat_period;     /* frames */
    double next_frame;      /* onset frame of the next predicted beat */
    double check_frame;     /* beat whose window waits to be measured, -1 none */
    double hit_level;       /* onset of the beats that hit, running */
    double contrast;        /* onset on the beat against the whole beat, running */
    int misses_in_row;      /* beats measured in a row without an onset */
    long beats_followed;    /* beats predicted since the grid was set */

    /* bar and metre, judged from the records of the last beats */
    beat_record record[BEAT_RECORDS];
    long record_number[BEAT_RECORDS];   /* its number, counted as beats_followed */
    long records;           /* beats recorded since the grid was set */
    float chord_sum[BEAT_CHORD_BINS];     /* held spectrum summed over this beat */
    float chord_before[BEAT_CHORD_BINS];  /* its shape over the beat before */
    int chord_frames, chord_frames_before;
    float change_of[BEAT_RECORDS];  /* change of harmony, by beat number */
    double measured_frame;  /* onset frame of the beat measured last, -1 none */
    long check_number;      /* number of the beat waiting in check_frame */
    int downbeat;           /* beats_followed % 4 (or 3) of a first beat */
    double fit[4];          /* running score of each beat as the first */
    double metre3;          /* running preference for three beats a bar */
    int shift_votes;        /* bar judgements in a row for half a beat off */
    int review_votes;       /* tempo reviews in a row that want review_period */
    double review_period;   /* frames */
    long review_after;      /* frame before which no review is made */
};

/* Fresh record: aubio's objects made, state cleared. 0, or -1 when aubio
 * cannot make them. */
int beat_tracker_init(beat_tracker *t);

/* Forget the music (after a seek or a stop); keeps aubio's objects. */
void beat_tracker_reset(beat_tracker *t);

/* Release aubio's objects. */
void beat_tracker_free(beat_tracker *t);

/* One callback: row 0 of the spectrum and the music time of the callback.
 * A time that goes back or jumps more than half a second starts afresh.
 * Returns the updated state. */
const beat_state *beat_tracker_feed(beat_tracker *t, const int16_t bins[256], double music_time);

#endif
