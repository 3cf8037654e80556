/* fuzz_paddle_input.cpp -- what the controllers read: the input taken as
 * 8-byte joystick event records and, byte by byte, as key presses. */
#include <stddef.h>
#include <stdint.h>

#include "controllers/paddle_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int32_t axis = 0;
    char button = 0;
    for (size_t i = 0; i + JS_EVENT_BYTES <= size; i += JS_EVENT_BYTES) {
        int due = js_take_event(data + i, &axis, &button);
        if (due != (data[i + 7] == 0))
            __builtin_trap();
        if (axis < -32768 || axis > 32767)
            __builtin_trap();
    }
    int32_t value = 0;
    for (size_t i = 0; i < size; i++) {
        int32_t next = key_apply(value, data[i]);
        if (data[i] != 'a' && data[i] != 's' && next != value)
            __builtin_trap();
        value = next;
    }
    return 0;
}
