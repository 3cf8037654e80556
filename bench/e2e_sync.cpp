/* e2e_sync.cpp -- sound to lamp, end to end: glimhost plays a file of
 * clicks with the plug-in's brightness_level pattern (the hallway lights
 * up on every click), the box driver takes the plug-in's feed ("Main
 * Music", so port 7878 must be free) to boxemu's line at 38400 baud, and
 * a subscriber of the emulator sees each click's lamp change. Prints the
 * offset from the click being heard to the lamps changing: median, 1st
 * and 99th percentiles, and the median of the first and the last minute;
 * and how many clicks never lit the lamps.
 *
 * Then the same chain on the beat: a drum piece written as MIDI and
 * rendered by fluidsynth, played with beat_pulse (the hallway flashes on
 * every beat the plug-in follows). Each beat is heard at its kick's onset
 * in the rendered sound; once the plug-in has locked (its --beat-log),
 * every beat should reach the lamps, and the offset from beat to lamp is
 * printed as for the clicks.
 *
 * When is a click heard? With the silent clock (--mute), playback is
 * glimhost's clock: callback k is due at the clock's origin plus k + 1
 * periods of 512 samples, and the last one is the first whose position
 * reaches the end of the file. Every frame of glimhost's own feed is
 * received, so the origin follows from their arrival times (the earliest
 * against its due time), whatever the light delay. With a private sound
 * server (a null sink), the bench records the sink's monitor itself and
 * times each click as the sink plays it.
 *
 *   e2e_sync [--seconds 120] [--light-delay MS] [--silent-only]
 *            [--clicks-only | --beats-only]
 *
 * Without --light-delay it runs with 0, then with the delay that cancels
 * the median it found. Needs Xvfb (glimhost's preview window), and
 * fluidsynth with the General MIDI sound font for the beat. */
#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "boxemu/emu_support.h"
#include "support/pulse.h"
#include "support/xvfb.h"

using namespace emu_test;

namespace {

const int RATE = 44100;
const int BLOCK = 512;                       /* samples a callback */
const long LEAD = 5 * RATE;                  /* silence first: the pattern's gain settles */
const long SPACING = RATE / 2;               /* a click every half second ... */
const int CLICK_SAMPLES = 256;

std::string tmp_dir;
const char *const SOUND_FONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

/* ... each at another place in its 512-sample block. */
long click_at(int i)
{
    return LEAD + (long)i * SPACING + (i * 197) % BLOCK;
}

void write_wav(const std::string &path, const std::vector<int16_t> &s)
{
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char *>(&v), 2); };
    uint32_t bytes = (uint32_t)(s.size() * 2);
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);             /* PCM */
    u16(2);             /* stereo */
    u32(RATE);
    u32(RATE * 4);      /* bytes a second */
    u16(4);             /* bytes a frame */
    u16(16);            /* bits a sample */
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char *>(s.data()), bytes);
}

/* What a run plays and what it looks for on the lamps. */
struct Piece {
    std::string name;        /* "clicks" or "beats" */
    std::string wav;
    long frames = 0;         /* in the file */
    std::vector<long> heard; /* the sample at which each event is heard */
    const char *pattern;
    /* A lamp edge: lamp 0 at least this bright, below `edge_below` just
     * before, and risen at least `edge_rise`. */
    int edge_level, edge_below, edge_rise;
};

/* A click file of `seconds` of clicks after the lead-in, and a tail. */
Piece click_piece(double seconds)
{
    Piece p{"clicks", tmp_dir + "/clicks.wav", 0, {}, "brightness_level", 200, 128, 0};
    int clicks = (int)(seconds * RATE / SPACING);
    p.frames = click_at(clicks) + RATE;
    std::vector<int16_t> s((size_t)p.frames * 2, 0);
    for (int i = 0; i < clicks; i++) {
        p.heard.push_back(click_at(i));
        for (int j = 0; j < CLICK_SAMPLES; j++) {
            /* a decaying low tone, full scale at its first sample */
            double v = 30000.0 * cos(2 * M_PI * 2 * j / BLOCK) * (1.0 - (double)j / CLICK_SAMPLES);
            s[(size_t)(click_at(i) + j) * 2] = s[(size_t)(click_at(i) + j) * 2 + 1] = (int16_t)v;
        }
    }
    write_wav(p.wav, s);
    return p;
}

/* ---- the drum piece ---- */

const double DRUM_BPM = 120;
const double DRUM_START = 1.0;  /* seconds of silence first */
const int TICKS = 480;          /* a beat */

void vlq(std::string &out, uint32_t v)
{
    char bytes[5];
    int n = 0;
    do {
        bytes[n++] = (char)(v & 0x7f);
        v >>= 7;
    } while (v);
    while (n--)
        out += (char)(bytes[n] | (n ? 0x80 : 0));
}

/* A MIDI file (one track, channel 10): kick on every beat, snare on 2
 * and 4, closed hat on every eighth, `beats` beats after the start. */
void write_drum_midi(const std::string &path, int beats)
{
    struct Event {
        uint32_t tick;
        int status, note, velocity;
    };
    std::vector<Event> ev;
    uint32_t start = (uint32_t)(DRUM_START * DRUM_BPM / 60 * TICKS);
    for (int b = 0; b < beats; b++) {
        uint32_t t = start + (uint32_t)b * TICKS;
        ev.push_back({t, 0x99, 36, 110});
        if (b % 2)
            ev.push_back({t, 0x99, 38, 100});
        ev.push_back({t, 0x99, 42, 70});
        ev.push_back({t + TICKS / 2, 0x99, 42, 60});
        for (int note : {36, 38, 42})
            ev.push_back({t + TICKS / 4, 0x89, note, 0});
        ev.push_back({t + TICKS * 3 / 4, 0x89, 42, 0});
    }
    std::stable_sort(ev.begin(), ev.end(),
                     [](const Event &a, const Event &b) { return a.tick < b.tick; });
    std::string track("\x00\xff\x51\x03", 4); /* at 0, the tempo */
    uint32_t tempo = (uint32_t)(60e6 / DRUM_BPM);
    track += (char)(tempo >> 16);
    track += (char)(tempo >> 8);
    track += (char)tempo;
    uint32_t at = 0;
    for (const Event &e : ev) {
        vlq(track, e.tick - at);
        at = e.tick;
        track += (char)e.status;
        track += (char)e.note;
        track += (char)e.velocity;
    }
    vlq(track, 2 * TICKS);
    track += std::string("\xff\x2f\x00", 3);
    std::ofstream f(path, std::ios::binary);
    auto be = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; i--)
            f.put((char)(v >> (8 * i)));
    };
    f.write("MThd", 4);
    be(6, 4);
    be(0, 2);  /* one track */
    be(1, 2);
    be(TICKS, 2);
    f.write("MTrk", 4);
    be((uint32_t)track.size(), 4);
    f.write(track.data(), (std::streamsize)track.size());
}

/* The drum piece rendered by fluidsynth; each beat heard at its kick's
 * onset: the first sample above a tenth of the beat's peak. */
Piece drum_piece(double seconds, bool *ok)
{
    Piece p{"beats", tmp_dir + "/drums.wav", 0, {}, "beat_pulse", 150, 256, 80};
    int beats = (int)(seconds * DRUM_BPM / 60);
    std::string mid = tmp_dir + "/drums.mid", raw = tmp_dir + "/drums_raw.wav";
    write_drum_midi(mid, beats);
    std::string cmd = "fluidsynth -ni -g 0.8 -F '" + raw + "' -r 44100 " + SOUND_FONT + " '" +
                      mid + "' >/dev/null 2>&1";
    *ok = system(cmd.c_str()) == 0;
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!*ok || bytes.size() < 44 + 4 * (size_t)RATE) {
        fprintf(stderr, "e2e_sync: fluidsynth did not render the drums (%s)\n", SOUND_FONT);
        *ok = false;
        return p;
    }
    /* fluidsynth writes a plain 44-byte header, stereo 16-bit */
    std::vector<int16_t> s(bytes.size() / 2 - 22);
    memcpy(s.data(), bytes.data() + 44, s.size() * 2);
    p.frames = (long)s.size() / 2;
    for (int b = 0; b < beats; b++) {
        long from = lround((DRUM_START + b * 60 / DRUM_BPM) * RATE), to = from + RATE / 20;
        int peak = 0;
        for (long n = from; n < to && n < p.frames; n++)
            peak = std::max(peak, std::abs((int)s[2 * n]));
        for (long n = from; n < to && n < p.frames; n++)
            if (std::abs((int)s[2 * n]) * 10 > peak) {
                p.heard.push_back(n);
                break;
            }
    }
    write_wav(p.wav, s);
    return p;
}

/* ---- the private sound server and the sink's monitor ---- */

pid_t sound_server = -1;
std::atomic<bool> monitor_stop{false};
std::vector<long long> heard_onsets;  /* monitor thread only until joined */

bool start_sound_server()
{
    sound_server = testing_pulse::start(tmp_dir);
    return sound_server > 0;
}

void stop_sound_server()
{
    testing_pulse::stop(sound_server);
    sound_server = -1;
}

/* Records the null sink's monitor and notes when each click was played:
 * the newest sample read was played the stream's latency ago. */
void *monitor_main(void *)
{
    pa_sample_spec sample;
    sample.format = PA_SAMPLE_S16LE;
    sample.rate = RATE;
    sample.channels = 2;
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    attr.tlength = (uint32_t)-1;
    attr.prebuf = (uint32_t)-1;
    attr.minreq = (uint32_t)-1;
    attr.fragsize = 128 * 4;
    int error = 0;
    pa_simple *rec = pa_simple_new(nullptr, "e2e_sync", PA_STREAM_RECORD, "hallsink.monitor",
                                   "clicks heard", &sample, nullptr, &attr, &error);
    if (!rec) {
        fprintf(stderr, "e2e_sync: cannot record the sink: %s\n", pa_strerror(error));
        return nullptr;
    }
    int16_t chunk[128 * 2];
    long quiet = 0;
    while (!monitor_stop.load()) {
        if (pa_simple_read(rec, chunk, sizeof chunk, &error) < 0)
            break;
        long long now = now_ns();
        pa_usec_t latency = pa_simple_get_latency(rec, &error);
        for (int j = 0; j < 128; j++) {
            if (std::abs(chunk[2 * j]) > 2000) {
                if (quiet > RATE / 10)
                    heard_onsets.push_back(now - (long long)latency * 1000 -
                                           (long long)((127 - j) * 1e9 / RATE));
                quiet = 0;
            } else {
                quiet++;
            }
        }
    }
    pa_simple_free(rec);
    return nullptr;
}

/* ---- one run ---- */

struct Result {
    bool ok = false;
    std::vector<double> offsets_ms;  /* in event order */
    std::vector<double> minute;      /* minute of each offset */
    int events = 0;                  /* counted: all clicks, the beats after the lock */
    int lit = 0;                     /* ... that reached the lamps */
    double lock_s = -1;              /* music time of the plug-in's first beat */
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[(size_t)(p * (double)(v.size() - 1) + 0.5)];
}

/* The lamps' rising edges (the piece says what an edge is). */
struct Edges {
    int level, below, rise;
    std::vector<long long> at;
    int last = 0;
    void see(const unsigned char f[60], long long t)
    {
        if (f[0] >= level && last < below && f[0] - last >= rise)
            at.push_back(t);
        last = f[0];
    }
};

/* How far the silent clock has played (frames) when block `callback`
 * (1 = first) goes to the plug-in: its ticks are moved by the light
 * delay's part of a block, so a block goes when the clock reaches its end
 * plus the delay. Lights later than the sound start with `lead` blocks
 * of silence; lights earlier hand the blocks read ahead at the first
 * tick. */
long due_position(long callback, long delay_frames)
{
    long lead = delay_frames > 0 ? (delay_frames + BLOCK - 1) / BLOCK : 0;
    long block_end = (callback - lead) * BLOCK;
    long first_tick = BLOCK + (delay_frames % BLOCK + BLOCK) % BLOCK;
    return std::max(block_end + delay_frames, first_tick);
}

Result run(const Piece &piece, int light_delay, bool sound)
{
    Result r;

    int probe = testing_udp::hold_port(7878);
    if (probe < 0) {
        fprintf(stderr, "e2e_sync: port 7878 is in use\n");
        return r;
    }
    close(probe);
    Emulator emu;
    if (!emu.start(BOXEMU)) {
        fprintf(stderr, "e2e_sync: boxemu did not start: %s\n", emu.err().c_str());
        return r;
    }
    Subscriber lamps, feed;
    lamps.open(emu.port);

    heard_onsets.clear();
    monitor_stop = false;
    pthread_t monitor;
    bool monitoring = sound && pthread_create(&monitor, nullptr, monitor_main, nullptr) == 0;

    std::string beat_log = tmp_dir + "/beats.txt";
    std::vector<std::string> args{GLIMHOST, "--pattern", piece.pattern, "--light-delay",
                                  std::to_string(light_delay), "--beat-log", beat_log};
    if (!sound)
        args.push_back("--mute");
    args.push_back(piece.wav);
    auto host = testing_process::start(args);
    if (!testing_process::wait_for_output(host, "glimhost: playing", 20000)) {
        fprintf(stderr, "e2e_sync: glimhost did not start: %s\n", testing_process::err(host).c_str());
        testing_process::stop(host);
        emu.stop();
        return r;
    }
    unsigned short driver_port = testing_udp::free_port();
    auto driver = testing_process::start({BOXDRIVER, "--device", emu.device, "--local-port",
                                          std::to_string(driver_port)});
    feed.open(7878);

    /* Every frame of glimhost's feed, and the lamps' edges, until it ends. */
    std::vector<long long> feed_at;
    Edges edges{piece.edge_level, piece.edge_below, piece.edge_rise, {}, 0};
    long long renewed = now_ns();
    unsigned char f[60];
    while (waitpid(host.pid, &host.status, WNOHANG) == 0) {
        pollfd p[2] = {{feed.sock, POLLIN, 0}, {lamps.sock, POLLIN, 0}};
        if (poll(p, 2, 100) <= 0)
            continue;
        long long t = now_ns();
        if ((p[0].revents & POLLIN) && feed.next(f, 0))
            feed_at.push_back(t);
        if ((p[1].revents & POLLIN) && lamps.next(f, 0))
            edges.see(f, t);
        if (t - renewed > 1000000000LL) {
            feed.renew();
            lamps.renew();
            renewed = t;
        }
    }
    host.reaped = true;
    /* the last frames may still wait: they date the end */
    while (feed.next(f, 0))
        feed_at.push_back(now_ns());
    long long until = now_ns() + 300000000LL;
    while (now_ns() < until)
        if (lamps.next(f, 50))
            edges.see(f, now_ns());
    testing_process::stop(driver);
    emu.stop();
    if (monitoring) {
        monitor_stop = true;
        pthread_join(monitor, nullptr);
    }
    feed.close_it();
    lamps.close_it();

    if (feed_at.size() < 1000) {
        fprintf(stderr, "e2e_sync: only %zu frames of glimhost's feed on 7878 (another program "
                        "on the port?)\n", feed_at.size());
        return r;
    }

    /* When each event was heard. */
    std::vector<long long> heard;
    if (sound) {
        heard = heard_onsets;
        if ((int)heard.size() < (int)piece.heard.size() * 9 / 10) {
            fprintf(stderr, "e2e_sync: the monitor heard %zu of %zu clicks\n", heard.size(),
                    piece.heard.size());
            return r;
        }
    } else {
        /* The last frames, counted back from the last callback; a frame
         * lost on the way would shift those before it by a period, so
         * only the final stretch is used. */
        long delay_frames = lround(light_delay * RATE / 1000.0);
        long lead = delay_frames > 0 ? (delay_frames + BLOCK - 1) / BLOCK : 0;
        long last = (piece.frames + BLOCK - 1) / BLOCK + lead;
        double origin = 1e300;
        size_t n = feed_at.size(), stretch = std::min(n, (size_t)2000);
        for (size_t j = n - stretch; j < n; j++) {
            long played = due_position(last - (long)(n - 1 - j), delay_frames);
            origin = std::min(origin, (double)feed_at[j] - (double)played * 1e9 / RATE);
        }
        for (long at : piece.heard)
            heard.push_back((long long)(origin + (double)at * 1e9 / RATE));
    }

    /* Events that count: every click; the beats once the plug-in locked. */
    std::ifstream log(beat_log);
    if (!(log >> r.lock_s))
        r.lock_s = -1;
    size_t first = 0;
    if (piece.name == "beats") {
        if (r.lock_s < 0) {
            fprintf(stderr, "e2e_sync: the plug-in never locked on the drums\n");
            return r;
        }
        while (first < piece.heard.size() && (double)piece.heard[first] / RATE < r.lock_s + 0.1)
            first++;
    }
    r.events = piece.name == "beats" ? (int)(heard.size() - first) : (int)piece.heard.size();

    /* Each lamp edge belongs to the event heard nearest before it plus
     * a little; edges far from any event are not counted. */
    std::vector<bool> lit(heard.size(), false);
    for (long long e : edges.at) {
        size_t best = 0;
        double best_ms = 1e9;
        for (size_t i = first; i < heard.size(); i++) {
            double ms = (double)(e - heard[i]) / 1e6;
            if (std::fabs(ms - 20) < std::fabs(best_ms - 20)) {
                best_ms = ms;
                best = i;
            }
        }
        if (std::fabs(best_ms) < 200 && !lit[best]) {
            lit[best] = true;
            r.offsets_ms.push_back(best_ms);
            r.minute.push_back((double)(heard[best] - heard.front()) / 60e9);
        }
    }
    r.lit = (int)r.offsets_ms.size();
    r.ok = r.lit >= r.events * 9 / 10;
    if (!r.ok)
        fprintf(stderr, "e2e_sync: only %d of %d %s lit the lamps\n", r.lit, r.events,
                piece.name.c_str());
    return r;
}

void report(const char *clock, const Piece &piece, int light_delay, const Result &r)
{
    std::vector<double> first, last;
    double minutes = r.minute.empty() ? 0 : r.minute.back();
    for (size_t i = 0; i < r.offsets_ms.size(); i++) {
        if (r.minute[i] < 1)
            first.push_back(r.offsets_ms[i]);
        if (r.minute[i] >= minutes - 1)
            last.push_back(r.offsets_ms[i]);
    }
    double p1 = percentile(r.offsets_ms, 0.01), p99 = percentile(r.offsets_ms, 0.99);
    char locked[64] = "";
    if (piece.name == "beats")
        snprintf(locked, sizeof locked, " after the lock at %.2f s", r.lock_s);
    printf("e2e_sync: %s, %s, --light-delay %d: %d of %d %s%s reached the lamps (%d lost); "
           "sound to lamp median %.1f ms, 1st percentile %.1f, 99th %.1f (spread %.1f ms); "
           "median first minute %.1f, last minute %.1f\n",
           piece.name.c_str(), clock, light_delay, r.lit, r.events, piece.name.c_str(), locked,
           r.events - r.lit, percentile(r.offsets_ms, 0.5), p1, p99, p99 - p1,
           percentile(first, 0.5), percentile(last, 0.5));
}

/* Run with 0 (or the given delay) and then with the delay that cancels
 * the median found. */
void measure(const char *clock, const Piece &piece, bool sound, bool fixed, int light_delay)
{
    Result r = run(piece, light_delay, sound);
    if (!r.ok)
        return;
    report(clock, piece, light_delay, r);
    if (fixed)
        return;
    int cancel = light_delay - (int)std::lround(percentile(r.offsets_ms, 0.5));
    Result c = run(piece, cancel, sound);
    if (c.ok)
        report(clock, piece, cancel, c);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    double seconds = 120;
    int light_delay = 0;
    bool fixed = false, silent_only = false, clicks = true, beats = true;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (a == "--light-delay" && i + 1 < argc) {
            light_delay = atoi(argv[++i]);
            fixed = true;
        } else if (a == "--silent-only") {
            silent_only = true;
        } else if (a == "--clicks-only") {
            beats = false;
        } else if (a == "--beats-only") {
            clicks = false;
        } else {
            printf("usage: e2e_sync [--seconds S] [--light-delay MS] [--silent-only] "
                   "[--clicks-only | --beats-only]\n");
            return a == "--help" ? 0 : 2;
        }
    }
    if (seconds < 10) {
        fprintf(stderr, "e2e_sync: --seconds takes 10 or more\n");
        return 2;
    }
    char dir[] = "/tmp/e2e_syncXXXXXX";
    if (!mkdtemp(dir)) {
        perror("e2e_sync: mkdtemp");
        return 1;
    }
    tmp_dir = dir;
    auto x = testing_xvfb::start();
    if (x.display.empty()) {
        fprintf(stderr, "e2e_sync: Xvfb did not start\n");
        return 1;
    }
    if (clicks) {
        Piece p = click_piece(seconds);
        printf("e2e_sync: clicks every %.1f s for %.0f s, brightness_level, box driver at 38400 "
               "baud to boxemu\n", (double)SPACING / RATE, seconds);
        measure("silent clock", p, false, fixed, light_delay);
        if (!silent_only) {
            if (start_sound_server())
                measure("sound server (null sink)", p, true, fixed, light_delay);
            else
                printf("e2e_sync: no private sound server (pulseaudio): silent clock only\n");
            stop_sound_server();
        }
    }
    bool rendered = false;
    Piece d = beats ? drum_piece(seconds / 2, &rendered) : Piece{};
    if (rendered) {
        printf("e2e_sync: drums at %.0f BPM for %.0f s (rendered by fluidsynth), beat_pulse, box "
               "driver at 38400 baud to boxemu\n", DRUM_BPM, seconds / 2);
        measure("silent clock", d, false, fixed, light_delay);
    }
    testing_xvfb::stop(x);
    std::string rm = "rm -rf '" + tmp_dir + "'";
    (void)!system(rm.c_str());
    return 0;
}
