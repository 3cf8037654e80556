/* parse_string.cpp -- fuzz target: any option string against a field
 * list. The first byte picks the format (type letters, repeated keys);
 * the rest, NUL-terminated, is the string. Every value stored must land
 * in a declared variable, and the call must return 0. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "xmms/src/pattern_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const char *formats[] = {"iiiiii", "i", "", "ifi", "iiiii", "xi"};
    char *format = (char *)formats[data[0] % 6];
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');

    int v[6] = {0, 0, 0, 0, 0, 0};
    int r = parse_string(text.data(), format, "center", &v[0], "speed", &v[1], "diff",
                         &v[2], "center", &v[3], "", &v[4], "top", &v[5]);
    if (r != 0)
        abort();
    /* a null string reads nothing */
    if (parse_string(nullptr, format) != 0)
        abort();
    return 0;
}
