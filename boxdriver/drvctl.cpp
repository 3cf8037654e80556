/* drvctl.cpp -- the box driver's answer to a control datagram (drvctl.h).
 * No state. */
#include "boxdriver/drvctl.h"

int drvctl_answer(void *context, const void *datagram, size_t len, char *answer, size_t size)
{
    const drvctl_hooks *hooks = (const drvctl_hooks *)context;
    int key = control_key(datagram, len);
    if (key && key != CONTROL_KEY_ASK && hooks->key((unsigned char)key) < 0)
        return -1;
    control_state state;
    hooks->describe(&state);
    int n = control_format_state(answer, size, &state);
    return n > 0 ? n : 0;
}
