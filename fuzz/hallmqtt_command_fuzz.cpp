/* hallmqtt_command_fuzz.cpp -- a message on one of the bridge's command
 * topics: the first byte picks the topic (the light, the pattern select,
 * the light delay, the next-pattern button), the rest is the payload.
 * What is accepted is in range and names what exists; what the show is
 * sent is a command it takes; a refusal is one line. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hallmqtt/mqtt_home.h"

namespace {

void refused(const char *err)
{
    if (!err[0] || strchr(err, '\n'))
        abort();
}

void to_show(const show_command &c)
{
    char datagram[SHOW_COMMAND_MAX + 1];
    if (show_format_command(datagram, sizeof datagram, &c) <= 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static control_answer driver;
    static show_answer show;
    if (driver.num_feeds == 0) {
        const char *feeds[] = {"Main Music", "Test pattern", "Pong! Pong!"};
        for (const char *f : feeds)
            strcpy(driver.names[driver.num_feeds++], f);
        const char *patterns[] = {"sine_wave", "rise", "warp_core"};
        for (const char *p : patterns)
            strcpy(show.patterns[show.num_patterns++], p);
    }
    if (size == 0)
        return 0;
    const char *payload = (const char *)data + 1;
    size_t len = size - 1;
    char err[200] = "";
    home_light_command light;
    show_command c;
    switch (data[0] % 4) {
    case 0:
        if (home_parse_light(payload, len, &driver, &light, err, sizeof err) != 0)
            refused(err);
        else if ((light.on != 0 && light.on != 1) || light.brightness < -1 ||
                 light.brightness > 255 || light.feed < -1 || light.feed >= driver.num_feeds ||
                 home_level_of(light.brightness < 0 ? 0 : light.brightness) > CONTROL_LEVEL_MAX)
            abort();
        break;
    case 1:
        if (home_parse_pattern(payload, len, &show, &c, err, sizeof err) != 0)
            refused(err);
        else if (c.kind != SHOW_AUTO && c.kind != SHOW_PATTERN)
            abort();
        else
            to_show(c);
        break;
    case 2:
        if (home_parse_delay(payload, len, &c, err, sizeof err) != 0)
            refused(err);
        else if (c.kind != SHOW_DELAY)
            abort();
        else
            to_show(c);
        break;
    default:
        if (home_parse_next(payload, len, &c, err, sizeof err) != 0)
            refused(err);
        else
            to_show(c);
        break;
    }
    return 0;
}
