/* host_api.cpp -- the plug-in's side of glim_host_api.h: the patterns by
 * name (made from the pattern list), their lookups, the light server's
 * port, steering while the show runs, the beat, and the versioned entry
 * that hands a host the table of functions. No state but constant tables
 * (what the functions report is the scheduler's and the beat's). */
#include "host_api.h"

#include <string.h>

#include "beat_clock.h"
#include "netserver/hall.h"
#include "pattern_list.h"
#include "scheduler.h"

/* A pattern of the list as a host sees it. */
#define HOST_API_NAMED(NAME, ROWS) {#NAME, NAME##_init, NAME##_frame, NAME##_deinit},

namespace {

/* Every pattern of the library, each once, in the list's order. */
const glim_named_pattern named_patterns[] = {
    PATTERN_LIST(HOST_API_NAMED){nullptr, nullptr, nullptr, nullptr}};

const glim_named_pattern *find_pattern(const char *name)
{
    if (!name)
        return nullptr;
    for (const glim_named_pattern *p = named_patterns; p->name; p++)
        if (strcmp(p->name, name) == 0)
            return p;
    return nullptr;
}

int set_port(int port)
{
    if (port < 1 || port > 65535)
        return -1;
    server_port = (uint16_t)port;
    return 0;
}

int fix_pattern(const char *name, const char *options)
{
    if (!name)
        return scheduler_fix(nullptr, nullptr);
    const glim_named_pattern *p = find_pattern(name);
    if (!p)
        return -1;
    pattern_info info = {p->init, p->frame, p->deinit};
    return scheduler_fix(&info, options);
}

const glim_host_api2 api = {
    {
        named_patterns,
        find_pattern,
        glim_set_fixed_pattern,
        current_pattern_name,
        set_port,
    },
    beat_clock_set_music_time,
    beat_clock_state,
    beat_clock_set_following,
    beat_clock_set_grid,
    fix_pattern,
    scheduler_next,
    scheduler_is_fixed,
};

} // namespace

const char *pattern_name_of(const pattern_info *info)
{
    for (const glim_named_pattern *p = named_patterns; p->name; p++)
        if (p->init == info->init && p->frame == info->frame)
            return p->name;
    return nullptr;
}

const char *host_api_name(int place)
{
    return named_patterns[place].name;
}

const glim_named_pattern *host_api_pattern(int place)
{
    return &named_patterns[place];
}

extern "C" const glim_host_api *glim_get_host_api(int version)
{
    /* Version 2's table starts with version 1's, which is served as it was. */
    return version == 1 || version == 2 ? &api.v1 : nullptr;
}
