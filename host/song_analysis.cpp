/* song_analysis.cpp -- beats, bars and sections of a whole piece.
 *
 * One pass over the music, a hop of about 11.6 ms at a time, keeps per
 * hop: qm-dsp's onset function (complex spectral difference), the power
 * of twelve bands of its spectrum and the whole's; qm-dsp's DownBeat
 * keeps the music decimated to about 3 kHz. Then, with all of it at
 * hand:
 *   beats    qm-dsp's offline tempo tracker for the period along the
 *            piece, refined to a hundredth of a hop and held through
 *            stretches where it is unclear; the beats placed on the
 *            onsets by a dynamic programme that keeps to the period;
 *            the ends trimmed where nothing stands out; the tempo
 *            octave checked against the bars and the drums.
 *   bars     the phase (and metre, four or three) whose beats bring the
 *            most change of harmony and the kicks.
 *   sections bar lines where the mean sound of the bars on either side
 *            differs most; loudness from each section's level; drops.
 * Constants were set on the evaluation set (bench/song_eval). */
#include "host/song_analysis.h"

#include <math.h>
#include <sndfile.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <vector>

#include <dsp/onsets/DetectionFunction.h>
#include <dsp/tempotracking/DownBeat.h>
#include <dsp/tempotracking/TempoTrackV2.h>

namespace {

const double HOP_SECONDS = 0.01161;   /* the tempo tracker is tuned for this hop */
const int BANDS = 12;                 /* spectrum bands kept per hop */
const int READ_FRAMES = 4096;
/* The beat placement's dislike of a spacing off the period: high, so
 * that a stretch of weak or off-beat onsets (a breakdown) keeps the
 * phase of the music round it. */
const double TIGHTNESS = 3000;
/* Below this the onsets are no stronger on the beats than between them:
 * noise, or music without a steady beat. */
const double MIN_SALIENCE = 1.4;
/* A stretch's onsets repeat at its period at least this clearly
 * (autocorrelation over one to four periods, 1 = perfectly) for the
 * period to be trusted. */
const double MIN_PERIODICITY = 0.2;
/* ... and they are not much weaker than in the rest of the music: at
 * least this share of the median stretch's autocorrelation. */
const double MIN_STRENGTH = 0.05;
/* Beats at the ends stand out this much from their neighbourhood, on
 * average over four; the very last one this much, unless the level rises
 * at it by END_LEVEL. */
const double MIN_CONTRAST = 1.35, END_CONTRAST = 2.2, END_LEVEL = 0.7;
/* Below this the music is silence (mean square, full scale 1). */
const double SILENCE = 1e-7;
/* The least music with onsets that is looked at for a beat: the tempo
 * tracker judges the tempo over 512 hops, about 6 s. */
const size_t MIN_HOPS = 700;
/* The onset function peaks this long after a beat is first heard. */
const double BEAT_OFFSET = -0.015;
/* How much a kick counts towards a bar's first beat, against a change
 * of harmony. */
const double KICK_WEIGHT = 0.5;
/* Evidence by which triple time must beat four to the bar. */
const double TRIPLE_MARGIN = 0.1;
/* The tempo range, and by how much the signs of another level (see
 * tempo_octave) must outweigh the tracker's own for the beat to move
 * there. */
const double MIN_BPM = 50, MAX_BPM = 200;
const double DOUBLE_MARGIN = 0.35, HALF_MARGIN = 0.15;
/* The bar periodicity half the tempo must reach to be taken at all. */
const double HALF_BAR_MIN = 0.3;
/* Drums alternating this clearly from one beat to the next (correlation
 * at one beat below minus this) keep the tempo from being halved. */
const double BACKBEAT_TURNS = 0.3;
/* Sections: bars either side of a bar line compared; the least change
 * (decibels, root mean square over the features) that starts one; the
 * shortest. */
const size_t SECTION_REACH = 4;
const double MIN_NOVELTY = 1.5;
const size_t MIN_SECTION_BARS = 2;
/* Section loudness: 0 is this far below the loudest section (or the
 * quietest, when they are further apart). */
const double LOUDNESS_RANGE_DB = 12;
/* A drop: at least this much louder than the section before, and loud. */
const double DROP_RISE_DB = 6;
const double DROP_LOUDNESS = 0.75;

/* What the pass keeps, per hop. */
struct pass {
    int rate = 0;
    int hop = 0;              /* samples a hop */
    int frame = 0;            /* onset function frame: two hops */
    int factor = 0;           /* decimation for the bar lines */
    DetectionFunction *onset_fn = nullptr;
    DownBeat *bars = nullptr;
    std::vector<double> window;   /* the last `frame` samples */
    std::vector<float> hop_in;    /* the hop being filled */
    int filled = 0;
    int band_edge[BANDS + 1];     /* spectrum bins of the bands */

    std::vector<double> onset;    /* onset strength per hop */
    std::vector<float> power;     /* mean square per hop */
    std::vector<float> bands;     /* BANDS log powers per hop */
    long samples = 0;
};

bool stopped(const int *stop)
{
    return stop && __atomic_load_n(stop, __ATOMIC_RELAXED);
}

void pass_free(pass *p)
{
    delete p->onset_fn;
    delete p->bars;
    p->onset_fn = nullptr;
    p->bars = nullptr;
}

/* Set up for music at `rate`. */
void pass_init(pass *p, int rate)
{
    p->rate = rate;
    /* Decimated to about 3 kHz for the bar lines: a power of two that
     * the hop is a multiple of. */
    p->factor = MathUtilities::nextPowerOfTwo(rate / 3000);
    if (p->factor < 1)
        p->factor = 1;
    if (p->factor > 64)
        p->factor = 64;
    int hop = (int)lrint(rate * HOP_SECONDS / p->factor) * p->factor;
    p->hop = hop < p->factor ? p->factor : hop;
    p->frame = 2 * p->hop;

    DFConfig c;
    c.stepSize = (unsigned)p->hop;
    c.frameLength = (unsigned)p->frame;
    c.DFType = DF_COMPLEXSD;
    c.dbRise = 3;
    c.adaptiveWhitening = false;
    c.whiteningRelaxCoeff = -1;
    c.whiteningFloor = -1;
    p->onset_fn = new DetectionFunction(c);
    p->bars = new DownBeat((float)rate, (size_t)p->factor, (size_t)p->hop);
    p->window.assign((size_t)p->frame, 0.0);
    p->hop_in.assign((size_t)p->hop, 0.0f);

    /* Bands spaced evenly in log frequency from 40 Hz to 16 kHz (or the
     * top of the spectrum). */
    int bins = p->frame / 2;
    double lo = 40.0, hi = std::min(16000.0, rate / 2.0);
    for (int b = 0; b <= BANDS; b++) {
        double f = lo * pow(hi / lo, (double)b / BANDS);
        int bin = (int)lrint(f * p->frame / rate);
        p->band_edge[b] = std::min(std::max(bin, 1), bins);
    }
}

/* One full hop in hop_in: slide the frame, run the onset function and
 * keep what the later steps need. */
void pass_hop(pass *p)
{
    const int hop = p->hop;
    memmove(p->window.data(), p->window.data() + hop, sizeof(double) * (size_t)(p->frame - hop));
    double sum = 0;
    for (int i = 0; i < hop; i++) {
        double v = p->hop_in[(size_t)i];
        p->window[(size_t)(p->frame - hop + i)] = v;
        sum += v * v;
    }
    p->onset.push_back(p->onset_fn->processTimeDomain(p->window.data()));
    p->power.push_back((float)(sum / hop));
    const double *mag = p->onset_fn->getSpectrumMagnitude();
    for (int b = 0; b < BANDS; b++) {
        double e = 0;
        for (int k = p->band_edge[b]; k < p->band_edge[b + 1]; k++)
            e += mag[k] * mag[k];
        p->bands.push_back((float)log10(e + 1e-9));
    }
    p->bars->pushAudioBlock(p->hop_in.data());
    p->filled = 0;
}

void pass_feed(pass *p, const float *in, int n)
{
    for (int i = 0; i < n; i++) {
        p->hop_in[(size_t)p->filled++] = in[i];
        if (p->filled == p->hop)
            pass_hop(p);
    }
    p->samples += n;
}

/* The last part-hop, filled with silence. */
void pass_finish(pass *p)
{
    if (p->filled > 0) {
        std::fill(p->hop_in.begin() + p->filled, p->hop_in.end(), 0.0f);
        pass_hop(p);
    }
}

/* ---------------------------------------------------------------- beats */

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + (long)(v.size() / 2), v.end());
    return v[v.size() / 2];
}

/* The onset function's autocorrelation at a lag in hops that need not
 * be whole (linear between the two whole lags), over [from, to). */
double autocorr(const std::vector<double> &x, size_t from, size_t to, double lag)
{
    size_t l0 = (size_t)lag;
    double frac = lag - (double)l0;
    double a = 0, b = 0;
    for (size_t i = from + l0 + 1; i < to; i++) {
        a += x[i] * x[i - l0];
        b += x[i] * x[i - l0 - 1];
    }
    return (1 - frac) * a + frac * b;
}

/* The tracker's beat periods are whole hops (1.7 % apart at 124 beats a
 * minute), and beats placed a whole hop too far apart drift off the
 * music wherever the onsets are weak. Refine each stretch's period to a
 * hundredth of a hop: the lag near it where the autocorrelation at one
 * to four periods is largest. Where that autocorrelation is weak (a
 * quiet breakdown, a held chord) the tracker's period is a guess: such
 * stretches keep the period of the last clear one before them (or the
 * first after). */
void refine_periods(const std::vector<double> &onset, std::vector<double> &period)
{
    const size_t n = onset.size(), win = 512, step = 128;
    std::vector<double> fine(period);
    std::vector<size_t> block_start;
    std::vector<double> block_period, block_score;
    std::vector<int> block_clear;
    std::vector<double> x;
    for (size_t start = 0; start < n; start += step) {
        size_t from = start >= win / 2 ? start - win / 2 : 0;
        size_t to = std::min(n, start + step + win / 2);
        double p0 = period[std::min(start + step / 2, n - 1)];
        x.assign(onset.begin() + (long)from, onset.begin() + (long)to);
        double mean = 0, zero = 0;
        for (double v : x)
            mean += v / (double)x.size();
        for (double &v : x) {
            v -= mean;
            zero += v * v;
        }
        auto comb = [&](double lag) {
            double score = 0;
            for (int k = 1; k <= 4; k++)
                if (lag * k + 2 < (double)x.size())
                    score += autocorr(x, 0, x.size(), lag * k);
            return score;
        };
        double best = p0, best_score = -1e300;
        for (double lag = p0 - 1.0; p0 >= 2 && lag <= p0 + 1.0; lag += 0.01) {
            double score = comb(lag);
            if (score > best_score) {
                best_score = score;
                best = lag;
            }
        }
        block_start.push_back(start);
        block_period.push_back(best);
        block_score.push_back(best_score);
        block_clear.push_back(p0 >= 2 && zero > 0 && best_score / (4 * zero) >= MIN_PERIODICITY);
    }
    const size_t blocks = block_start.size();
    double typical = median(block_score);
    for (size_t k = 0; k < blocks; k++)
        if (block_score[k] < MIN_STRENGTH * typical)
            block_clear[k] = 0;
    long clear = -1;
    for (size_t k = 0; k < blocks && clear < 0; k++)
        if (block_clear[k])
            clear = (long)k;
    if (clear < 0)
        return;
    for (size_t k = 0; k < blocks; k++) {
        if (block_clear[k])
            clear = (long)k;
        double p = block_period[(size_t)clear];
        for (size_t i = block_start[k]; i < std::min(n, block_start[k] + step); i++)
            fine[i] = p;
    }
    period.swap(fine);
}

/* The beats that best fit the onsets with spacings near the period: a
 * dynamic programme over hops. Each hop's score is its onset strength
 * plus the best score of a beat between half and twice the period before
 * it, less a penalty that grows with the squared log ratio of the
 * spacing to the period there. The periods need not be whole hops. */
std::vector<double> place_beats(const std::vector<double> &onset, const std::vector<double> &period,
                                const std::vector<double> &other, double tightness)
{
    const size_t n = onset.size();
    std::vector<double> score(n), local(n);
    std::vector<long> back(n, -1);
    /* Only what rises above the onsets round it counts: a held note's
     * long tail of onset strength would otherwise pull the beats into
     * it. */
    const long reach = 8;
    for (size_t i = 0; i < n; i++) {
        double sum = 0;
        long from = std::max(0L, (long)i - reach), to = std::min((long)n, (long)i + reach + 1);
        for (long j = from; j < to; j++)
            sum += onset[(size_t)j];
        local[i] = std::max(0.0, onset[i] - sum / (double)(to - from));
    }
    double mean = 0, var = 0;
    for (double v : local)
        mean += v;
    mean /= (double)std::max<size_t>(n, 1);
    for (double v : local)
        var += (v - mean) * (v - mean);
    double sd = sqrt(var / (double)std::max<size_t>(n, 1));
    for (double &v : local)
        v = sd > 0 ? v / sd : 0;
    for (size_t i = 0; i < n; i++) {
        double p = period[i];
        long lo = std::max(1L, (long)ceil(p / 2)), hi = (long)floor(2 * p);
        double best = 0;
        long from = -1;
        if (other[i] > 0) {
            lo = std::min(lo, (long)ceil(other[i] / 2));
            hi = std::max(hi, (long)floor(2 * other[i]));
        }
        for (long lag = lo; lag <= hi && lag <= (long)i; lag++) {
            double r = log((double)lag / p);
            if (other[i] > 0) {
                double q = log((double)lag / other[i]);
                r = std::min(fabs(r), fabs(q));
            }
            double s = score[i - (size_t)lag] - tightness * r * r;
            if (from < 0 || s > best) {
                best = s;
                from = (long)i - lag;
            }
        }
        score[i] = local[i] + (from >= 0 && best > 0 ? best : 0);
        back[i] = from >= 0 && best > 0 ? from : -1;
    }
    /* The last beat: the best score within a period of the end. */
    std::vector<double> beats;
    if (n == 0)
        return beats;
    long last = (long)n - 1;
    long first = std::max(0L, (long)n - 1 - (long)period[n - 1]);
    for (long i = first; i < (long)n; i++)
        if (score[(size_t)i] > score[(size_t)last])
            last = i;
    for (long i = last; i >= 0; i = back[(size_t)i])
        beats.push_back((double)i);
    std::reverse(beats.begin(), beats.end());
    return beats;
}

/* The stretch of hops [*first, *last] between the first and the last
 * clear onset: a song's fading tail (or a silent lead-in) has no beat,
 * and the tempo tracker would only guess one there. */
void active_span(const std::vector<double> &onset, size_t *first, size_t *last)
{
    std::vector<double> sorted(onset);
    size_t k = sorted.size() * 95 / 100;
    std::nth_element(sorted.begin(), sorted.begin() + (long)k, sorted.end());
    double floor = 0.1 * sorted[k];
    *first = 0;
    *last = onset.size() - 1;
    while (*first < *last && onset[*first] <= floor)
        ++*first;
    while (*last > *first && onset[*last] <= floor)
        --*last;
}


/* Rise of band b's log power into hop i (0 for a fall). */
double band_rise(const pass *p, size_t i, int b)
{
    if (i == 0 || i >= p->power.size())
        return 0;
    double v = p->bands[i * BANDS + b] - p->bands[(i - 1) * BANDS + b];
    return v > 0 ? v : 0;
}

/* The strongest onset within two hops of `at`: its hop, or -1. */
long onset_near(const pass *p, double at)
{
    long c = lrint(at), best = -1;
    for (long i = c - 2; i <= c + 2; i++)
        if (i >= 1 && i < (long)p->onset.size() &&
            (best < 0 || p->onset[(size_t)i] > p->onset[(size_t)best]))
            best = i;
    return best;
}

/* The drum that sounds near `at`: positive for a snare or a clap (the
 * middle bands rise more than the lowest), negative for a kick. */
double drum_colour(const pass *p, double at)
{
    long c = onset_near(p, at);
    if (c < 0)
        return 0;
    double mid = 0, low = 0;
    for (long i = c - 1; i <= c + 1; i++) {
        for (int b = 3; b <= 9; b++)
            mid += band_rise(p, (size_t)i, b) / 7;
        for (int b = 0; b <= 2; b++)
            low += band_rise(p, (size_t)i, b) / 3;
    }
    return mid - low;
}

/* Correlation of a sequence with itself k steps on (mean removed). */
double lag_correlation(const std::vector<double> &x, size_t k)
{
    if (x.size() <= k + 1)
        return 0;
    double m = 0;
    for (double v : x)
        m += v;
    m /= (double)x.size();
    double a = 0, z = 0;
    for (size_t i = 0; i < x.size(); i++) {
        z += (x[i] - m) * (x[i] - m);
        if (i + k < x.size())
            a += (x[i] - m) * (x[i + k] - m);
    }
    return z > 0 ? a / z * (double)x.size() / (double)(x.size() - k) : 0;
}

/* The spectral change into each beat: qm-dsp's DownBeat compares the
 * spectrum of the decimated music over each beat with the one before. */
std::vector<double> harmony_change(pass *p, const std::vector<double> &beats)
{
    std::vector<int> unused;
    size_t length = 0;
    const float *decimated = p->bars->getBufferedAudio(length);
    p->bars->setBeatsPerBar(4);
    p->bars->findDownBeats(decimated, length, beats, unused);
    std::vector<double> between;
    p->bars->getBeatSD(between);
    std::vector<double> change(beats.size(), 0.0);
    for (size_t i = 1; i < beats.size() && i - 1 < between.size(); i++)
        change[i] = between[i - 1];
    if (!change.empty())
        change[0] = median(change);
    return change;
}

/* How clearly the harmony changes every three or four beats rather
 * than every two: at the right level the chords change once a bar. */
double bar_periodicity(const std::vector<double> &change)
{
    return std::max(lag_correlation(change, 4), lag_correlation(change, 3)) -
           std::max(0.0, lag_correlation(change, 2));
}

/* Which level is the beat: the beats found, twice as many or half as
 * many. The chords change once a bar, so at the right level the
 * harmony changes every three or four beats rather than every two;
 * and the snare answers the kick from one beat to the next, so at half
 * the tempo the snares fall between the beats found. Twice the tempo
 * needs both signs together to outweigh the tracker's choice, half the
 * tempo a clearly better bar. 2, 0.5 or 1; *phase is which half of the
 * beats to keep for 0.5. */
double tempo_octave(pass *p, const std::vector<double> &beats, double bpm, int *phase)
{
    std::vector<double> twice, half[2], colour, on_beats;
    for (size_t i = 0; i < beats.size(); i++) {
        twice.push_back(beats[i]);
        colour.push_back(drum_colour(p, beats[i]));
        on_beats.push_back(colour.back());
        if (i + 1 < beats.size()) {
            twice.push_back((beats[i] + beats[i + 1]) / 2);
            colour.push_back(drum_colour(p, twice.back()));
        }
        half[i % 2].push_back(beats[i]);
    }
    double here = bar_periodicity(harmony_change(p, beats));
    double up = -1e9, down[2] = {-1e9, -1e9};
    if (bpm * 2 <= MAX_BPM)
        up = bar_periodicity(harmony_change(p, twice)) - here - lag_correlation(colour, 1);
    for (int k = 0; k < 2 && bpm / 2 >= MIN_BPM; k++)
        down[k] = bar_periodicity(harmony_change(p, half[k])) - here;
    *phase = down[1] > down[0] ? 1 : 0;
    if (up >= DOUBLE_MARGIN)
        return 2;
    /* Half the tempo must show a clear bar of its own (drums alone have
     * no harmony: a better "bar" of noise is no reason to halve), and a
     * kick and a snare taking turns beat by beat say this is the beat. */
    if (down[*phase] >= HALF_MARGIN && here + down[*phase] >= HALF_BAR_MIN &&
        lag_correlation(on_beats, 1) > -BACKBEAT_TURNS)
        return 0.5;
    return 1;
}

/* How much stronger the onsets are on the beats than on average: about
 * 1 for noise, 2 and more for music with a beat. */
double beat_salience(const std::vector<double> &onset, const std::vector<double> &beats)
{
    double all = 0, on = 0;
    for (double v : onset)
        all += v;
    all /= (double)std::max<size_t>(onset.size(), 1);
    for (double b : beats) {
        long c = lrint(b);
        double m = 0;
        for (long i = c - 1; i <= c + 1; i++)
            if (i >= 0 && i < (long)onset.size())
                m = std::max(m, onset[(size_t)i]);
        on += m;
    }
    return !beats.empty() && all > 0 ? on / (double)beats.size() / all : 0;
}

/* How clearly beat i stands out: its onset against the median of the
 * onsets within half a beat either side. */
double beat_contrast(const pass *p, const std::vector<double> &beats, size_t i)
{
    double half = (i + 1 < beats.size() ? beats[i + 1] - beats[i] : beats[i] - beats[i - 1]) / 2;
    long from = std::max(0L, lrint(beats[i] - half));
    long to = std::min((long)p->onset.size(), lrint(beats[i] + half));
    std::vector<double> around(p->onset.begin() + from, p->onset.begin() + to);
    long c = onset_near(p, beats[i]);
    double m = median(around);
    return c < 0 ? 0 : m > 0 ? p->onset[(size_t)c] / m : 10;
}

/* The level over the four hops from `at` against the four before. */
double level_change(const pass *p, double at)
{
    long c = lrint(at);
    double before = 0, after = 0;
    for (long i = c - 4; i < c + 4; i++) {
        if (i < 0 || i >= (long)p->power.size())
            continue;
        (i < c ? before : after) += p->power[(size_t)i];
    }
    return before > 0 ? after / before : 1;
}

/* Drop beats at either end that do not stand out from what sounds round
 * them: a noisy lead-in or tail has no beat, though the placement goes
 * on through it. Kept: from the first four beats that stand out on
 * average to the last four. */
void trim_weak_ends(const pass *p, std::vector<double> &beats)
{
    const size_t n = beats.size();
    if (n < 8)
        return;
    std::vector<double> c(n);
    for (size_t i = 0; i < n; i++)
        c[i] = beat_contrast(p, beats, i);
    auto clear = [&](size_t i) { return (c[i] + c[i + 1] + c[i + 2] + c[i + 3]) / 4 >= MIN_CONTRAST; };
    size_t first = 0, last = n - 4;
    while (first <= n - 4 && !clear(first))
        first++;
    while (last > first && !clear(last))
        last--;
    if (first > n - 4) {
        beats.clear();
        return;
    }
    beats = std::vector<double>(beats.begin() + (long)first, beats.begin() + (long)last + 4);
    /* Where the music stops, the sound dying away is a change too, but
     * nothing starts: no beat there (a last beat that neither stands out
     * nor brings the level up). */
    if (beats.size() > 4 && beat_contrast(p, beats, beats.size() - 1) < END_CONTRAST &&
        level_change(p, beats.back()) < END_LEVEL)
        beats.pop_back();
}

/* Beats (in hops): qm-dsp's tempo tracker for the period along the
 * piece, refined; the beats placed; the tempo octave checked. Empty when
 * the music has no steady beat. */
std::vector<double> find_beats(pass *p, enum song_verdict *verdict)
{
    std::vector<double> none;
    *verdict = SONG_TOO_SHORT;
    if (p->onset.size() < MIN_HOPS)
        return none;
    size_t first, last;
    active_span(p->onset, &first, &last);
    /* A little room round the onsets, so that a beat right on the first
     * or the last of them is still placed. */
    first = first > 4 ? first - 4 : 0;
    last = std::min(p->onset.size() - 1, last + 4);
    if (last - first + 1 < MIN_HOPS)
        return none;
    *verdict = SONG_NO_BEAT;
    std::vector<double> df(p->onset.begin() + (long)first, p->onset.begin() + (long)last + 1);
    std::vector<double> period(df.size(), 0.0), tempi;
    TempoTrackV2 tracker((float)p->rate, (size_t)p->hop);
    tracker.calculateBeatPeriod(df, period, tempi, 120.0, false);
    /* Within what the tracker can give (its periods lie in 20..108). */
    for (double &v : period)
        v = std::min(std::max(v, 8.0), 128.0);
    /* The tracker gives each 128 hops the period of the 512 that start
     * there; the period of the 512 centred on them fits them better
     * (a tempo change is then followed where it happens). */
    const size_t lead = 192;
    if (period.size() > lead) {
        for (size_t i = period.size() - 1; i >= lead; i--)
            period[i] = period[i - lead];
    }
    refine_periods(df, period);
    /* The tracker changes the period only every 128 hops; round such a
     * change either period may hold, and the onsets say where it
     * changes. */
    std::vector<double> other(df.size(), 0.0);
    for (size_t i = 0; i < df.size(); i++) {
        for (size_t j : {i >= 128 ? i - 128 : i, std::min(i + 128, df.size() - 1)})
            if (fabs(period[j] - period[i]) > 0.04 * period[i])
                other[i] = period[j];
    }
    std::vector<double> beats = place_beats(df, period, other, TIGHTNESS);
    if (beats.size() < 4 || beat_salience(df, beats) < MIN_SALIENCE)
        return none;
    for (double &b : beats)
        b += (double)first;
    trim_weak_ends(p, beats);
    if (beats.size() < 4)
        return none;
    std::vector<double> gaps;
    for (size_t i = 1; i < beats.size(); i++)
        gaps.push_back(beats[i] - beats[i - 1]);
    double bpm = 60.0 * p->rate / p->hop / median(gaps);
    int phase = 0;
    double octave = tempo_octave(p, beats, bpm, &phase);
    if (octave == 2) {
        std::vector<double> twice;
        for (size_t i = 0; i < beats.size(); i++) {
            twice.push_back(beats[i]);
            if (i + 1 < beats.size())
                twice.push_back((beats[i] + beats[i + 1]) / 2);
        }
        beats.swap(twice);
    } else if (octave == 0.5) {
        std::vector<double> half;
        for (size_t i = (size_t)phase; i < beats.size(); i += 2)
            half.push_back(beats[i]);
        beats.swap(half);
    }
    *verdict = SONG_BEATS;
    return beats;
}

/* Standard scores: mean 0, spread 1 (all 0 when there is no spread). */
void standardise(std::vector<double> &x)
{
    double m = 0, v = 0;
    for (double a : x)
        m += a;
    m /= (double)std::max<size_t>(x.size(), 1);
    for (double a : x)
        v += (a - m) * (a - m);
    double sd = sqrt(v / (double)std::max<size_t>(x.size(), 1));
    for (double &a : x)
        a = sd > 0 ? (a - m) / sd : 0;
}

/* How much each beat sounds like the first of a bar: the harmony
 * changes into it (qm-dsp's DownBeat measures the spectral difference
 * between successive beats of the decimated music) and a kick rather
 * than a snare marks it. */
std::vector<double> bar_start_evidence(pass *p, const std::vector<double> &beats)
{
    std::vector<double> change = harmony_change(p, beats), kick(beats.size(), 0.0);
    for (size_t i = 0; i < beats.size(); i++)
        kick[i] = -drum_colour(p, beats[i]);
    standardise(change);
    standardise(kick);
    std::vector<double> e(beats.size());
    for (size_t i = 0; i < beats.size(); i++)
        e[i] = change[i] + KICK_WEIGHT * kick[i];
    return e;
}

/* The metre (3 or 4 beats a bar) and the place in the bar of the first
 * beat (0 = it starts a bar): the phase whose beats hold the most bar
 * start evidence, in the metre where that phase stands out the most
 * from the others. */
void find_metre(const std::vector<double> &evidence, int *beats_per_bar, int *phase)
{
    double best_margin = -1e9;
    *beats_per_bar = 4;
    *phase = 0;
    for (int bpb : {4, 3}) {
        std::vector<double> mean((size_t)bpb, 0.0);
        std::vector<int> n((size_t)bpb, 0);
        for (size_t i = 0; i < evidence.size(); i++) {
            mean[i % (size_t)bpb] += evidence[i];
            n[i % (size_t)bpb]++;
        }
        int top = 0;
        for (int k = 0; k < bpb; k++) {
            mean[(size_t)k] /= std::max(1, n[(size_t)k]);
            if (mean[(size_t)k] > mean[(size_t)top])
                top = k;
        }
        double others = 0;
        for (int k = 0; k < bpb; k++)
            if (k != top)
                others += mean[(size_t)k] / (bpb - 1);
        /* Triple time must stand out clearly: four beats a bar is far
         * the commoner. */
        double margin = mean[(size_t)top] - others - (bpb == 3 ? TRIPLE_MARGIN : 0);
        if (margin > best_margin) {
            best_margin = margin;
            *beats_per_bar = bpb;
            *phase = (bpb - top) % bpb;
        }
    }
}

/* What a stretch of music sounds like, for telling sections apart, in
 * decibels: each band's mean power and its floor (the level the hops
 * rarely fall below: what is held, not struck), the whole's power, and
 * how busy its onsets are. */
const int FEATURES = 2 * BANDS + 2;

void stretch_features(const pass *p, size_t from, size_t to, double *f)
{
    for (int k = 0; k < FEATURES; k++)
        f[k] = 0;
    if (to <= from)
        return;
    const size_t n = to - from;
    std::vector<double> band(n);
    double power = 0, onsets = 0;
    for (int b = 0; b < BANDS; b++) {
        double sum = 0;
        for (size_t i = from; i < to; i++) {
            band[i - from] = p->bands[i * BANDS + (size_t)b];
            sum += band[i - from];
        }
        f[b] = 10 * sum / (double)n;
        std::nth_element(band.begin(), band.begin() + (long)(n / 10), band.end());
        f[BANDS + b] = 10 * band[n / 10];
    }
    for (size_t i = from; i < to; i++) {
        power += p->power[i];
        onsets += p->onset[i];
    }
    f[2 * BANDS] = 10 * log10(power / (double)n + 1e-12);
    f[2 * BANDS + 1] = 10 * log10(onsets / (double)n + 1e-9);
}

/* Where sections start, as bar numbers. A bar line's change is the
 * distance between the mean of up to SECTION_REACH bars before it and
 * the mean of as many after it (so that a chord progression repeating
 * every so many bars averages out). The largest change starts a
 * section; then the next largest, its bars on each side now stopping at
 * the sections already found (a big change nearby does not hide a
 * smaller one), until none is left above MIN_NOVELTY. */
std::vector<size_t> section_starts(const pass *p, const std::vector<double> &bar_hops)
{
    const size_t bars = bar_hops.size() - 1;
    std::vector<size_t> cuts{0, bars};
    if (bars < 2 * MIN_SECTION_BARS)
        return {0};
    std::vector<std::vector<double>> f(bars, std::vector<double>(FEATURES));
    for (size_t b = 0; b < bars; b++)
        stretch_features(p, (size_t)bar_hops[b], (size_t)bar_hops[b + 1], f[b].data());
    auto change = [&](size_t lo, size_t b, size_t hi) {
        double d = 0;
        for (int k = 0; k < FEATURES; k++) {
            double before = 0, after = 0;
            for (size_t i = lo; i < b; i++)
                before += f[i][(size_t)k] / (double)(b - lo);
            for (size_t i = b; i < hi; i++)
                after += f[i][(size_t)k] / (double)(hi - b);
            d += (after - before) * (after - before);
        }
        return sqrt(d / FEATURES);
    };
    /* A section is SECTION_REACH bars at least, so that what repeats
     * within it (a crash every fourth bar) averages out on both sides
     * of a line; only the first may be as short as MIN_SECTION_BARS (an
     * intro of two bars). */
    const size_t last = bars - std::min(bars, SECTION_REACH);
    for (;;) {
        size_t best = 0;
        double best_change = MIN_NOVELTY;
        for (size_t b = MIN_SECTION_BARS; b <= last; b++) {
            auto next = std::upper_bound(cuts.begin(), cuts.end(), b);
            size_t hi = *next, lo = *(next - 1);
            if (lo == b || b - lo < (lo == 0 ? MIN_SECTION_BARS : SECTION_REACH) ||
                hi - b < SECTION_REACH)
                continue;
            double c = change(std::max(lo, b - std::min(b, SECTION_REACH)), b,
                              std::min(hi, b + SECTION_REACH));
            if (c > best_change) {
                best_change = c;
                best = b;
            }
        }
        if (!best)
            break;
        cuts.insert(std::upper_bound(cuts.begin(), cuts.end(), best), best);
    }
    cuts.pop_back();
    return cuts;
}

/* The sections between the bar lines where they start, each with its
 * level; loudness relative to the loudest; drops. */
void make_sections(const pass *p, const std::vector<double> &bar_hops, const std::vector<size_t> &starts,
                   double end_hop, std::vector<song_section> &out)
{
    const double hop_s = (double)p->hop / p->rate;
    for (size_t k = 0; k < starts.size(); k++) {
        song_section s;
        memset(&s, 0, sizeof s);
        double from = k == 0 ? 0 : bar_hops[starts[k]];
        double to = k + 1 < starts.size() ? bar_hops[starts[k + 1]] : end_hop;
        s.start = k == 0 ? 0 : from * hop_s + BEAT_OFFSET;
        s.end = k + 1 < starts.size() ? to * hop_s + BEAT_OFFSET : (double)p->samples / p->rate;
        double power = 0;
        size_t a = (size_t)std::max(0.0, from), b = std::min((size_t)to, p->power.size());
        for (size_t i = a; i < b; i++)
            power += p->power[i];
        s.level_db = 10 * log10(power / (double)std::max<size_t>(b - a, 1) + 1e-12);
        out.push_back(s);
    }
    double top = -1e9, bottom = 1e9;
    for (const song_section &s : out) {
        top = std::max(top, s.level_db);
        bottom = std::min(bottom, s.level_db);
    }
    double range = std::max(LOUDNESS_RANGE_DB, top - bottom);
    for (size_t k = 0; k < out.size(); k++) {
        song_section &s = out[k];
        s.loudness = std::min(1.0, std::max(0.0, (s.level_db - (top - range)) / range));
        s.drop = k > 0 && s.level_db - out[k - 1].level_db >= DROP_RISE_DB &&
                 s.loudness >= DROP_LOUDNESS;
    }
}

int finish(pass *p, song_analysis *out)
{
    out->duration = (double)p->samples / p->rate;
    double power = 0;
    for (float v : p->power)
        power += v;
    std::vector<double> beats;
    if (power <= SILENCE * (double)std::max<size_t>(p->power.size(), 1))
        out->verdict = SONG_SILENT;
    else
        beats = find_beats(p, &out->verdict);
    const double hop_s = (double)p->hop / p->rate;
    /* The tempo over eight beats at a time, so that the whole hops the
     * beats fall on do not show in it. */
    std::vector<double> spans;
    for (size_t i = 8; i < beats.size(); i++)
        spans.push_back((beats[i] - beats[i - 8]) * hop_s / 8);
    if (spans.empty())
        for (size_t i = 1; i < beats.size(); i++)
            spans.push_back((beats[i] - beats[i - 1]) * hop_s);
    double gap = median(spans);
    out->tempo = gap > 0 ? 60.0 / gap : 0;
    int bpb = 4, phase = 0;
    if (!beats.empty())
        find_metre(bar_start_evidence(p, beats), &bpb, &phase);
    out->beats_per_bar = beats.empty() ? 0 : bpb;
    out->beats = (song_beat *)calloc(beats.size() + 1, sizeof(song_beat));
    if (!out->beats)
        return -1;
    std::vector<double> bar_hops;
    for (size_t i = 0; i < beats.size(); i++) {
        out->beats[i].time = std::max(0.0, beats[i] * hop_s + BEAT_OFFSET);
        out->beats[i].beat_in_bar = (int)((i + (size_t)phase) % (size_t)bpb) + 1;
        if (out->beats[i].beat_in_bar == 1)
            bar_hops.push_back(beats[i]);
    }
    out->num_beats = (int)beats.size();
    if (beats.empty())
        return 0;
    /* The last bar ends as long after it starts as the bar before took
     * (or with the music). */
    double bar = bar_hops.size() >= 2 ? bar_hops.back() - bar_hops[bar_hops.size() - 2]
                                      : bpb * gap / hop_s;
    double end_hop = std::min((double)p->power.size(),
                              bar_hops.empty() ? beats.back() : bar_hops.back() + bar);
    bar_hops.push_back(end_hop);
    std::vector<song_section> sections;
    make_sections(p, bar_hops, section_starts(p, bar_hops), end_hop, sections);
    out->sections = (song_section *)calloc(sections.size(), sizeof(song_section));
    if (!out->sections)
        return -1;
    memcpy(out->sections, sections.data(), sections.size() * sizeof(song_section));
    out->num_sections = (int)sections.size();
    return 0;
}

/* libsndfile as a song_read_fn: channels mixed down. */
struct sound_file {
    SNDFILE *f;
    int channels;
    std::vector<float> buf;
};

int read_sound_file(void *ctx, float *out, int frames)
{
    sound_file *s = (sound_file *)ctx;
    s->buf.resize((size_t)frames * s->channels);
    sf_count_t got = sf_readf_float(s->f, s->buf.data(), frames);
    if (got < 0)
        return -1;
    for (sf_count_t i = 0; i < got; i++) {
        double sum = 0;
        for (int c = 0; c < s->channels; c++)
            sum += s->buf[(size_t)(i * s->channels + c)];
        out[i] = (float)(sum / s->channels);
    }
    if (got == 0 && sf_error(s->f) != SF_ERR_NO_ERROR)
        return -1;
    return (int)got;
}

} // namespace

int song_analyse(song_read_fn read, void *ctx, int rate, const int *stop, song_analysis *out,
                 char *err, size_t err_len)
{
    memset(out, 0, sizeof *out);
    if (err_len)
        err[0] = '\0';
    if (rate < 8000 || rate > 768000) {
        snprintf(err, err_len, "cannot analyse music at %d Hz", rate);
        return -1;
    }
    pass p;
    int rc = 0;
    try {
        pass_init(&p, rate);
        std::vector<float> buf(READ_FRAMES);
        const long limit = (long)rate * SONG_MAX_SECONDS;
        for (;;) {
            if (stopped(stop)) {
                rc = -1;
                break;
            }
            int want = READ_FRAMES;
            if (p.samples + want > limit)
                want = (int)(limit - p.samples);
            if (want <= 0)
                break;
            int n = read(ctx, buf.data(), want);
            if (n < 0) {
                snprintf(err, err_len, "cannot read the music");
                rc = -1;
                break;
            }
            if (n == 0)
                break;
            pass_feed(&p, buf.data(), n);
        }
        if (rc == 0) {
            pass_finish(&p);
            rc = finish(&p, out);
            if (rc != 0)
                snprintf(err, err_len, "out of memory");
        }
    } catch (const std::bad_alloc &) {
        snprintf(err, err_len, "out of memory");
        rc = -1;
    }
    pass_free(&p);
    if (rc != 0)
        song_analysis_free(out);
    return rc;
}

int song_analyse_file(const char *path, const int *stop, song_analysis *out, char *err,
                      size_t err_len)
{
    memset(out, 0, sizeof *out);
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE *f = sf_open(path, SFM_READ, &info);
    if (!f) {
        char reason[200];
        snprintf(reason, sizeof reason, "%s", sf_strerror(nullptr));
        reason[strcspn(reason, "\n")] = '\0';
        snprintf(err, err_len, "cannot analyse \"%s\": %s", path, reason);
        return -1;
    }
    if (info.channels < 1 || info.channels > 64) {
        snprintf(err, err_len, "cannot analyse \"%s\": %d channels", path, info.channels);
        sf_close(f);
        return -1;
    }
    sound_file s{f, info.channels, {}};
    char why[200];
    int rc = song_analyse(read_sound_file, &s, info.samplerate, stop, out, why, sizeof why);
    if (rc != 0 && why[0])
        snprintf(err, err_len, "cannot analyse \"%s\": %s", path, why);
    else if (rc != 0 && err_len)
        err[0] = '\0';
    sf_close(f);
    return rc;
}

void song_analysis_free(song_analysis *a)
{
    free(a->beats);
    free(a->sections);
    memset(a, 0, sizeof *a);
}

/* Why there are no beats, in words. */
static const char *verdict_text(enum song_verdict v)
{
    switch (v) {
    case SONG_BEATS:
        return "beats";
    case SONG_TOO_SHORT:
        return "too short";
    case SONG_SILENT:
        return "silent";
    case SONG_NO_BEAT:
        break;
    }
    return "no steady beat";
}

void song_analysis_print_json(const song_analysis *a, FILE *out)
{
    fprintf(out, "{\n \"analysis\": \"%s\",\n \"duration\": %.3f,\n \"tempo\": %.2f,\n"
                 " \"beats_per_bar\": %d,\n",
            verdict_text(a->verdict), a->duration, a->tempo, a->beats_per_bar);
    fprintf(out, " \"beats\": [");
    for (int i = 0; i < a->num_beats; i++)
        fprintf(out, "%s%.3f", i ? ", " : "", a->beats[i].time);
    fprintf(out, "],\n \"downbeats\": [");
    int n = 0;
    for (int i = 0; i < a->num_beats; i++)
        if (a->beats[i].beat_in_bar == 1)
            fprintf(out, "%s%.3f", n++ ? ", " : "", a->beats[i].time);
    fprintf(out, "],\n \"sections\": [");
    for (int i = 0; i < a->num_sections; i++) {
        const song_section *s = &a->sections[i];
        fprintf(out, "%s\n  {\"start\": %.3f, \"end\": %.3f, \"loudness\": %.2f, \"level_db\": %.1f, "
                     "\"drop\": %s}",
                i ? "," : "", s->start, s->end, s->loudness, s->level_db, s->drop ? "true" : "false");
    }
    fprintf(out, "%s],\n \"drops\": [", a->num_sections ? "\n " : "");
    n = 0;
    for (int i = 0; i < a->num_sections; i++)
        if (a->sections[i].drop)
            fprintf(out, "%s%.3f", n++ ? ", " : "", a->sections[i].start);
    fprintf(out, "]\n}\n");
}

const char *song_analysis_describe(const song_analysis *a, char *buf, size_t len)
{
    if (a->verdict != SONG_BEATS) {
        snprintf(buf, len, "no beats (%s)", verdict_text(a->verdict));
        return buf;
    }
    int drops = 0;
    for (int i = 0; i < a->num_sections; i++)
        drops += a->sections[i].drop;
    snprintf(buf, len, "%.1f beats a minute, %d/4, %d section%s, %d drop%s", a->tempo,
             a->beats_per_bar, a->num_sections, a->num_sections == 1 ? "" : "s", drops,
             drops == 1 ? "" : "s");
    return buf;
}
