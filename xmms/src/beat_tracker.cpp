/* beat_tracker.cpp -- tempo, beat and bar from one spectrum a callback.
 *
 * Onsets: aubio's spectral flux on log magnitudes, each bin weighted so
 * that every octave counts alike (otherwise hi-hats, spread over a hundred
 * bins, outvote the kick in three). Tempo: a decaying autocorrelation of
 * the flux, searched with a comb of four beats and a gentle preference
 * for moderate tempi. Beat: a phase-locked loop that predicts the next
 * beat, measures where the onsets really came in a window round each
 * predicted beat, and pulls phase and period towards them; the
 * autocorrelation takes over again when it keeps disagreeing (a tempo
 * step). Bar: accents gathered by place in a bar of 4 and of 3.
 *
 * Everything runs in frames (callbacks); music time only converts. */
#include "beat_tracker.h"

#include <aubio/aubio.h>
#include <math.h>
#include <string.h>

namespace {

const double BPM_MIN = 60.0, BPM_MAX = 190.0;
const double BPM_CENTRE = 115.0, BPM_SPREAD_OCTAVES = 1.0;
const double ACF_SECONDS = 2.5;      /* memory of the autocorrelation */
const double MEAN_SECONDS = 1.5;     /* memory of the onset levels */
const int COMB_EVERY = 4;            /* frames between tempo searches */
const double ACQUIRE_SECONDS = 1.5;  /* music heard before a first guess */
const double CLARITY_ACQUIRE = 0.25; /* comb peak a guess needs */
const double CLARITY_BEAT = 0.3;     /* running comb peak an onset needs to count */
const double PHASE_SECONDS = 4.0;    /* onsets a phase search looks back on */
const double WINDOW = 0.2;           /* half-width of a beat's window, beats */
const double PULL_PHASE = 0.35, PULL_PERIOD = 0.06;
const double HIT_LEVEL = 1.0;        /* onset peak, in deviations, that counts */
const double ONSET_LAG_FRAMES = 0.5; /* a flux peak comes this late after the onset */
const int DISAGREE_ROUNDS = 8;       /* tempo searches against the loop before a switch */
const double LOCK_ON = 0.55, LOCK_OFF = 0.3;
const double SILENT_FLUX = 0.05;     /* below this mean flux nothing is acquired */
const float ENVELOPE_FALL = 0.15f;   /* log2 units a frame, about 0.9 dB */
const int LOW_BINS = 4;              /* below about 350 Hz: kick and bass */
const int MID_FIRST = 16, MID_END = 96;  /* about 1.4 to 8 kHz: snare and clap */
const int FIT_BEATS = 16;            /* beats a bar fit looks back on */
const double FIT_SWITCH = 1.3;      /* how much better another fit must be */

/* log2(1 + x) to about 0.01, without libm: the spectrum takes 256 of them
 * a callback. */
inline float log2p1(float x)
{
    union { float f; uint32_t i; } u = {x + 1.0f};
    float e = (float)((int)(u.i >> 23) - 127);
    u.i = (u.i & 0x7FFFFF) | 0x3F800000;
    float m = u.f;
    return e + (-0.34484843f * m + 2.02466578f) * m - 0.67487759f;
}

cvec_t *spectrum_of(beat_tracker *t) { return static_cast<cvec_t *>(t->spectrum); }
fvec_t *flux_out_of(beat_tracker *t) { return static_cast<fvec_t *>(t->flux_out); }

inline int ring(long frame) { return (int)(frame & (BEAT_HISTORY - 1)); }

double prior(double lag, double period)
{
    double bpm = 60.0 / (lag * period);
    double o = log2(bpm / BPM_CENTRE) / BPM_SPREAD_OCTAVES;
    return exp(-0.5 * o * o);
}

/* The autocorrelation as a mean product over the frames each lag has
 * seen, so that early on the long lags are not starved. */
void mean_products(const beat_tracker *t, double decay, int top, double *out)
{
    double p = pow(decay, (double)(t->frame - top));  /* decay^(frames seen at top) */
    for (int lag = top; lag >= 0; lag--) {
        out[lag] = t->frame > lag ? t->acf[lag] * (1.0 - decay) / (1.0 - p) : 0.0;
        p *= decay;
    }
}

/* Best beat period in frames by a four-beat comb; sets tempo_period and
 * tempo_clarity. */
void search_tempo(beat_tracker *t, double decay)
{
    double acf[BEAT_LAGS];
    int top = 4 * t->lag_max + 2;
    mean_products(t, decay, top, acf);
    double energy = acf[0];
    t->tempo_clarity = 0.0;
    if (energy <= 1e-9)
        return;
    double best = -1e9, best_clarity = 0.0;
    int best_lag = 0;
    for (int lag = t->lag_min; lag <= t->lag_max; lag++) {
        double sum = 0.0;
        int n = 0;
        for (int k = 1; k <= 4; k++) {
            int at = k * lag;
            if (at + 1 >= BEAT_LAGS || at + 1 > t->frame - lag)
                break;
            double a = acf[at];
            if (k > 1) {
                double b = acf[at - 1], c = acf[at + 1];
                a = a > b ? a : b;
                a = a > c ? a : c;
            }
            sum += a;
            n++;
        }
        if (n == 0)
            continue;
        double clarity = sum / n / energy;
        double score = clarity * prior(lag, t->period);
        if (score > best) {
            best = score;
            best_lag = lag;
            best_clarity = clarity;
        }
    }
    if (!best_lag)
        return;
    /* The peak nearest a multiple of the lag, interpolated, gives the
     * period to a fraction of a frame. */
    int k = 4;
    while (k > 1 && (k * best_lag + 2 >= BEAT_LAGS || k * best_lag + 2 > t->frame - best_lag))
        k--;
    int peak = k * best_lag;
    for (int d = -(k - 1); d <= k - 1; d++)
        if (acf[k * best_lag + d] > acf[peak])
            peak = k * best_lag + d;
    double y0 = acf[peak - 1], y1 = acf[peak],
           y2 = acf[peak + 1];
    double den = y0 - 2 * y1 + y2, shift = den < 0 ? 0.5 * (y0 - y2) / den : 0.0;
    if (shift > 0.5 || shift < -0.5)
        shift = 0.0;
    t->tempo_period = (peak + shift) / k;
    t->tempo_clarity = best_clarity;
}

/* Phase for `period`: the train of frames, one period apart and ending
 * within the last period, that holds the most onset. Returns the frame of
 * the newest beat of that train. */
double search_phase(const beat_tracker *t, double period)
{
    long span = (long)(PHASE_SECONDS / t->period);
    if (span > t->frame)
        span = t->frame;
    if (span > BEAT_HISTORY - 2)
        span = BEAT_HISTORY - 2;
    double best = -1.0;
    int best_back = 0;
    for (int back = 0; back < (int)period; back++) {
        double sum = 0.0;
        for (double at = back; at < span; at += period) {
            long f = t->frame - 1 - (long)(at + 0.5);
            sum += t->onset[ring(f)];
        }
        if (sum > best) {
            best = sum;
            best_back = back;
        }
    }
    return (double)(t->frame - 1 - best_back);
}

/* Largest value of a ring near a fractional frame. */
double near(const float *r, const beat_tracker *t, double at)
{
    long c = lround(at);
    double v = 0.0;
    for (long f = c - 1; f <= c + 1; f++)
        if (f >= 0 && f < t->frame && f > t->frame - BEAT_HISTORY && r[ring(f)] > v)
            v = r[ring(f)];
    return v;
}

/* How well the recent onsets fit a bar of four on the current grid, for
 * each beat that could be the first of the bar: a kick on the first beat,
 * a snare on the second and fourth, onsets on every beat. Adds each fit
 * into `fit` with weight `w` (the older evidence keeps 1 - w). */
void fit_bars(beat_tracker *t, double w)
{
    double tau = t->beat_period;
    double newest = t->next_frame - tau;         /* the beat fired last */
    long count = t->beats_followed - 1;          /* its number */
    double lo = 1.0 / (t->low_mean + 1e-6), mi = 1.0 / (t->mid_mean + 1e-6),
           fu = 0.25 / (t->flux_mean + 1e-6);
    double sum[4] = {0, 0, 0, 0};
    for (int j = 1; j <= FIT_BEATS; j++) {
        double g = newest - j * tau;
        if (g - 2 < t->frame - BEAT_HISTORY || g < 1)
            break;
        long c = count - j;
        double every = fu * near(t->onset, t, g), kick = lo * near(t->low, t, g),
               snare = mi * near(t->mid, t, g);
        for (int d = 0; d < 4; d++) {
            int place = (int)(((c - d) % 4 + 4) % 4);
            sum[d] += every + (place == 0 ? kick : place % 2 ? snare : 0.0);
        }
    }
    for (int d = 0; d < 4; d++)
        t->fit[d] = (1.0 - w) * t->fit[d] + w * sum[d];
}

/* Move the bar's start where the fit says so. */
void follow_fit(beat_tracker *t)
{
    int best = t->downbeat;
    for (int d = 0; d < 4; d++)
        if (t->fit[d] > t->fit[best])
            best = d;
    if (t->fit[best] > FIT_SWITCH * t->fit[t->downbeat])
        t->downbeat = best;
}

void acquire(beat_tracker *t, double period, double confidence)
{
    double last = search_phase(t, period);
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
    t->tempo_disagree = 0;
    t->state.confidence = confidence;
    memset(t->fit, 0, sizeof t->fit);
    memset(t->accent4, 0, sizeof t->accent4);
    memset(t->accent3, 0, sizeof t->accent3);
    t->downbeat = 0;
    fit_bars(t, 1.0);
    follow_fit(t);
}

void set_locked(beat_tracker *t)
{
    double c = t->state.confidence;
    if (!t->state.locked && c >= LOCK_ON)
        t->state.locked = 1;
    else if (t->state.locked && c < LOCK_OFF)
        t->state.locked = 0;
}

/* Triple time where the low band's accents repeat every three beats
 * clearly more than every four. */
void judge_metre(beat_tracker *t, long count, double accent)
{
    t->accent4[count % 4] = 0.85 * t->accent4[count % 4] + accent;
    t->accent3[count % 3] = 0.85 * t->accent3[count % 3] + accent;
    if (t->beats_followed < 12)
        return;
    double sum4 = 0, sum3 = 0, top4 = 0, top3 = 0;
    for (int i = 0; i < 4; i++) {
        sum4 += t->accent4[i];
        top4 = t->accent4[i] > top4 ? t->accent4[i] : top4;
    }
    for (int i = 0; i < 3; i++) {
        sum3 += t->accent3[i];
        top3 = t->accent3[i] > top3 ? t->accent3[i] : top3;
    }
    double stand4 = sum4 > 0 ? top4 / (sum4 / 4) : 0, stand3 = sum3 > 0 ? top3 / (sum3 / 3) : 0;
    t->state.beats_per_bar = stand3 > 1.15 * stand4 ? 3 : 4;
}

/* The window round a past beat is complete: where did the onsets come,
 * and how strongly? Pull the loop towards them. */
void measure_beat(beat_tracker *t)
{
    double centre = t->check_frame;
    double half = WINDOW * t->beat_period;
    long first = (long)ceil(centre - half), last = (long)floor(centre + half);
    /* The onset nearest the prediction wins over a stronger one further
     * off (a sixteenth note beside the beat). */
    double peak = 0.0, best = 0.0, spread = 0.5 * half, accent = 0.0;
    long at = -1;
    for (long f = first; f <= last; f++) {
        if (f < 0 || f >= t->frame)
            continue;
        double v = t->onset[ring(f)], d = (f - centre) / spread;
        double weighted = v * exp(-0.5 * d * d);
        if (weighted > best) {
            best = weighted;
            peak = v;
            at = f;
        }
    }
    double level = peak / (t->flux_dev + 1e-6);
    /* Noise puts an onset near any prediction; only music whose onsets
     * repeat clearly lets them count. */
    if (at >= 0 && level >= HIT_LEVEL && t->clarity_mean >= CLARITY_BEAT) {
        double y0 = at > 0 ? t->onset[ring(at - 1)] : 0, y1 = peak,
               y2 = at + 1 < t->frame ? t->onset[ring(at + 1)] : 0;
        double den = y0 - 2 * y1 + y2, shift = den < 0 ? 0.5 * (y0 - y2) / den : 0.0;
        double error = at + shift - centre;
        t->next_frame += PULL_PHASE * error;
        t->beat_period += PULL_PERIOD * error;
        t->misses_in_row = 0;
        t->state.confidence += 0.2 * (1.0 - t->state.confidence);
        t->hold_level = t->flux_mean;
        accent = near(t->low, t, at) / (t->low_mean + 1e-6);
    } else {
        t->misses_in_row++;
        /* Music that goes quiet (a breakdown) holds the beat longer than
         * music whose onsets fall elsewhere; music that stops lets go. */
        bool quiet = t->flux_mean < 0.5 * t->hold_level;
        bool ended = t->flux_fast < 0.1 * t->hold_level;
        t->state.confidence -= (ended ? 0.4 : quiet ? 0.04 : 0.15) * t->state.confidence;
    }
    judge_metre(t, t->beats_followed - 1, accent);
    double lo = t->lag_min * 0.9, hi = t->lag_max * 1.1;
    if (t->beat_period < lo)
        t->beat_period = lo;
    if (t->beat_period > hi)
        t->beat_period = hi;
    t->check_frame = -1.0;
    set_locked(t);
}

/* The beat of number `count` is signalled: its place in the bar. */
void place_in_bar(beat_tracker *t, long count)
{
    beat_state *s = &t->state;
    int down = t->downbeat;
    if (s->beats_per_bar == 3) {
        down = 0;
        for (int i = 1; i < 3; i++)
            if (t->accent3[i] > t->accent3[down])
                down = i;
    }
    int per_bar = s->beats_per_bar;
    s->beat_in_bar = (int)(((count - down) % per_bar + per_bar) % per_bar) + 1;
    if (s->beat_in_bar == 1)
        s->bar_count++;
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
            t->lag_min = (int)floor(60.0 / (BPM_MAX * period));
            t->lag_max = (int)ceil(60.0 / (BPM_MIN * period));
            if (4 * t->lag_max + 2 >= BEAT_LAGS)
                t->lag_max = (BEAT_LAGS - 3) / 4;
        }
    }

    /* Onsets: the rise of each bin above its held envelope. */
    cvec_t *mags = spectrum_of(t);
    mags->norm[0] = 0.0f;
    float low = 0.0f, mid = 0.0f;
    for (int k = 0; k < 256; k++) {
        float v = bins[k] > 0 ? (float)bins[k] : 0.0f;
        float m = log2p1(v * (1.0f / 16.0f));
        /* A held tone's bins wobble from block to block (no window, and
         * the block starts anywhere in its cycle): only a rise above the
         * slowly falling envelope counts as an onset. */
        float held = t->envelope[k] - ENVELOPE_FALL;
        float rise = m - t->envelope[k];
        t->envelope[k] = m > held ? m : held;
        mags->norm[k + 1] = t->weight[k] * t->envelope[k];
        if (rise > 0.0f) {
            if (k < LOW_BINS)
                low += t->weight[k] * rise;
            else if (k >= MID_FIRST && k < MID_END)
                mid += t->weight[k] * rise;
        }
    }
    aubio_specdesc_do(t->flux, mags, flux_out_of(t));
    double flux = flux_out_of(t)->data[0];
    if (t->frame == 0) {
        /* No spectrum before it to differ from, nor a period yet. */
        t->frame = 1;
        return s;
    }

    double mean_rate = period / MEAN_SECONDS;
    t->flux_mean += mean_rate * (flux - t->flux_mean);
    t->flux_dev += mean_rate * (fabs(flux - t->flux_mean) - t->flux_dev);
    t->flux_fast += 4 * mean_rate * (flux - t->flux_fast);
    t->low_mean += mean_rate * (low - t->low_mean);
    t->mid_mean += mean_rate * (mid - t->mid_mean);
    double centred = flux - t->flux_mean;
    int now = ring(t->frame);
    t->centred[now] = centred;
    t->onset[now] = centred > 0 ? (float)centred : 0.0f;
    t->low[now] = low;
    t->mid[now] = mid;

    /* Tempo: the decaying autocorrelation, and now and then the comb. */
    double decay = exp(-period / ACF_SECONDS);
    int top = 4 * t->lag_max + 2;
    t->acf[0] = decay * t->acf[0] + centred * centred;
    for (int lag = 1; lag <= top && lag <= t->frame; lag++)
        t->acf[lag] = decay * t->acf[lag] + centred * t->centred[ring(t->frame - lag)];
    t->frame++;
    bool heard_enough = t->frame * period >= ACQUIRE_SECONDS;
    if (heard_enough && t->frame % COMB_EVERY == 0) {
        search_tempo(t, decay);
        t->clarity_mean += 0.2 * (t->tempo_clarity - t->clarity_mean);
        if (t->tracking && t->tempo_clarity >= CLARITY_ACQUIRE) {
            double r = t->tempo_period / t->beat_period;
            bool related = fabs(r - 1.0) < 0.06 || fabs(r - 2.0) < 0.12 || fabs(r - 0.5) < 0.03;
            t->tempo_disagree = related ? 0 : t->tempo_disagree + 1;
            if (t->tempo_disagree >= DISAGREE_ROUNDS)
                acquire(t, t->tempo_period, s->confidence < 0.6 ? s->confidence : 0.6);
        }
    }
    if (!t->tracking && heard_enough && t->tempo_period > 0.0 &&
        t->tempo_clarity >= CLARITY_ACQUIRE && t->flux_mean > SILENT_FLUX)
        acquire(t, t->tempo_period, 0.35);

    /* Beat: measure the last one once its window is complete, then fire
     * the next in the frame nearest to it. */
    long f = t->frame - 1;
    if (t->tracking) {
        if (t->check_frame >= 0.0 && f >= t->check_frame + WINDOW * t->beat_period)
            measure_beat(t);
        if (t->next_frame - ONSET_LAG_FRAMES < f + 0.5) {
            if (t->check_frame >= 0.0)
                measure_beat(t);
            t->check_frame = t->next_frame;
            t->next_frame += t->beat_period;
            long count = t->beats_followed++;
            if (count % 2 == 0 && t->flux_mean >= 0.5 * t->hold_level) {
                fit_bars(t, 0.3);
                follow_fit(t);
            }
            if (s->locked) {
                s->beat_now = 1;
                s->beat_count++;
                s->last_beat = music_time;
                place_in_bar(t, count);
            }
        }
        if (t->misses_in_row > 16) {
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
