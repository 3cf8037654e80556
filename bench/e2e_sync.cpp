/* e2e_sync.cpp -- sound to lamp, end to end: glimhost plays a file of
 * clicks with the plug-in's brightness_level pattern (the hallway lights
 * up on every click), the box driver takes the plug-in's feed ("Main
 * Music", so port 7878 must be free) to boxemu's line at 38400 baud, and
 * a subscriber of the emulator sees each click's lamp change. Prints the
 * offset from the click being heard to the lamps changing: median, 1st
 * and 99th percentiles, and the median of the first and the last minute.
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
 *
 * Without --light-delay it runs with 0, then with the delay that cancels
 * the median it found. Needs Xvfb (glimhost's preview window). */
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
const double PERIOD_NS = 1e9 * BLOCK / RATE; /* 11.6 ms */
const long LEAD = 5 * RATE;                  /* silence first: the pattern's gain settles */
const long SPACING = RATE / 2;               /* a click every half second ... */
const int CLICK_SAMPLES = 256;

std::string tmp_dir;

/* ... each at another place in its 512-sample block. */
long click_at(int i)
{
    return LEAD + (long)i * SPACING + (i * 197) % BLOCK;
}

/* A click file of `seconds` of clicks after the lead-in, and a tail. */
long write_clicks(const std::string &path, double seconds, int *clicks)
{
    *clicks = (int)(seconds * RATE / SPACING);
    long frames = click_at(*clicks) + RATE;
    std::vector<int16_t> s((size_t)frames * 2, 0);
    for (int i = 0; i < *clicks; i++)
        for (int j = 0; j < CLICK_SAMPLES; j++) {
            /* a decaying low tone, full scale at its first sample */
            double v = 30000.0 * cos(2 * M_PI * 2 * j / BLOCK) * (1.0 - (double)j / CLICK_SAMPLES);
            s[(size_t)(click_at(i) + j) * 2] = s[(size_t)(click_at(i) + j) * 2 + 1] = (int16_t)v;
        }
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
    return frames;
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
    std::vector<double> offsets_ms;  /* in click order */
    std::vector<double> minute;      /* minute of each offset */
    int clicks = 0;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[(size_t)(p * (double)(v.size() - 1) + 0.5)];
}

/* The lamps' rising edges: lamp 0 lit after it was dark. */
struct Edges {
    std::vector<long long> at;
    int last = 0;
    void see(const unsigned char f[60], long long t)
    {
        if (f[0] >= 200 && last < 128)
            at.push_back(t);
        last = f[0];
    }
};

Result run(double seconds, int light_delay, bool sound)
{
    Result r;
    std::string wav = tmp_dir + "/clicks.wav";
    long frames = write_clicks(wav, seconds, &r.clicks);

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

    std::vector<std::string> args{GLIMHOST, "--pattern", "brightness_level", "--light-delay",
                                  std::to_string(light_delay)};
    if (!sound)
        args.push_back("--mute");
    args.push_back(wav);
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
    Edges edges;
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

    /* When each click was heard. */
    std::vector<long long> heard;
    if (sound) {
        heard = heard_onsets;
        if ((int)heard.size() < r.clicks * 9 / 10) {
            fprintf(stderr, "e2e_sync: the monitor heard %zu of %d clicks\n", heard.size(), r.clicks);
            return r;
        }
    } else {
        /* The last frames, counted back from the last callback; a frame
         * lost on the way would shift those before it by a period, so
         * only the final stretch is used. */
        long last_tick = (frames + BLOCK - 1) / BLOCK - 1;
        double origin = 1e300;
        size_t n = feed_at.size(), stretch = std::min(n, (size_t)2000);
        for (size_t j = n - stretch; j < n; j++) {
            long tick = last_tick - (long)(n - 1 - j);
            origin = std::min(origin, (double)feed_at[j] - (double)(tick + 1) * PERIOD_NS);
        }
        for (int i = 0; i < r.clicks; i++)
            heard.push_back((long long)(origin + (double)click_at(i) * 1e9 / RATE));
    }

    /* Each lamp edge belongs to the click heard nearest before it plus
     * a little; edges far from any click are not counted. */
    for (long long e : edges.at) {
        long long best = 0;
        double best_ms = 1e9;
        for (long long h : heard) {
            double ms = (double)(e - h) / 1e6;
            if (std::fabs(ms - 20) < std::fabs(best_ms - 20)) {
                best_ms = ms;
                best = h;
            }
        }
        if (std::fabs(best_ms) < 200) {
            r.offsets_ms.push_back(best_ms);
            r.minute.push_back((double)(best - heard.front()) / 60e9);
        }
    }
    r.ok = r.offsets_ms.size() >= (size_t)r.clicks * 9 / 10;
    if (!r.ok)
        fprintf(stderr, "e2e_sync: only %zu of %d clicks lit the lamps\n", r.offsets_ms.size(),
                r.clicks);
    return r;
}

void report(const char *clock, int light_delay, const Result &r)
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
    printf("e2e_sync: %s, --light-delay %d: %zu of %d clicks; sound to lamp median %.1f ms, "
           "1st percentile %.1f, 99th %.1f (spread %.1f ms); median first minute %.1f, "
           "last minute %.1f\n",
           clock, light_delay, r.offsets_ms.size(), r.clicks, percentile(r.offsets_ms, 0.5), p1,
           p99, p99 - p1, percentile(first, 0.5), percentile(last, 0.5));
}

/* Run with 0 (or the given delay) and then with the delay that cancels
 * the median found. */
void measure(const char *clock, double seconds, bool sound, bool fixed, int light_delay)
{
    Result r = run(seconds, light_delay, sound);
    if (!r.ok)
        return;
    report(clock, light_delay, r);
    if (fixed)
        return;
    int cancel = light_delay - (int)std::lround(percentile(r.offsets_ms, 0.5));
    Result c = run(seconds, cancel, sound);
    if (c.ok)
        report(clock, cancel, c);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    double seconds = 120;
    int light_delay = 0;
    bool fixed = false, silent_only = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (a == "--light-delay" && i + 1 < argc) {
            light_delay = atoi(argv[++i]);
            fixed = true;
        } else if (a == "--silent-only") {
            silent_only = true;
        } else {
            printf("usage: e2e_sync [--seconds S] [--light-delay MS] [--silent-only]\n");
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
    printf("e2e_sync: clicks every %.1f s for %.0f s, brightness_level, box driver at 38400 baud "
           "to boxemu\n", (double)SPACING / RATE, seconds);
    measure("silent clock", seconds, false, fixed, light_delay);
    if (!silent_only) {
        if (start_sound_server())
            measure("sound server (null sink)", seconds, true, fixed, light_delay);
        else
            printf("e2e_sync: no private sound server (pulseaudio): silent clock only\n");
        stop_sound_server();
    }
    testing_xvfb::stop(x);
    std::string rm = "rm -rf '" + tmp_dir + "'";
    (void)!system(rm.c_str());
    return 0;
}
