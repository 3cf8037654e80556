/* glim_callback.cpp -- cost of the plug-in's spectrum callback as the
 * player calls it (analysis, beat tracker, scheduler, pattern, frame sent
 * to ten loopback subscribers, preview redrawn on a private Xvfb), the
 * same with the host telling each callback's music time, of the sending
 * alone, and of each table pattern's frame and the beat patterns' alone.
 * Built twice: the nodraw build replaces the preview's drawing calls with
 * empty ones, so callback minus sending is the analysis, the beat and the
 * pattern. */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "support/udp.h"
#include "support/xvfb.h"
#include "../xmms/glim_host_api.h"
#include "../xmms/src/pattern.h"
#include "../xmms/vis_plugin.h"

#ifdef GLIM_BENCH_NO_DRAW
extern "C" {
void gdk_draw_rectangle(GdkDrawable *, GdkGC *, gboolean, gint, gint, gint, gint) {}
void gdk_draw_drawable(GdkDrawable *, GdkGC *, GdkDrawable *, gint, gint, gint, gint,
                       gint, gint) {}
void gdk_window_clear(GdkWindow *) {}
}
#endif

namespace {

const int SUBSCRIBERS = 10;
const int SPECTRA = 64;
int16_t spectra[SPECTRA][2][256];
void *lib;
VisPlugin *vp;
int subscribers[SUBSCRIBERS];
testing_xvfb::Server xserver;

template <class T> T sym(const char *name)
{
    return reinterpret_cast<T>(dlsym(lib, name));
}

/* Music-like spectra: loud low bins, falling off, varying. */
void make_spectra()
{
    srand(2001);
    for (auto &s : spectra)
        for (int i = 0; i < 256; i++)
            s[0][i] = s[1][i] = (int16_t)(rand() % 30000 / (1 + i / 8));
}

/* Every subscriber sends one byte to the plug-in's port (subscribe or
 * renew), and its waiting frames are thrown away. */
void renew_subscribers(uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    unsigned char buf[256];
    for (int s : subscribers) {
        while (recv(s, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
        sendto(s, "x", 1, 0, (sockaddr *)&to, sizeof to);
    }
}

bool set_up()
{
    xserver = testing_xvfb::start();
    if (xserver.display.empty() || !gtk_init_check(nullptr, nullptr)) {
        fprintf(stderr, "no X server for the preview\n");
        return false;
    }
    lib = dlopen(GLIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return false;
    }
    vp = sym<VisPlugin *(*)(void)>("get_vplugin_info")();
    uint16_t *port = sym<uint16_t *>("server_port");
    for (int &s : subscribers) {
        s = testing_udp::open_socket();
        if (s < 0)
            return false;
    }
    *port = testing_udp::free_port(); /* for the plug-in's server */

    fflush(stdout);
    int saved = dup(1);
    freopen("/dev/null", "w", stdout);  /* the scheduler's messages */
    vp->init();
    vp->playback_start();
    vp->render_freq(spectra[0]);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return true;
}

/* The host's music time for each callback (glimhost's way), or none (a
 * player's: the plug-in counts callbacks at their measured rate). */
void (*set_music_time)(double) = nullptr;
double music_time = 0;

/* range(0): subscribers; run the one without any first, before the
 * others have subscribed (they stay on the list for 3000 frames). */
void BM_Callback(benchmark::State &state)
{
    uint16_t port = *sym<uint16_t *>("server_port");
    bool subscribed = state.range(0) > 0;
    if (subscribed)
        renew_subscribers(port);
    int i = 0;
    FILE *quiet = fopen("/dev/null", "w");
    int saved = dup(1);
    fflush(stdout);
    dup2(fileno(quiet), 1);
    for (auto _ : state) {
        if (set_music_time)
            set_music_time(music_time += 512.0 / 44100.0);
        vp->render_freq(spectra[i++ % SPECTRA]);
        if (i % 500 == 0) {
            state.PauseTiming();
            if (subscribed)
                renew_subscribers(port);
            while (gtk_events_pending())
                gtk_main_iteration_do(FALSE);
            state.ResumeTiming();
        }
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    fclose(quiet);
}

void BM_CallbackWithMusicTime(benchmark::State &state)
{
    auto get = sym<const glim_host_api *(*)(int)>("glim_get_host_api");
    set_music_time = ((const glim_host_api2 *)get(2))->set_music_time;
    BM_Callback(state);
    set_music_time = nullptr;
}

void BM_SendToTenSubscribers(benchmark::State &state)
{
    auto render = sym<int (*)(int *)>("renderFrame");
    uint16_t port = *sym<uint16_t *>("server_port");
    int light[60];
    for (int k = 0; k < 60; k++)
        light[k] = k * 4;
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(render(light));
        if (++i % 500 == 0) {
            state.PauseTiming();
            renew_subscribers(port);
            state.ResumeTiming();
        }
    }
}

void BM_PatternFrame(benchmark::State &state, const char *name, const char *options)
{
    std::string n = name;
    auto init = sym<int (*)(char *)>((n + "_init").c_str());
    auto frame = sym<int (*)(double *, int16_t *, int *, int16_t (*)[256], int)>(
        (n + "_frame").c_str());
    double averages[10] = {};
    int16_t heights[10] = {};
    int light[60] = {};
    std::string copy = options ? options : "";
    fflush(stdout);
    int saved = dup(1);
    FILE *quiet = fopen("/dev/null", "w");
    dup2(fileno(quiet), 1);
    init(options ? copy.data() : nullptr);
    int i = 0;
    for (auto _ : state) {
        if (frame(averages, heights, light, spectra[i++ % SPECTRA], 100) < 0)
            init(options ? copy.data() : nullptr);  /* rise ends every 145 */
        benchmark::DoNotOptimize(light);
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    fclose(quiet);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    make_spectra();
    if (!set_up())
        return 1;
#ifdef GLIM_BENCH_NO_DRAW
    benchmark::AddCustomContext("preview drawing", "off (GDK drawing calls stubbed)");
#else
    benchmark::AddCustomContext("preview drawing", "on (Xvfb)");
#endif
    benchmark::RegisterBenchmark("callback/subscribers", BM_Callback)->Arg(0)->Arg(SUBSCRIBERS);
    benchmark::RegisterBenchmark("callback_music_time/subscribers", BM_CallbackWithMusicTime)
        ->Arg(0);
    benchmark::RegisterBenchmark("send/10_subscribers", BM_SendToTenSubscribers);
    benchmark::RegisterBenchmark("frame/brightness_level", BM_PatternFrame,
                                 "brightness_level", nullptr);
    benchmark::RegisterBenchmark("frame/random_spots", BM_PatternFrame, "random_spots",
                                 nullptr);
    benchmark::RegisterBenchmark("frame/sine_wave", BM_PatternFrame, "sine_wave", nullptr);
    benchmark::RegisterBenchmark("frame/spinning_stripe", BM_PatternFrame,
                                 "spinning_stripe", nullptr);
    benchmark::RegisterBenchmark("frame/rise", BM_PatternFrame, "rise", nullptr);
    benchmark::RegisterBenchmark("frame/beat_pulse", BM_PatternFrame, "beat_pulse", nullptr);
    benchmark::RegisterBenchmark("frame/beat_chase", BM_PatternFrame, "beat_chase", nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vp->cleanup();
    testing_xvfb::stop(xserver);
    return 0;
}
