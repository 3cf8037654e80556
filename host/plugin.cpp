/* plugin.cpp -- the plug-in library: opened once with dlopen, looked up
 * with dlsym (the player's entry and the host API's), never unloaded while
 * the process runs (the record, the API table and the strings they point
 * to live in the library). */
#include "host/plugin.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "installdirs/installdirs.h"
#include "xmms/glim_host_api.h"

namespace {

void *handle = nullptr;              /* the loaded library */
char library_path[PATH_MAX];         /* as it was opened */
const glim_host_api *api = nullptr;  /* NULL: the library offers none we know */
const glim_host_api2 *api2 = nullptr; /* NULL: it offers version 1 alone */

typedef VisPlugin *(*get_info_fn)(void);
typedef const glim_host_api *(*get_api_fn)(int version);

/* The host API, or NULL with a reason naming what the caller wanted. */
const glim_host_api *need_api(const char *what, char *err, size_t err_len)
{
    if (!api)
        snprintf(err, err_len, "%s offers no host API version %d (glim_get_host_api), so %s",
                 library_path, 1, what);
    return api;
}

} // namespace

const char *plugin_default_path(char *buf, size_t len)
{
    installdirs_beside_program(buf, len, "../lib/libglim.so");
    if (access(buf, F_OK) == 0)
        return buf;
    /* Neither here nor there: the installed place is the one to name. */
    return installdirs_plugin(buf, len, "libglim.so");
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
    get_api_fn get_api = (get_api_fn)dlsym(handle, "glim_get_host_api");
    /* The newest table first; a plug-in of version 1 still has the extras
     * of version 1. */
    api2 = get_api ? (const glim_host_api2 *)get_api(2) : nullptr;
    api = api2 ? &api2->v1 : get_api ? get_api(1) : nullptr;
    return 0;
}

const glim_host_api *plugin_api(void)
{
    return api;
}

const glim_host_api2 *plugin_api2(void)
{
    return api2;
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
    if (!need_api("cannot set its port", err, err_len))
        return -1;
    if (api->set_port(port) != 0) {
        snprintf(err, err_len, "%s refused port %d", library_path, port);
        return -1;
    }
    return 0;
}

int plugin_set_pattern(const char *name, const char *options, char *err, size_t err_len)
{
    if (!need_api("cannot run a chosen pattern", err, err_len))
        return -1;
    const glim_named_pattern *p = api->find_pattern(name);
    if (!p) {
        snprintf(err, err_len, "no pattern \"%s\" in %s (try --list-patterns)", name,
                 library_path);
        return -1;
    }
    pattern_info info = {p->init, p->frame, p->deinit};
    if (api->set_fixed_pattern(&info, options) != 0) {
        snprintf(err, err_len, "the plug-in refused pattern \"%s\"", name);
        return -1;
    }
    return 0;
}

const char *plugin_current_pattern(void)
{
    return api ? api->current_pattern() : nullptr;
}

int plugin_list_patterns(char *err, size_t err_len)
{
    if (!need_api("lists no patterns", err, err_len))
        return -1;
    int n = 0;
    for (const glim_named_pattern *p = api->patterns; p->name; p++, n++)
        printf("%s\n", p->name);
    return n;
}
