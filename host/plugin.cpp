/* plugin.cpp -- the plug-in library: opened once with dlopen, looked up
 * with dlsym, never unloaded while the process runs (the record and the
 * strings it points to live in the library). */
#include "host/plugin.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "xmms/src/pattern.h"

const char *const plugin_known_patterns[] = {
    "sine_wave", "rise", "random_spots", "brightness_level", "spinning_stripe",
    "simple_equalizer", "ring_equalizer", "trailing_lines", "bar_equalizer",
    "center_meter", "vertical_meter", "swirl_meter", "vertical_spectrum",
    "warp_core", "explosion", "auto_pong", nullptr,
};

namespace {

void *handle = nullptr;            /* the loaded library */
char library_path[PATH_MAX];       /* as it was opened */
pattern_info fixed_pattern;        /* handed to the plug-in; must outlive it */

/* Pattern table watching, for the status line. */
const int WATCH_ROWS = 16;
typedef int (*init_fn)(char *);
init_fn watched_init[WATCH_ROWS];                /* the table's own init of each row */
char watched_name[WATCH_ROWS][64];               /* "rise" for rise_init */
std::atomic<int> current_row{-1};                /* last row whose init accepted */

int watched_call(int row, char *param)
{
    int r = watched_init[row](param);
    if (r == 0)
        current_row.store(row);
    return r;
}

} // namespace

/* The plug-in's scheduler calls these in place of each row's init, so
 * they have C linkage; each passes straight through to the row's own. */
extern "C" {
#define WATCH_ROW(n) \
    static int watch_init_##n(char *param) { return watched_call(n, param); }
WATCH_ROW(0) WATCH_ROW(1) WATCH_ROW(2) WATCH_ROW(3) WATCH_ROW(4) WATCH_ROW(5)
WATCH_ROW(6) WATCH_ROW(7) WATCH_ROW(8) WATCH_ROW(9) WATCH_ROW(10) WATCH_ROW(11)
WATCH_ROW(12) WATCH_ROW(13) WATCH_ROW(14) WATCH_ROW(15)
#undef WATCH_ROW
}

namespace {

const init_fn watchers[WATCH_ROWS] = {
    watch_init_0,  watch_init_1,  watch_init_2,  watch_init_3,  watch_init_4,  watch_init_5,
    watch_init_6,  watch_init_7,  watch_init_8,  watch_init_9,  watch_init_10, watch_init_11,
    watch_init_12, watch_init_13, watch_init_14, watch_init_15,
};

typedef VisPlugin *(*get_info_fn)(void);
typedef int (*set_fixed_fn)(const pattern_info *info, const char *options);

/* The three functions of pattern `name`; 0 when all resolve. */
int find_pattern(const char *name, pattern_info *info)
{
    char sym[128];
    snprintf(sym, sizeof sym, "%s_init", name);
    info->init = (int (*)(char *))dlsym(handle, sym);
    snprintf(sym, sizeof sym, "%s_frame", name);
    info->frame = (int (*)(double *, int16_t *, int *, int16_t (*)[256], int))dlsym(handle, sym);
    snprintf(sym, sizeof sym, "%s_deinit", name);
    info->deinit = (int (*)(void))dlsym(handle, sym);
    return info->init && info->frame && info->deinit ? 0 : -1;
}

} // namespace

const char *plugin_default_path(char *buf, size_t len)
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        snprintf(buf, len, "libglim.so");
        return buf;
    }
    exe[n] = '\0';
    char *slash = strrchr(exe, '/');
    if (slash)
        *slash = '\0';
    snprintf(buf, len, "%s/../lib/libglim.so", exe);
    return buf;
}

int plugin_open(const char *path, char *err, size_t err_len)
{
    /* A bare name would make dlopen search the library path instead. */
    if (!strchr(path, '/'))
        snprintf(library_path, sizeof library_path, "./%s", path);
    else
        snprintf(library_path, sizeof library_path, "%s", path);
    handle = dlopen(library_path, RTLD_NOW);
    if (!handle) {
        snprintf(err, err_len, "cannot load plug-in: %s", dlerror());
        return -1;
    }
    return 0;
}

VisPlugin *plugin_record(void (*disable_plugin)(VisPlugin *), char *err, size_t err_len)
{
    get_info_fn get_info = (get_info_fn)dlsym(handle, "get_vplugin_info");
    if (!get_info) {
        snprintf(err, err_len, "%s is not a visualisation plug-in (no get_vplugin_info)",
                 library_path);
        return nullptr;
    }
    VisPlugin *vp = get_info();
    if (!vp) {
        snprintf(err, err_len, "%s: get_vplugin_info returned no record", library_path);
        return nullptr;
    }
    vp->handle = handle;
    vp->filename = library_path;
    vp->xmms_session = 0;
    vp->disable_plugin = disable_plugin;
    return vp;
}

int plugin_set_port(int port, char *err, size_t err_len)
{
    uint16_t *server_port = (uint16_t *)dlsym(handle, "server_port");
    if (!server_port) {
        snprintf(err, err_len, "%s has no server_port to set", library_path);
        return -1;
    }
    *server_port = (uint16_t)port;
    return 0;
}

int plugin_set_pattern(const char *name, const char *options, char *err, size_t err_len)
{
    set_fixed_fn set_fixed = (set_fixed_fn)dlsym(handle, "glim_set_fixed_pattern");
    if (!set_fixed) {
        snprintf(err, err_len, "%s cannot run a chosen pattern (no glim_set_fixed_pattern)",
                 library_path);
        return -1;
    }
    if (find_pattern(name, &fixed_pattern) != 0) {
        snprintf(err, err_len, "no pattern \"%s\" in %s (try --list-patterns)", name,
                 library_path);
        return -1;
    }
    if (set_fixed(&fixed_pattern, options) != 0) {
        snprintf(err, err_len, "the plug-in refused pattern \"%s\"", name);
        return -1;
    }
    return 0;
}

int plugin_watch_patterns(void)
{
    pattern_info *table = (pattern_info *)dlsym(handle, "patterns");
    if (!table)
        return -1;
    int rows = 0;
    for (; rows < WATCH_ROWS && table[rows].init; rows++) {
        watched_init[rows] = table[rows].init;
        Dl_info where;
        if (dladdr((void *)table[rows].init, &where) && where.dli_sname) {
            snprintf(watched_name[rows], sizeof watched_name[rows], "%s", where.dli_sname);
            size_t n = strlen(watched_name[rows]);
            if (n > 5 && strcmp(watched_name[rows] + n - 5, "_init") == 0)
                watched_name[rows][n - 5] = '\0';
        } else {
            snprintf(watched_name[rows], sizeof watched_name[rows], "row %d", rows);
        }
    }
    /* A longer table is left as it is rather than half watched. */
    if (rows == WATCH_ROWS && table[rows].init)
        return -1;
    for (int i = 0; i < rows; i++)
        table[i].init = watchers[i];
    return rows;
}

const char *plugin_current_pattern(void)
{
    int row = current_row.load();
    return row < 0 ? nullptr : watched_name[row];
}

int plugin_list_patterns(void)
{
    int n = 0;
    for (int i = 0; plugin_known_patterns[i]; i++) {
        pattern_info info;
        if (find_pattern(plugin_known_patterns[i], &info) == 0) {
            printf("%s\n", plugin_known_patterns[i]);
            n++;
        }
    }
    return n;
}
