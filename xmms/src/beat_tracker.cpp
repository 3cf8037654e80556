/* beat_tracker.cpp -- tempo, beat and bar from one spectrum a callback.
 *
 * Onsets: aubio's spectral flux on log magnitudes held under a falling
 * envelope (a held tone's bins wobble from block to block; only a rise
 * above the envelope counts), each bin weighted so that every octave
 * counts alike; the same rises summed by band give a kick, a middle, a
 * high and a hats' onset.
 *
 * Tempo: a decaying autocorrelation of the flux, searched with a comb
 * (half a beat to four beats) and a gentle preference for moderate tempi,
 * for beats of one, two or four of the hats' pulse. The octave (and a
 * tempo change) is settled by scoring the candidates on what was heard:
 * the comb, the preference, and the backbeat (a kick followed a beat later
 * by a snare, a snare by a kick), which only the right octave has.
 *
 * Beat: a phase-locked loop predicts the next beat, measures where the
 * onsets really came round it and pulls phase and period towards them;
 * where they do not come but the music still pulses at the period (a
 * breakdown) it coasts on its prediction.
 *
 * Bar: the onsets of the last bars on and between the beats against a bar
 * of four (a kick on the first beat, snares on the second and fourth) or
 * of three, and the change of harmony from beat to beat (a new chord with
 * a new bar); the same fit moves the beat by half a beat where the snares
 * keep landing between the beats.
 *
 * Everything runs in frames (callbacks); music time only converts. */
#include "beat_tracker.h"

#include <aubio/aubio.h>
#include <algorithm>
#include <math.h>
#include <string.h>

namespace {

const double BPM_MIN = 60.0, BPM_MAX = 190.0;
const double BPM_CENTRE = 120.0, BPM_SPREAD_OCTAVES = 1.0;
const double ACF_SECONDS = 2.5;      /* memory of the autocorrelation */
const double MEAN_SECONDS = 1.5;     /* memory of the onset levels */
const int COMB_EVERY = 4;            /* frames between tempo searches */
const double ACQUIRE_SECONDS = 1.8;  /* music heard before a first guess */
const int STABLE_ROUNDS = 6;         /* ... and searches that agree on it */
const double CLARITY_ACQUIRE = 0.25; /* comb peak a guess needs */
const double PHASE_SECONDS = 4.0;    /* onsets a phase search looks back on */
const double CHANGE_SECONDS = 2.5;   /* ... after a change of tempo */
const double WINDOW = 0.2;           /* half-width of a beat's window, beats */
const double PULL_PHASE = 0.5, PULL_PERIOD = 0.15;
const double HIT_LEVEL = 1.0;        /* onset peak, in deviations, that counts */
const double HIT_SHARE = 0.35;       /* ... and against the beats that hit before */
const double ONSET_LAG_FRAMES = 0.8; /* a flux peak comes this late after the onset */
const double LOCK_ON = 0.55, LOCK_OFF = 0.3;
/* Music has a beat where the comb stands out at the followed period, or
 * where the onsets on the beats stand well above those between (a tempo
 * that keeps changing blurs the comb but not the beats). */
const double PERIODIC_LOCK = 0.25, PERIODIC_HOLD = 0.2;
const double CONTRAST_LOCK = 8.0, CONTRAST_HOLD = 6.0;
const double SILENT_FLUX = 0.05;     /* below this mean flux nothing is acquired */
const float ENVELOPE_FALL = 0.15f;   /* log2 units a frame, about 0.9 dB */
const int BACKBEAT_BEATS = 9;        /* beats a backbeat needs to count in full */
const double BACKBEAT_CHANCE = 0.2;  /* a backbeat this weak is as likely chance */
const double BACKBEAT_FLOOR = 0.5;   /* least spread of a band, of its mean */
const double ACQUIRE_CLOSE = 0.5;    /* octaves this close wait for the backbeat ... */
const double ACQUIRE_LATEST_SECONDS = 3.2;  /* ... but not longer than this */
const double LEVEL_MARGIN = 0.3;     /* another tempo must explain the music better by this */
const int REVIEW_EVERY = 16;         /* frames between reviews of the tempo */
const int REVIEW_VOTES = 5;          /* ... and reviews in a row that want the same change */
const double REVIEW_HOLD_SECONDS = 3.0;  /* no review so soon after a change */
const double SHIFT_BACKBEAT = 0.8;   /* snares alternating between the beats, to move half a beat */
const int SHIFT_VOTES = 2;           /* ... on this many bar judgements in a row */
const double KICK_WEIGHT = 0.4;      /* kick against snare in the bar fit */
const double CHANGE_WEIGHT = 1.0;    /* change of harmony in it */
const double METRE_MARGIN = 1.3;     /* three a bar must differ this much more */
const double TATUM_CLARITY = 0.1;    /* hats' pulse that counts */
const double TATUM_PENALTY = 0.5;    /* a beat that is no whole number of it */

/* Bands of the rises: bin 0 (86 Hz, kick and bass), 16..95 (snare, clap,
 * chords), 48..127 (snare and hat noise), 96..255 (hats and cymbals). */
enum { BAND_KICK, BAND_NONE, BAND_MID_ONLY, BAND_MID_HIGH, BAND_HIGH_TOP, BAND_TOP, BANDS };

/* Four floats at a time: GCC and Clang turn these into SSE or NEON
 * instructions (and into plain code elsewhere). The bins and the
 * autocorrelation are most of a callback's work. */
typedef float float4 __attribute__((vector_size(16)));
typedef int32_t int4 __attribute__((vector_size(16)));
typedef int16_t short4 __attribute__((vector_size(8)));

inline float4 load4(const float *p)
{
    float4 v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float *p, float4 v) { memcpy(p, &v, sizeof v); }

inline float4 max4(float4 a, float4 b)
{
    int4 a_wins = a > b;
    return (float4)(((int4)a & a_wins) | ((int4)b & ~a_wins));
}

/* log2(1 + x) of four values to about 0.01, without libm: the spectrum
 * takes 256 of them a callback. */
inline float4 log2p1_4(float4 x)
{
    int4 i = (int4)(x + 1.0f);
    float4 e = __builtin_convertvector((i >> 23) - 127, float4);
    float4 m = (float4)((i & 0x7FFFFF) | 0x3F800000);
    return e + (-0.34484843f * m + 2.02466578f) * m - 0.67487759f;
}

cvec_t *spectrum_of(beat_tracker *t) { return static_cast<cvec_t *>(t->spectrum); }
fvec_t *flux_out_of(beat_tracker *t) { return static_cast<fvec_t *>(t->flux_out); }

inline int ring(long frame) { return (int)(frame & (BEAT_HISTORY - 1)); }

double bpm_of(const beat_tracker *t, double lag) { return 60.0 / (lag * t->period); }

double prior(const beat_tracker *t, double lag)
{
    double o = log2(bpm_of(t, lag) / BPM_CENTRE) / BPM_SPREAD_OCTAVES;
    return exp(-0.5 * o * o);
}

bool in_range(const beat_tracker *t, double lag)
{
    double bpm = bpm_of(t, lag);
    return bpm >= BPM_MIN && bpm <= BPM_MAX;
}

/* Pearson correlation of n pairs, each side's spread counted at least as
 * `floor_a`, `floor_b` (so that runs of near silence, whose tiny wobbles
 * correlate by chance, say little); 0 where neither varies. */
double correlation(const float *a, const float *b, int n, double floor_a, double floor_b)
{
    double ma = 0, mb = 0;
    for (int i = 0; i < n; i++) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < n; i++) {
        double x = a[i] - ma, y = b[i] - mb;
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    aa += n * floor_a * floor_a;
    bb += n * floor_b * floor_b;
    return aa > 1e-12 && bb > 1e-12 ? ab / sqrt(aa * bb) : 0.0;
}

double correlation(const float *a, const float *b, int n)
{
    return correlation(a, b, n, 0.0, 0.0);
}

/* Backbeat of a run of beats: how much a kick predicts a snare one beat
 * later and a snare a kick. About 0 for music without one, and below for
 * a tempo twice or half the real one. A band that hardly changes from
 * beat to beat (a kick on every beat) says nothing: each side's spread
 * counts as at least BACKBEAT_FLOOR of its mean. */
double backbeat(const float *kick, const float *snare, int n)
{
    if (n < 5)
        return 0.0;
    double km = 0, sm = 0;
    for (int i = 0; i < n; i++) {
        km += kick[i];
        sm += snare[i];
    }
    double fk = BACKBEAT_FLOOR * km / n, fs = BACKBEAT_FLOOR * sm / n;
    return correlation(kick, snare + 1, n - 1, fk, fs) + correlation(snare, kick + 1, n - 1, fs, fk);
}

/* Largest value of a ring near a fractional frame, 0 outside what is
 * kept. */
float sample(const float *r, const beat_tracker *t, double at)
{
    long c = lround(at);
    float v = 0.0f;
    for (long f = c - 1; f <= c + 1; f++)
        if (f >= 0 && f < t->frame && f > t->frame - BEAT_HISTORY && r[ring(f)] > v)
            v = r[ring(f)];
    return v;
}

/* The autocorrelation as a mean product over the frames each lag has
 * seen, so that early on the long lags are not starved. */
void mean_products(beat_tracker *t)
{
    double decay = t->decay;
    int top = 4 * t->lag_max + 2;
    /* Once every lag has seen enough frames, decay^seen is below half an
     * ulp of 1 and the divisor is exactly 1: one product a lag, no pow. */
    if ((double)(t->frame - top) * -log(decay) > 40.0) {
        for (int lag = top; lag >= 0; lag--)
            t->acf_mean[lag] = t->acf[lag] * (1.0 - decay);
        return;
    }
    double p = pow(decay, (double)(t->frame - top));  /* decay^(frames seen at top) */
    for (int lag = top; lag >= 0; lag--) {
        t->acf_mean[lag] = t->frame > lag ? t->acf[lag] * (1.0 - decay) / (1.0 - p) : 0.0;
        p *= decay;
    }
}

/* Comb of up to four beats at a fractional lag, against the energy. */
double comb(const beat_tracker *t, double lag)
{
    const double *acf = t->acf_mean;
    if (acf[0] <= 1e-9 || lag < 2)
        return 0.0;
    /* Half a beat too: the beat's own subdivision repeats as well, a
     * dotted value's does not. */
    static const double multiple[5] = {0.5, 1, 2, 3, 4};
    double sum = 0.0;
    int n = 0;
    for (double k : multiple) {
        long at = (long)(k * lag + 0.5);
        if (at < 1)
            continue;
        if (at + 1 >= 4 * t->lag_max + 2 || at + 1 > t->frame - lag)
            break;
        double a = acf[at];
        a = acf[at - 1] > a ? acf[at - 1] : a;
        a = acf[at + 1] > a ? acf[at + 1] : a;
        sum += a;
        n++;
    }
    return n ? sum / n / acf[0] : 0.0;
}

/* The hats' pulse (eighths or sixteenths, sometimes the beat): the
 * strongest lag of their autocorrelation from 0.1 to 0.45 s, 0 where it
 * does not stand out. */
double tatum(const beat_tracker *t)
{
    const float *a = t->top_acf;
    if (a[0] <= 1e-9)
        return 0.0;
    int first = std::max(1, (int)(0.1 / t->period)), last = std::min(BEAT_TATUM_LAGS - 2, (int)(0.45 / t->period));
    int best = 0;
    for (int lag = first; lag <= last; lag++)
        if (a[lag] > a[lag - 1] && a[lag] >= a[lag + 1] && (!best || a[lag] > a[best]))
            best = lag;
    if (!best || a[best] < TATUM_CLARITY * a[0])
        return 0.0;
    double den = a[best - 1] - 2 * a[best] + a[best + 1];
    double shift = den < 0 ? 0.5 * (a[best - 1] - a[best + 1]) / den : 0.0;
    return best + (shift > 0.5 || shift < -0.5 ? 0.0 : shift);
}

/* A beat of one, two or four tatums: not the dotted values a syncopated
 * pattern repeats at (three sixteenths), which the comb alone may take
 * for the beat. */
double tatum_fit(double lag, double pulse)
{
    if (pulse <= 0.0)
        return 1.0;
    double r = lag / pulse;
    for (double k = 1.0; k <= 4.0; k *= 2.0)
        if (fabs(r / k - 1.0) < 0.06)
            return 1.0;
    return TATUM_PENALTY;
}

/* Best beat period in frames by the comb and the prior; sets
 * tempo_period and tempo_clarity. */
void search_tempo(beat_tracker *t)
{
    mean_products(t);
    t->tempo_clarity = 0.0;
    if (t->acf_mean[0] <= 1e-9)
        return;
    double pulse = tatum(t);
    double best = -1e9, best_clarity = 0.0;
    int best_lag = 0;
    for (int lag = t->lag_min; lag <= t->lag_max; lag++) {
        double clarity = comb(t, lag);
        double score = clarity * t->prior[lag] * tatum_fit(lag, pulse);
        if (score > best) {
            best = score;
            best_lag = lag;
            best_clarity = clarity;
        }
    }
    if (!best_lag || best_clarity <= 0.0)
        return;
    /* The peak nearest a multiple of the lag, interpolated, gives the
     * period to a fraction of a frame. */
    const double *acf = t->acf_mean;
    int k = 4;
    while (k > 1 && (k * best_lag + 2 >= 4 * t->lag_max + 2 || k * best_lag + 2 > t->frame - best_lag))
        k--;
    int peak = k * best_lag;
    for (int d = -(k - 1); d <= k - 1; d++)
        if (acf[k * best_lag + d] > acf[peak])
            peak = k * best_lag + d;
    double y0 = acf[peak - 1], y1 = acf[peak], y2 = acf[peak + 1];
    double den = y0 - 2 * y1 + y2, shift = den < 0 ? 0.5 * (y0 - y2) / den : 0.0;
    if (shift > 0.5 || shift < -0.5)
        shift = 0.0;
    t->tempo_period = (peak + shift) / k;
    t->tempo_clarity = best_clarity;
}

/* Phase for `period`: the train of frames, one period apart and ending
 * within the last period, that holds the most of ring `r`. Returns the
 * frame of the newest beat of that train. */
double search_phase(const beat_tracker *t, const float *r, double period, double seconds)
{
    long span = (long)(seconds / t->period);
    if (span > t->frame)
        span = t->frame;
    if (span > BEAT_HISTORY - 2)
        span = BEAT_HISTORY - 2;
    double best = -1.0;
    int best_back = 0;
    for (int back = 0; back < (int)ceil(period); back++) {
        double sum = 0.0;
        for (double at = back; at < span; at += period)
            sum += r[ring(t->frame - 1 - (long)(at + 0.5))];
        if (sum > best) {
            best = sum;
            best_back = back;
        }
    }
    return (double)(t->frame - 1 - best_back);
}

/* Backbeat of the beats heard so far on a grid ending at `last`. */
double backbeat_heard(const beat_tracker *t, double period, double last)
{
    /* Few beats say little: weigh the backbeat by how many were heard. */
    float kick[64], snare[64];
    int n = 0;
    for (double at = last; n < 64 && at - 2 > t->frame - BEAT_HISTORY && at > 1; at -= period) {
        kick[n] = sample(t->kick, t, at);
        snare[n] = sample(t->high, t, at);
        n++;
    }
    double weight = n < 5 ? 0.0 : n >= BACKBEAT_BEATS ? 1.0 : (n - 4.0) / (BACKBEAT_BEATS - 4.0);
    double b = weight * backbeat(kick, snare, n);
    return b > BACKBEAT_CHANCE ? b - BACKBEAT_CHANCE : b < -BACKBEAT_CHANCE ? b + BACKBEAT_CHANCE : 0.0;
}

void clear_bar(beat_tracker *t)
{
    t->records = 0;
    t->measured_frame = -1.0;
    t->downbeat = 0;
    memset(t->fit, 0, sizeof t->fit);
    t->shift_votes = 0;
}

/* Follow `period` from the beat at frame `last`. */
void start_grid(beat_tracker *t, double period, double last)
{
    t->tracking = 1;
    t->beat_period = period;
    t->next_frame = last + period;
    t->beats_followed = 1;
    while (t->next_frame - ONSET_LAG_FRAMES < (double)t->frame - 0.5) {
        t->next_frame += period;
        t->beats_followed++;
    }
    t->check_frame = -1.0;
    t->misses_in_row = 0;
    clear_bar(t);
}

bool beating(const beat_tracker *t, double periodic, double contrast)
{
    return t->periodic >= periodic || t->contrast >= contrast;
}

void set_locked(beat_tracker *t)
{
    double c = t->state.confidence;
    if (!t->state.locked && c >= LOCK_ON && beating(t, PERIODIC_LOCK, CONTRAST_LOCK))
        t->state.locked = 1;
    else if (t->state.locked && (c < LOCK_OFF || !beating(t, PERIODIC_HOLD, CONTRAST_HOLD)))
        t->state.locked = 0;
}

/* The onset `peak` on a beat at frame `at` against the mean onset over
 * the whole beat round it. */
double beat_contrast(const beat_tracker *t, double at, double period, double peak)
{
    double sum = 0.0;
    int n = 0;
    for (long g = (long)(at - 0.5 * period); g < (long)(at + 0.5 * period); g++)
        if (g >= 0 && g < t->frame && g > t->frame - BEAT_HISTORY) {
            sum += t->onset[ring(g)];
            n++;
        }
    return n && sum > 1e-9 ? peak / (sum / n) : 0.0;
}

/* How well following `period` from the beat at frame `last` explains
 * what was heard: the comb and the prior say how periodic the music is at
 * that period, the backbeat whether it is the beat rather than twice or
 * half of it. */
double hypothesis(const beat_tracker *t, double period, double last)
{
    double c = comb(t, period);
    return log((c > 1e-3 ? c : 1e-3) * prior(t, period)) + backbeat_heard(t, period, last);
}

/* First guess: the period the comb found or an octave of it, each on the
 * phase that holds the most snare and chord onsets. */
void acquire(beat_tracker *t, double confidence)
{
    double base = t->tempo_period, best_score = -1e9, second = -1e9, best_period = 0, best_last = 0, fastest = 0;
    const double octave[3] = {1.0, 0.5, 2.0};
    for (double o : octave) {
        double period = base * o;
        if (!in_range(t, period))
            continue;
        double last = search_phase(t, t->mid, period, PHASE_SECONDS);
        double score = hypothesis(t, period, last);
        if (score > best_score) {
            second = best_score;
            best_score = score;
            best_period = period;
            best_last = last;
        } else if (score > second) {
            second = score;
        }
        if (fastest == 0 || period < fastest)
            fastest = period;
    }
    if (best_period <= 0)
        return;
    /* Octaves that explain the music about as well: wait (a little)
     * until the faster one has had beats enough for its backbeat. */
    if (best_score - second < ACQUIRE_CLOSE && t->frame * t->period < ACQUIRE_LATEST_SECONDS &&
        t->frame < BACKBEAT_BEATS * fastest)
        return;
    start_grid(t, best_period, best_last);
    t->hit_level = 0.0;
    t->state.confidence = confidence;
    t->periodic = comb(t, best_period);
    /* The contrast of the beats heard so far on this grid. */
    double sum = 0.0;
    int n = 0;
    for (double at = best_last - best_period; n < 4 && at - best_period > t->frame - BEAT_HISTORY && at > best_period;
         at -= best_period, n++)
        sum += beat_contrast(t, at, best_period, sample(t->onset, t, at));
    t->contrast = n ? sum / n : 0.0;
    /* Beats already heard standing well out on this grid: follow them
     * from the next one on. */
    if (t->contrast >= CONTRAST_LOCK && t->state.confidence < LOCK_ON)
        t->state.confidence = LOCK_ON;
    set_locked(t);
}

/* Now and then while following: would twice or half the tempo, or the
 * comb's own period where it is another, explain the music clearly
 * better? Switch after a few reviews that agree. */
void review_tempo(beat_tracker *t, long f)
{
    /* Every other period is judged on two phases, as this one is (on the
     * grid followed now and half a beat off), so that none is favoured by
     * having more chances: twice the tempo on the grid and on the phase
     * that holds the most snare and chord onsets, half the tempo on
     * either half of the grid. Moving half a beat at this tempo is left
     * to the bar fit: a backbeat says little about it where a kick falls
     * on every beat. */
    double P = t->beat_period, last = t->next_frame - P;
    double here = hypothesis(t, P, last), off = hypothesis(t, P, last - P / 2);
    double best = (here > off ? here : off) + LEVEL_MARGIN, best_period = 0.0, best_last = 0.0;
    struct { double period, last; } other[6];
    int n = 0;
    if (in_range(t, P / 2)) {
        other[n++] = {P / 2, last};
        other[n++] = {P / 2, search_phase(t, t->mid, P / 2, PHASE_SECONDS)};
    }
    if (in_range(t, 2 * P)) {
        other[n++] = {2 * P, last};
        other[n++] = {2 * P, last - P};
    }
    double r = t->tempo_period / P;
    if (t->tempo_period > 0.0 && t->tempo_clarity >= CLARITY_ACQUIRE &&
        fabs(r - 1.0) > 0.06 && fabs(r - 2.0) > 0.12 && fabs(r - 0.5) > 0.03) {
        /* A new tempo: its phase from the onsets since the change (the
         * backbeat reaches back too far to tell). */
        double q = t->tempo_period;
        other[n++] = {q, search_phase(t, t->mid, q, CHANGE_SECONDS)};
    }
    for (int i = 0; i < n; i++) {
        double score = hypothesis(t, other[i].period, other[i].last);
        if (score > best) {
            best = score;
            best_period = other[i].period;
            best_last = other[i].last;
        }
    }
    bool same = best_period > 0.0 && t->review_period > 0.0 && fabs(best_period / t->review_period - 1.0) < 0.04;
    t->review_votes = same ? t->review_votes + 1 : best_period > 0.0 ? 1 : 0;
    t->review_period = best_period;
    if (t->review_votes >= REVIEW_VOTES) {
        start_grid(t, best_period, best_last);
        t->review_votes = 0;
        t->review_period = 0.0;
        t->review_after = f + (long)(REVIEW_HOLD_SECONDS / t->period);
        if (t->state.confidence > 0.6)
            t->state.confidence = 0.6;
    }
}

/* The kick and snare of the last `n` records by place in a bar of
 * `per_bar` beats (two slots a beat: on the beat and half a beat after),
 * the place counted from beat number 0. */
void bar_profile(const beat_tracker *t, int n, int per_bar, float *kick, float *mid, float *high)
{
    int slots = 2 * per_bar;
    int count[8] = {0};
    for (int s = 0; s < slots; s++)
        kick[s] = mid[s] = high[s] = 0.0f;
    long first = t->records - n;
    for (long r = first; r < t->records; r++) {
        const beat_record &b = t->record[r % BEAT_RECORDS];
        long number = t->record_number[r % BEAT_RECORDS];
        int place = (int)((number % per_bar + per_bar) % per_bar);
        for (int h = 0; h < 2; h++) {
            int s = 2 * place + h;
            kick[s] += b.kick[h];
            mid[s] += b.mid[h];
            high[s] += b.high[h];
            count[s]++;
        }
    }
    for (int s = 0; s < slots; s++)
        if (count[s]) {
            kick[s] /= count[s];
            mid[s] /= count[s];
            high[s] /= count[s];
        }
}

/* How well the profile fits a bar starting `rotation` slots in: a kick on
 * the first beat (less on the third of four), snares on the backbeats. */
double bar_fit(const float *kick, const float *mid, int per_bar, int rotation)
{
    static const float kick4[8] = {1, 0, 0, 0, 0.5f, 0, 0, 0}, snare4[8] = {0, 0, 1, 0, 0, 0, 1, 0};
    static const float kick3[6] = {1, 0, 0, 0, 0, 0}, snare3[6] = {0, 0, 1, 0, 1, 0};
    int slots = 2 * per_bar;
    float k[8], m[8];
    for (int s = 0; s < slots; s++) {
        k[s] = kick[(s + rotation) % slots];
        m[s] = mid[(s + rotation) % slots];
    }
    const float *tk = per_bar == 4 ? kick4 : kick3, *tm = per_bar == 4 ? snare4 : snare3;
    return KICK_WEIGHT * correlation(k, tk, slots) + correlation(m, tm, slots);
}

/* Move the predicted beats by half a beat, keeping the period. */
void shift_half(beat_tracker *t, long f)
{
    double half = 0.5 * t->beat_period;
    if (t->next_frame - half - ONSET_LAG_FRAMES >= f + 0.5)
        t->next_frame -= half;
    else
        t->next_frame += half;
    t->check_frame = -1.0;
    clear_bar(t);
}

/* The change of harmony at each place of a bar of `per_bar` beats, over
 * the last `n` records. */
void place_changes(const beat_tracker *t, int n, int per_bar, float *change)
{
    int count[4] = {0};
    for (int d = 0; d < per_bar; d++)
        change[d] = 0.0f;
    for (long r = t->records - n; r < t->records; r++) {
        const beat_record &b = t->record[r % BEAT_RECORDS];
        int place = (int)(t->record_number[r % BEAT_RECORDS] % per_bar);
        change[place] += b.change;
        count[place]++;
    }
    for (int d = 0; d < per_bar; d++)
        if (count[d])
            change[d] /= count[d];
}

/* How much the kick, the snare and the change of harmony on the beats
 * differ from place to place in a bar of `per_bar`: each band's largest
 * difference against its mean, summed. */
double place_spread(const beat_tracker *t, int n, int per_bar)
{
    double sum[3][4] = {}, count[4] = {};
    for (long r = t->records - n; r < t->records; r++) {
        const beat_record &b = t->record[r % BEAT_RECORDS];
        int place = (int)(t->record_number[r % BEAT_RECORDS] % per_bar);
        sum[0][place] += b.kick[0];
        sum[1][place] += b.mid[0];
        sum[2][place] += b.change;
        count[place]++;
    }
    double spread = 0.0;
    for (int band = 0; band < 3; band++) {
        double lo = 1e30, hi = 0.0, mean = 0.0;
        for (int d = 0; d < per_bar; d++) {
            double v = count[d] ? sum[band][d] / count[d] : 0.0;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
            mean += v / per_bar;
        }
        if (mean > 1e-9)
            spread += (hi - lo) / mean;
    }
    return spread;
}

/* Judgements on the records of the last beats: half a beat of phase, the
 * metre and the bar's first beat. */
void judge_bar(beat_tracker *t, long f)
{
    int n = t->records < BEAT_RECORDS ? (int)t->records : BEAT_RECORDS;
    if (n < 8)
        return;
    /* Bar fit of four over the last four bars, on the beats and half a
     * beat off; the metre against a fit of three. */
    int m4 = n >= 16 ? 16 : n - n % 4, m3 = n >= 15 ? 15 : n - n % 3;
    float kick[8], mid[8], high[8];
    bar_profile(t, m4, 4, kick, mid, high);
    double on = -1e9, off = -1e9, score[4];
    for (int r = 0; r < 8; r++) {
        double s = bar_fit(kick, mid, 4, r);
        if (r % 2 == 0) {
            score[r / 2] = s;
            on = s > on ? s : on;
        } else {
            off = s > off ? s : off;
        }
    }
    /* Snares alternating between the beats (2 and 4 half a beat off)
     * while the beats themselves carry no such pattern: the beat is half a
     * beat away. Held pads and basses between the beats alternate with
     * nothing, so a breakdown does not move the beat. */
    double level = 0;
    for (int s = 0; s < 8; s++)
        level += high[s];
    level = level / 8 + 1e-9;
    double alt_on = fabs(high[2] + high[6] - high[0] - high[4]) / level;
    double alt_off = fabs(high[3] + high[7] - high[1] - high[5]) / level;
    if (off > on && alt_off > alt_on + SHIFT_BACKBEAT) {
        if (++t->shift_votes >= SHIFT_VOTES) {
            shift_half(t, f);
            return;
        }
    } else {
        t->shift_votes = 0;
    }

    /* The metre: the places of a bar of three or of four at which the
     * kick, the snare and the harmony differ most from place to place. */
    double spread3 = place_spread(t, m3, 3), spread4 = place_spread(t, m4, 4);
    t->metre3 += 0.2 * ((spread3 > METRE_MARGIN * spread4 ? 1.0 : spread4 > spread3 ? -1.0 : 0.0) - t->metre3);
    if (t->state.beats_per_bar == 4 && t->metre3 > 0.5)
        t->state.beats_per_bar = 3;
    else if (t->state.beats_per_bar == 3 && t->metre3 < -0.5)
        t->state.beats_per_bar = 4;
    int per_bar = t->state.beats_per_bar, m = per_bar == 3 ? m3 : m4;
    /* The first beat: the bar fit, and the change of harmony (a new chord
     * comes with a new bar). */
    float change[4];
    place_changes(t, m, per_bar, change);
    double mean = 0;
    for (int d = 0; d < per_bar; d++)
        mean += change[d] / per_bar;
    if (per_bar == 3) {
        float kick3[6], mid3[6], high3[6];
        bar_profile(t, m3, 3, kick3, mid3, high3);
        for (int d = 0; d < 3; d++)
            score[d] = bar_fit(kick3, mid3, 3, 2 * d);
    }
    for (int d = 0; d < per_bar; d++) {
        double s = score[d] + (mean > 1e-9 ? CHANGE_WEIGHT * (change[d] - mean) / mean : 0.0);
        t->fit[d] += 0.3 * (s - t->fit[d]);
    }
    int best = t->downbeat % per_bar;
    for (int d = 0; d < per_bar; d++)
        if (t->fit[d] > t->fit[best] + 0.05)
            best = d;
    t->downbeat = best;
}

/* The beat `number` has ended: how far its held spectrum (its shape: the
 * mean taken off) moved from the beat before. */
void close_chord(beat_tracker *t, long number)
{
    float shape[BEAT_CHORD_BINS], mean = 0.0f;
    if (t->chord_frames == 0)
        return;
    for (int k = 0; k < BEAT_CHORD_BINS; k++) {
        shape[k] = t->chord_sum[k] / t->chord_frames;
        mean += shape[k] / BEAT_CHORD_BINS;
    }
    float change = 0.0f;
    for (int k = 0; k < BEAT_CHORD_BINS; k++) {
        shape[k] -= mean;
        change += fabsf(shape[k] - t->chord_before[k]);
        t->chord_before[k] = shape[k];
        t->chord_sum[k] = 0.0f;
    }
    t->change_of[((number % BEAT_RECORDS) + BEAT_RECORDS) % BEAT_RECORDS] = t->chord_frames_before ? change : 0.0f;
    t->chord_frames_before = t->chord_frames;
    t->chord_frames = 0;
}

/* Keep the onsets of the beat before the one just measured, on it and
 * half a beat after. */
void record_beat(beat_tracker *t, double at, double next, long number)
{
    beat_record &b = t->record[t->records % BEAT_RECORDS];
    double pos[2] = {at, 0.5 * (at + next)};
    for (int h = 0; h < 2; h++) {
        b.kick[h] = sample(t->kick, t, pos[h]);
        b.mid[h] = sample(t->mid, t, pos[h]);
        b.high[h] = sample(t->high, t, pos[h]);
    }
    b.change = t->change_of[number % BEAT_RECORDS];
    t->record_number[t->records % BEAT_RECORDS] = number;
    t->records++;
}

/* The window round a past beat is complete: where did the onsets come,
 * and how strongly? Pull the loop towards them, or coast. */
void measure_beat(beat_tracker *t, long f)
{
    double centre = t->check_frame;
    double half = WINDOW * t->beat_period;
    long first = (long)ceil(centre - half), last = (long)floor(centre + half);
    /* The onset nearest the prediction wins over a stronger one further
     * off (a sixteenth note beside the beat). */
    double peak = 0.0, best = 0.0, spread = 0.5 * half;
    long at = -1;
    for (long g = first; g <= last; g++) {
        if (g < 0 || g >= t->frame || g <= t->frame - BEAT_HISTORY)
            continue;
        double v = t->onset[ring(g)], d = (g - centre) / spread;
        double weighted = v * exp(-0.5 * d * d);
        if (weighted > best) {
            best = weighted;
            peak = v;
            at = g;
        }
    }
    t->contrast += 0.15 * (beat_contrast(t, centre, t->beat_period, peak) - t->contrast);

    bool hit = at >= 0 && peak >= HIT_LEVEL * t->flux_dev && peak >= HIT_SHARE * t->hit_level;
    if (hit) {
        double y0 = at > 0 ? t->onset[ring(at - 1)] : 0, y1 = peak,
               y2 = at + 1 < t->frame ? t->onset[ring(at + 1)] : 0;
        double den = y0 - 2 * y1 + y2, shift = den < 0 ? 0.5 * (y0 - y2) / den : 0.0;
        double error = at + shift - centre;
        /* Coasting (a breakdown), a weak onset (a pad, a bass note) pulls
         * less than the drums did: it may be anywhere near the beat. */
        double strength = t->misses_in_row >= 2 && peak < t->hit_level ? peak / t->hit_level : 1.0;
        t->next_frame += PULL_PHASE * strength * error;
        t->beat_period += PULL_PERIOD * strength * strength * error;
        t->misses_in_row = 0;
        t->hit_level += (t->hit_level > 0 ? 0.2 : 1.0) * (peak - t->hit_level);
        t->state.confidence += 0.2 * (1.0 - t->state.confidence);
    } else {
        t->misses_in_row++;
        /* Music still playing at the drums' strength in the beat before,
         * if not on the beat (a breakdown over a bass between the beats,
         * a syncopated kick), holds the beat; music that stops or turns to
         * noise lets go within a few beats. */
        double loudest = 0.0;
        for (long g = (long)ceil(centre - t->beat_period); g <= last; g++)
            if (g >= 0 && g < t->frame && g > t->frame - BEAT_HISTORY && t->onset[ring(g)] > loudest)
                loudest = t->onset[ring(g)];
        bool pulsing = loudest >= HIT_SHARE * t->hit_level && beating(t, PERIODIC_LOCK, CONTRAST_LOCK);
        bool ended = t->flux_fast < 0.1 * t->flux_mean || t->flux_mean < SILENT_FLUX;
        t->state.confidence -= (ended ? 0.5 : pulsing ? 0.02 : 0.4) * t->state.confidence;
    }
    double lo = t->lag_min * 0.9, hi = t->lag_max * 1.1;
    if (t->beat_period < lo)
        t->beat_period = lo;
    if (t->beat_period > hi)
        t->beat_period = hi;
    if (t->measured_frame >= 0.0 && centre - t->measured_frame < 1.5 * t->beat_period) {
        record_beat(t, t->measured_frame, centre, t->check_number - 1);
        judge_bar(t, f);
    }
    /* A grid the judgement moved (it drops the beat in check) starts its
     * records afresh. */
    t->measured_frame = t->check_frame < 0.0 ? -1.0 : centre;
    t->check_frame = -1.0;
    set_locked(t);
}

void reset_all(beat_tracker *t)
{
    struct _aubio_specdesc_t *flux = t->flux;
    void *spectrum = t->spectrum, *out = t->flux_out;
    float weight[256];
    memcpy(weight, t->weight, sizeof weight);
    memset(t, 0, sizeof *t);
    t->flux = flux;
    t->spectrum = spectrum;
    t->flux_out = out;
    memcpy(t->weight, weight, sizeof weight);
    t->check_frame = -1.0;
    t->state.beats_per_bar = 4;
    if (spectrum)
        cvec_zeros(spectrum_of(t));
}

} // namespace

int beat_tracker_init(beat_tracker *t)
{
    memset(t, 0, sizeof *t);
    t->spectrum = new_cvec(512);
    t->flux_out = new_fvec(1);
    t->flux = new_aubio_specdesc("specflux", 512);
    if (!t->spectrum || !t->flux_out || !t->flux) {
        beat_tracker_free(t);
        return -1;
    }
    for (int k = 0; k < 256; k++)
        t->weight[k] = 1.0f / (float)(k + 2);
    reset_all(t);
    return 0;
}

void beat_tracker_reset(beat_tracker *t)
{
    reset_all(t);
}

void beat_tracker_free(beat_tracker *t)
{
    if (t->flux)
        del_aubio_specdesc(t->flux);
    if (t->spectrum)
        del_cvec(spectrum_of(t));
    if (t->flux_out)
        del_fvec(flux_out_of(t));
    t->flux = nullptr;
    t->spectrum = nullptr;
    t->flux_out = nullptr;
}

const beat_state *beat_tracker_feed(beat_tracker *t, const int16_t bins[256], double music_time)
{
    /* Time base: the period between callbacks, from the music time. */
    beat_state *s = &t->state;
    s->beat_now = 0;
    if (t->frame > 0) {
        double dt = music_time - t->last_time;
        if (dt <= 0.0 || dt > 0.5)
            reset_all(t);
        else if (t->frame == 1)
            t->period = dt;
        else
            t->period += 0.05 * (dt - t->period);
    }
    t->last_time = music_time;
    double period = t->period;
    if (t->frame >= 1) {
        if (t->lag_period > 0.0 && fabs(period - t->lag_period) > 0.03 * t->lag_period) {
            /* Another callback rate: the lags would mean other tempi. */
            reset_all(t);
            t->last_time = music_time;
        } else if (t->lag_period == 0.0) {
            t->lag_period = period;
            t->decay = exp(-period / ACF_SECONDS);
            t->lag_min = (int)floor(60.0 / (BPM_MAX * period));
            t->lag_max = (int)ceil(60.0 / (BPM_MIN * period));
            if (4 * t->lag_max + 2 >= BEAT_LAGS)
                t->lag_max = (BEAT_LAGS - 3) / 4;
            for (int lag = 1; lag <= t->lag_max; lag++)
                t->prior[lag] = prior(t, lag);
        }
    }

    /* Onsets: the rise of each bin above its held envelope. */
    cvec_t *mags = spectrum_of(t);
    mags->norm[0] = 0.0f;
    float rise[256];
    const float4 zero = {0, 0, 0, 0};
    for (int k = 0; k < 256; k += 4) {
        short4 raw;
        memcpy(&raw, bins + k, sizeof raw);
        float4 m = log2p1_4(max4(__builtin_convertvector(raw, float4), zero) * (1.0f / 16.0f));
        /* A held tone's bins wobble from block to block (no window, and
         * the block starts anywhere in its cycle): only a rise above the
         * slowly falling envelope counts as an onset. */
        float4 e = load4(t->envelope + k), w = load4(t->weight + k);
        float4 held = max4(m, e - ENVELOPE_FALL);
        store4(t->envelope + k, held);
        store4(mags->norm + 1 + k, w * held);
        store4(rise + k, w * max4(m - e, zero));
    }
    /* The held spectrum up to 3.4 kHz over the beat, for the change of
     * harmony from beat to beat. */
    for (int k = 0; k < BEAT_CHORD_BINS; k += 4)
        store4(t->chord_sum + k, load4(t->chord_sum + k) + load4(t->envelope + k));
    t->chord_frames++;
    float band[BANDS] = {0};
    band[BAND_KICK] = rise[0];
    for (int k = 16; k < 48; k++)
        band[BAND_MID_ONLY] += rise[k];
    for (int k = 48; k < 96; k++)
        band[BAND_MID_HIGH] += rise[k];
    for (int k = 96; k < 128; k++)
        band[BAND_HIGH_TOP] += rise[k];
    for (int k = 128; k < 256; k++)
        band[BAND_TOP] += rise[k];
    aubio_specdesc_do(t->flux, mags, flux_out_of(t));
    double flux = flux_out_of(t)->data[0];
    if (t->frame == 0) {
        /* No spectrum before it to differ from, nor a period yet. */
        t->frame = 1;
        return s;
    }

    /* A plain mean over the first frames, so that the start of the music
     * does not read as a long rise (as one long onset it would correlate
     * with itself at every lag). */
    double mean_rate = period / MEAN_SECONDS;
    if (mean_rate < 1.0 / t->frame)
        mean_rate = 1.0 / t->frame;
    t->flux_mean += mean_rate * (flux - t->flux_mean);
    t->flux_dev += mean_rate * (fabs(flux - t->flux_mean) - t->flux_dev);
    t->flux_fast += 4 * mean_rate * (flux - t->flux_fast);
    double centred = flux - t->flux_mean;
    int now = ring(t->frame);
    /* Newest first: recent[newest + lag] is the value `lag` frames ago. */
    int newest = ring(-t->frame);
    t->recent[newest] = t->recent[newest + BEAT_HISTORY] = (float)centred;
    t->onset[now] = centred > 0 ? (float)centred : 0.0f;
    t->kick[now] = band[BAND_KICK];
    t->mid[now] = band[BAND_MID_ONLY] + band[BAND_MID_HIGH];
    t->high[now] = band[BAND_MID_HIGH] + band[BAND_HIGH_TOP];
    /* The hats' own pulse, for the tatum. */
    double top = band[BAND_HIGH_TOP] + band[BAND_TOP];
    t->top_mean += mean_rate * (top - t->top_mean);
    t->top_recent[newest] = t->top_recent[newest + BEAT_HISTORY] = (float)(top - t->top_mean);

    /* Tempo: the decaying autocorrelation, and now and then the comb. */
    float4 decay = zero + (float)t->decay, now4 = zero + (float)centred;
    for (int lag = 0; lag <= 4 * t->lag_max + 2; lag += 4)
        store4(t->acf + lag, decay * load4(t->acf + lag) + now4 * load4(t->recent + newest + lag));
    now4 = zero + t->top_recent[newest];
    for (int lag = 0; lag < BEAT_TATUM_LAGS; lag += 4)
        store4(t->top_acf + lag, decay * load4(t->top_acf + lag) + now4 * load4(t->top_recent + newest + lag));
    t->frame++;
    bool heard_enough = t->frame * period >= ACQUIRE_SECONDS;
    if (heard_enough && t->frame % COMB_EVERY == 0) {
        double before = t->tempo_period;
        search_tempo(t);
        bool same = before > 0.0 && fabs(t->tempo_period / before - 1.0) < 0.04;
        t->tempo_stable = same ? t->tempo_stable + 1 : 0;
        double here = t->tracking ? comb(t, t->beat_period) : t->tempo_clarity;
        t->periodic += COMB_EVERY * period / 2.0 * (here - t->periodic);
    }
    if (t->tracking && heard_enough && t->frame % REVIEW_EVERY == 2 && t->frame > t->review_after)
        review_tempo(t, t->frame - 1);
    /* A first guess, after a search, waits for a tempo the hats' pulse
     * agrees with. */
    if (!t->tracking && t->frame % COMB_EVERY == 0 && t->tempo_stable >= STABLE_ROUNDS &&
        t->tempo_clarity >= CLARITY_ACQUIRE && t->flux_mean > SILENT_FLUX &&
        tatum_fit(t->tempo_period, tatum(t)) == 1.0)
        acquire(t, 0.45);

    /* Beat: measure the last one once its window is complete, then fire
     * the next in the frame nearest to it. */
    long f = t->frame - 1;
    if (t->tracking) {
        if (t->check_frame >= 0.0 && f >= t->check_frame + WINDOW * t->beat_period)
            measure_beat(t, f);
        if (t->next_frame - ONSET_LAG_FRAMES < f + 0.5) {
            if (t->check_frame >= 0.0)
                measure_beat(t, f);
            long count = t->beats_followed++;
            close_chord(t, count - 1);
            t->check_frame = t->next_frame;
            t->check_number = count;
            t->next_frame += t->beat_period;
            if (s->locked) {
                s->beat_now = 1;
                s->beat_count++;
                s->last_beat = music_time;
                int per_bar = s->beats_per_bar;
                s->beat_in_bar = (int)(((count - t->downbeat) % per_bar + per_bar) % per_bar) + 1;
                if (s->beat_in_bar == 1)
                    s->bar_count++;
            }
        }
        if (t->misses_in_row > 16 && !beating(t, PERIODIC_HOLD, CONTRAST_HOLD)) {
            t->tracking = 0;
            s->locked = 0;
            s->confidence = 0.0;
        }
    }
    if (t->tracking) {
        s->bpm = 60.0 / (t->beat_period * period);
        double since = f - (t->next_frame - ONSET_LAG_FRAMES - t->beat_period);
        s->phase = since / t->beat_period;
        if (s->phase < 0.0)
            s->phase = 0.0;
        if (s->phase >= 1.0)
            s->phase = 0.999;
        s->next_beat = music_time + (t->next_frame - ONSET_LAG_FRAMES - f) * period;
    } else {
        s->next_beat = 0.0;
        s->phase = 0.0;
    }
    return s;
}
