/* hall_config_fuzz.cpp -- the channel map file: any text read as the map,
 * then a frame placed through it. Every hardware index the map yields
 * must stay inside the 60 channels (the sanitizers watch the writes). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "boxdriver/hall.h"
#include "quiet_stderr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = size ? fmemopen((void *)data, size, "r") : fopen("/dev/null", "r");
    if (!file)
        return 0;
    int numbers = hall_read_map(file);
    fclose(file);
    if (numbers < 0 || numbers > 120)
        abort();

    int values[60];
    for (int k = 0; k < 60; k++)
        values[k] = k * 4;
    /* bad entries are reported on every frame: keep that out of the log */
    fuzz_quiet_stderr();
    map_frame(values);

    char command[3];
    const box_location *map = hall_map();
    for (int k = 0; k < 60; k++)
        set_light_intensity(map[k].box, map[k].channel, map[k].box, map[k].channel, command);
    return 0;
}
