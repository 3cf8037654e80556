/* host_api.cpp -- the plug-in's side of glim_host_api.h: the one table of
 * patterns by name, its lookups, the light server's port, and the
 * versioned entry that hands a host the table of functions. No state but
 * constant tables (the current pattern's name is the scheduler's). */
#include "host_api.h"

#include <string.h>

#include "game_patterns.h"
#include "netserver/hall.h"
#include "scheduler.h"
#include "simple_patterns.h"
#include "simple_patterns_equalizers.h"
#include "simple_patterns_explosion.h"
#include "simple_patterns_meters.h"
#include "simple_patterns_motion.h"

namespace {

/* Every pattern of the library, the scheduler's first, in the order a
 * host lists them. */
const glim_named_pattern named_patterns[] = {
    {"sine_wave", sine_wave_init, sine_wave_frame, sine_wave_deinit},
    {"rise", rise_init, rise_frame, rise_deinit},
    {"random_spots", random_spots_init, random_spots_frame, random_spots_deinit},
    {"brightness_level", brightness_level_init, brightness_level_frame,
     brightness_level_deinit},
    {"spinning_stripe", spinning_stripe_init, spinning_stripe_frame, spinning_stripe_deinit},
    {"simple_equalizer", simple_equalizer_init, simple_equalizer_frame,
     simple_equalizer_deinit},
    {"ring_equalizer", ring_equalizer_init, ring_equalizer_frame, ring_equalizer_deinit},
    {"trailing_lines", trailing_lines_init, trailing_lines_frame, trailing_lines_deinit},
    {"bar_equalizer", bar_equalizer_init, bar_equalizer_frame, bar_equalizer_deinit},
    {"center_meter", center_meter_init, center_meter_frame, center_meter_deinit},
    {"vertical_meter", vertical_meter_init, vertical_meter_frame, vertical_meter_deinit},
    {"swirl_meter", swirl_meter_init, swirl_meter_frame, swirl_meter_deinit},
    {"vertical_spectrum", vertical_spectrum_init, vertical_spectrum_frame,
     vertical_spectrum_deinit},
    {"warp_core", warp_core_init, warp_core_frame, warp_core_deinit},
    {"explosion", explosion_init, explosion_frame, explosion_deinit},
    {"auto_pong", auto_pong_init, auto_pong_frame, auto_pong_deinit},
    {nullptr, nullptr, nullptr, nullptr},
};

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

const glim_host_api api = {
    named_patterns,
    find_pattern,
    glim_set_fixed_pattern,
    current_pattern_name,
    set_port,
};

} // namespace

const char *pattern_name_of(const pattern_info *info)
{
    for (const glim_named_pattern *p = named_patterns; p->name; p++)
        if (p->init == info->init && p->frame == info->frame)
            return p->name;
    return nullptr;
}

extern "C" const glim_host_api *glim_get_host_api(int version)
{
    return version == GLIM_HOST_API_VERSION ? &api : nullptr;
}
