/* wire_control_answer_fuzz.cpp -- the box driver's answer line as its
 * consumers read it (control_parse_answer). What is accepted is in range,
 * and written out again with the driver's own writer reads back the same. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "wire/control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    control_answer a;
    if (control_parse_answer((const char *)data, size, &a) != 0)
        return 0;
    if (a.num_feeds < 0 || a.num_feeds > CONTROL_MAX_FEEDS || a.feed < 0 || a.feed > 9 ||
        a.level < 0 || a.level > CONTROL_LEVEL_MAX || (a.live != 0 && a.live != 1))
        abort();
    control_feed feeds[CONTROL_MAX_FEEDS];
    for (int i = 0; i < a.num_feeds; i++) {
        if (strnlen(a.names[i], sizeof a.names[i]) > CONTROL_NAME_MAX)
            abort();
        feeds[i] = {a.names[i], "127.0.0.1", 7878};
    }
    control_state written = {feeds, a.num_feeds, a.feed, a.level, a.live};
    char line[CONTROL_ANSWER_MAX];
    int n = control_format_state(line, sizeof line, &written);
    control_answer again;
    if (n <= 0 || line[n - 1] != '\n' || control_parse_answer(line, (size_t)n, &again) != 0 ||
        memcmp(&again, &a, sizeof a) != 0)
        abort();
    return 0;
}
