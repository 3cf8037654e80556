/* host_latency.cpp -- audio-to-light latency of glimhost's player loop:
 * a source of single-sample clicks in silence is played silently,
 * then through the sound server when one answers, a minimal plug-in lights
 * channel 0 when its spectrum is not flat zero, and a subscriber on
 * 127.0.0.1 times each lit frame against the moment its click entered
 * the playback stream. Prints median and worst over 50 clicks, in all
 * and beyond the output's own buffering (the latency the sound server
 * reports for the stream when the click shows). */
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "host/audio_out.h"
#include "host/audio_source.h"
#include "host/player.h"
#include "netserver/hall.h"
#include "support/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int RATE = 44100;
const int CLICKS = 50;
const long FIRST_CLICK = 2 * RATE;       /* after the stream has settled */
const long SPACING = RATE / 5;           /* 0.2 s apart */

long source_pos = 0;
int lights[60];

/* Click i sits at a different place in its 512-frame block each time. */
long click_at(int i)
{
    return FIRST_CLICK + i * SPACING + (i * 197) % 512;
}

int click_read(int16_t *stereo, int frames)
{
    memset(stereo, 0, sizeof(int16_t) * 2 * frames);
    for (int i = 0; i < CLICKS + 5; i++) {
        long p = click_at(i) - source_pos;
        if (p >= 0 && p < frames)
            stereo[2 * p] = stereo[2 * p + 1] = 32767;
    }
    source_pos += frames;
    return frames;
}

/* An impulse gives every bin about 128; silence gives 0. */
void bench_render_freq(int16_t freq[2][256])
{
    int peak = 0;
    for (int i = 0; i < 256; i++)
        peak = std::max(peak, (int)freq[0][i]);
    lights[0] = peak > 50 ? 255 : 0;
    renderFrame(lights);
}

VisPlugin bench_vp;

void *render_main(void *)
{
    player_run();
    return nullptr;
}

int64_t now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

/* A loopback socket subscribed to the plug-in's light server. */
int open_subscriber(void)
{
    int s = testing_udp::open_socket();
    testing_udp::send_to(s, server_port, "A", 1);
    return s;
}

/* One measurement over the silent clock or the sound stream. */
void measure(bool sound)
{
    server_port = testing_udp::free_port();
    if (init_lights() != 0) {
        printf("host_latency: cannot start the light server\n");
        return;
    }
    source_pos = 0;
    audio_source src;
    memset(&src, 0, sizeof src);
    snprintf(src.name, sizeof src.name, "clicks");
    src.rate = RATE;
    src.read = click_read;
    bench_vp.num_freq_chs_wanted = 1;
    bench_vp.render_freq = bench_render_freq;
    if (out_open(RATE, sound ? 0 : 1) != (sound ? 1 : 0)) {
        deinit_lights();
        return;  /* no sound server: out_open said so */
    }
    int sub = open_subscriber();
    if (player_prepare(&src, &bench_vp, 0, 0) != 0) {
        printf("host_latency: cannot plan the FFT\n");
        return;
    }
    pthread_t thread;
    pthread_create(&thread, nullptr, render_main, nullptr);

    std::vector<double> latency_ms, beyond_ms;  /* total, and beyond the output's buffering */
    unsigned char frame[60], last = 0;
    pollfd p{sub, POLLIN, 0};
    int next_click = 0;
    while (next_click < CLICKS && poll(&p, 1, 5000) > 0) {
        ssize_t n = recv(sub, frame, sizeof frame, 0);
        int64_t arrived = now_ns();
        if (n != 60)
            continue;
        if (frame[0] == 255 && last == 0 && next_click < CLICKS) {
            /* the newest click that had entered the stream by now (a click
             * lost to an output failure must not shift the rest) */
            while (next_click + 1 < CLICKS) {
                int64_t e = out_entry_time(click_at(next_click + 1));
                if (e < 0 || e > arrived)
                    break;
                next_click++;
            }
            int64_t entered = out_entry_time(click_at(next_click++));
            if (entered >= 0) {
                double total = (arrived - entered) / 1e6;
                latency_ms.push_back(total);
                beyond_ms.push_back(total - 1000.0 * out_buffered_frames() / RATE);
            }
        }
        last = frame[0];
    }
    bool audible = out_audible();
    player_stop();
    pthread_join(thread, nullptr);
    out_close(0);
    deinit_lights();
    close(sub);

    if (latency_ms.size() < (size_t)CLICKS / 2) {
        printf("host_latency: only %zu of %d clicks seen\n", latency_ms.size(), CLICKS);
        return;
    }
    std::sort(latency_ms.begin(), latency_ms.end());
    std::sort(beyond_ms.begin(), beyond_ms.end());
    auto median = [](const std::vector<double> &v) { return (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2; };
    double period = 1000.0 * 512 / RATE;
    printf("host_latency: %s output, %zu of %d clicks: median %.2f ms, worst %.2f ms\n",
           audible ? "sound" : "silent", latency_ms.size(), CLICKS, median(latency_ms),
           latency_ms.back());
    printf("host_latency: beyond the output's own buffering: median %.2f ms, worst %.2f ms "
           "(%.2f callback periods of %.1f ms)\n",
           median(beyond_ms), beyond_ms.back(), beyond_ms.back() / period, period);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc > 1) {
        printf("usage: host_latency\nMeasures over the silent output, then over the sound "
               "server when one answers.\n");
        return strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    measure(false);
    measure(true);
    return 0;
}
