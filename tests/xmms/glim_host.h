/* glim_host.h -- a small player stand-in for the plug-in's tests.
 *
 * Each load_glim() maps a fresh copy of libglim.so (copied to a temporary
 * file first), so every test starts from the library's load-time state,
 * even when all tests of an executable run in one process. Windows need a
 * display: ensure_display() starts one private Xvfb per process and
 * initialises GTK on it. */
#pragma once

#include <dlfcn.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/xvfb.h"
#include "xmms/src/pattern.h"
#include "xmms/vis_plugin.h"

namespace glim_host {

typedef int16_t Spectrum[2][256];

struct Glim {
    void *handle = nullptr;
    VisPlugin *vp = nullptr;  /* from get_vplugin_info */
    int (*set_fixed_pattern)(const pattern_info *, const char *) = nullptr;
    double (*get_n_scaled_values)(int16_t (*)[256], double *, int) = nullptr;
    void (*fade_hallway)(int *) = nullptr;
    int (*parse_string)(char *, char *, ...) = nullptr;
    pattern_info *patterns = nullptr;
    uint16_t *server_port = nullptr;

    template <class T> T sym(const char *name) const
    {
        return reinterpret_cast<T>(dlsym(handle, name));
    }

    /* One pattern's three functions, looked up by the pattern's name. */
    pattern_info pattern(const std::string &name) const
    {
        pattern_info p;
        p.init = sym<int (*)(char *)>((name + "_init").c_str());
        p.frame = sym<decltype(p.frame)>((name + "_frame").c_str());
        p.deinit = sym<int (*)(void)>((name + "_deinit").c_str());
        return p;
    }
};

/* A fresh copy of the library, never unloaded (GTK keeps pointers to its
 * handlers). Fails the test when the library cannot be loaded. */
inline Glim load_glim()
{
    Glim g;
    std::string src = std::string(HALL_BINARY_DIR) + "/lib/libglim.so";
    char path[] = "/tmp/glim_copyXXXXXX.so";
    int fd = mkstemps(path, 3);
    if (fd < 0) {
        ADD_FAILURE() << "mkstemps";
        return g;
    }
    close(fd);
    {
        std::ifstream in(src, std::ios::binary);
        std::ofstream out(path, std::ios::binary);
        out << in.rdbuf();
    }
    g.handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    unlink(path);
    if (!g.handle) {
        ADD_FAILURE() << "dlopen: " << dlerror();
        return g;
    }
    auto info = g.sym<VisPlugin *(*)(void)>("get_vplugin_info");
    if (info)
        g.vp = info();
    g.set_fixed_pattern = g.sym<decltype(g.set_fixed_pattern)>("glim_set_fixed_pattern");
    g.get_n_scaled_values = g.sym<decltype(g.get_n_scaled_values)>("get_n_scaled_values");
    g.fade_hallway = g.sym<decltype(g.fade_hallway)>("fade_hallway");
    g.parse_string = g.sym<decltype(g.parse_string)>("parse_string");
    g.patterns = g.sym<pattern_info *>("patterns");
    g.server_port = g.sym<uint16_t *>("server_port");
    return g;
}

/* One X server and GTK per process; false when there is no display.
 * With gdk_threads the GDK lock is set up first, as a threaded player
 * does; the first call decides. */
inline bool ensure_display(bool gdk_threads = false)
{
    static bool tried = false, ok = false;
    if (tried)
        return ok;
    tried = true;
    static testing_xvfb::Server server = testing_xvfb::start();
    if (server.display.empty())
        return false;
    atexit([] { testing_xvfb::stop(server); });
    if (gdk_threads)
        gdk_threads_init();
    ok = gtk_init_check(nullptr, nullptr);
    return ok;
}

/* Let GTK and the X server catch up. */
inline void pump_events()
{
    gdk_flush();
    for (int i = 0; i < 50 && gtk_events_pending(); i++)
        gtk_main_iteration_do(FALSE);
    gdk_flush();
}

/* The preview's toplevel windows (titled "Spectrum analyzer"). */
inline std::vector<GtkWidget *> preview_windows()
{
    std::vector<GtkWidget *> found;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l; l = l->next) {
        const char *title = gtk_window_get_title(GTK_WINDOW(l->data));
        if (title && strcmp(title, "Spectrum analyzer") == 0)
            found.push_back(GTK_WIDGET(l->data));
    }
    g_list_free(all);
    return found;
}

/* Fill row 0 (and row 1) with one value. */
inline void fill(Spectrum s, int16_t v)
{
    for (int r = 0; r < 2; r++)
        for (int i = 0; i < 256; i++)
            s[r][i] = v;
}

/* Standard output of the library, caught through a temporary file. */
struct StdoutCapture {
    int saved = -1;
    std::string path;
    StdoutCapture()
    {
        char tmpl[] = "/tmp/glim_outXXXXXX";
        int fd = mkstemp(tmpl);
        path = tmpl;
        fflush(stdout);
        saved = dup(1);
        dup2(fd, 1);
        close(fd);
    }
    /* Everything printed so far; ends the capture. */
    std::string finish()
    {
        if (saved >= 0) {
            fflush(stdout);
            dup2(saved, 1);
            close(saved);
            saved = -1;
        }
        std::ifstream in(path, std::ios::binary);
        std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        unlink(path.c_str());
        return s;
    }
    ~StdoutCapture() { finish(); }
};

/* How many times `needle` occurs in `hay`. */
inline int count_of(const std::string &hay, const std::string &needle)
{
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        n++;
    return n;
}

/* A pattern that records what the scheduler does with it. */
namespace recorder {
inline int inits, frames, deinits;
inline int init_result;                 /* what init returns */
inline int fail_on_frame = -1;          /* frame number (1-based) returning -1 */
inline std::vector<int> time_lefts;     /* time_left of every frame */
inline std::string last_param = "(null)";
inline int16_t heights[10];             /* bar heights seen by the last frame */
inline double averages[10];
inline std::vector<std::vector<int>> height_log;

inline void reset()
{
    inits = frames = deinits = 0;
    init_result = 0;
    fail_on_frame = -1;
    time_lefts.clear();
    height_log.clear();
    last_param = "(null)";
}

inline int init(char *param)
{
    inits++;
    last_param = param ? param : "(null)";
    return init_result;
}

/* Writes its frame number into every light, records the bars. */
inline int frame(double *avg, int16_t *h, int *light, int16_t (*)[256], int time_left)
{
    frames++;
    time_lefts.push_back(time_left);
    memcpy(heights, h, sizeof heights);
    memcpy(averages, avg, sizeof averages);
    height_log.emplace_back(h, h + 10);
    for (int i = 0; i < 60; i++)
        light[i] = frames;
    return frames == fail_on_frame ? -1 : 0;
}

inline int deinit(void)
{
    deinits++;
    return 0;
}

inline const pattern_info info = {init, frame, deinit};
} // namespace recorder

} // namespace glim_host
