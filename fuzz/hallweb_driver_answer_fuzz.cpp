/* hallweb_driver_answer_fuzz.cpp -- the box driver's answer line as the
 * web console reads it. What is accepted is in range, and writing it out
 * again with the driver's own formatter reads back the same. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "hallweb/web_message.h"
#include "wire/control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    web_driver_state s;
    if (web_driver_parse((const char *)data, size, &s) != 0)
        return 0;
    if (!s.reachable || s.num_feeds < 0 || s.num_feeds > CONTROL_MAX_FEEDS || s.feed < 0 ||
        s.feed > 9 || s.level < 0 || s.level > CONTROL_LEVEL_MAX || (s.live != 0 && s.live != 1))
        abort();
    control_feed feeds[CONTROL_MAX_FEEDS];
    for (int i = 0; i < s.num_feeds; i++) {
        if (strnlen(s.names[i], sizeof s.names[i]) > WEB_NAME_MAX)
            abort();
        feeds[i] = {s.names[i], "127.0.0.1", 7878};
    }
    control_state written = {feeds, s.num_feeds, s.feed, s.level, s.live};
    char line[CONTROL_ANSWER_MAX];
    int n = control_format_state(line, sizeof line, &written);
    if (n <= 0 || line[n - 1] != '\n')
        abort();
    web_driver_state again;
    if (web_driver_parse(line, (size_t)n, &again) != 0 || memcmp(&again, &s, sizeof s) != 0)
        abort();
    return 0;
}
