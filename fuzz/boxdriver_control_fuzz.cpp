/* boxdriver_control_fuzz.cpp -- a datagram on the box driver's control
 * socket: the first byte picks the sender (127.0.0.1 or another address),
 * the rest is the datagram. Only a single known key from 127.0.0.1 ever
 * reaches the console, never "q"; only 127.0.0.1 gets an answer, one
 * line of JSON. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "boxdriver/drvctl.h"
#include "wire/control_server.h"

namespace {

int keys_taken = 0;
unsigned char last_key = 0;

int take_key(unsigned char key)
{
    keys_taken++;
    last_key = key;
    return 0;
}

void describe(control_state *out)
{
    static const control_feed feeds[] = {{"Main Music", "127.0.0.1", 7878},
                                         {"Test \"pattern\"\n", "127.0.0.1", 7879}};
    *out = {feeds, 2, 1, 128, 1};
}

const drvctl_hooks hooks = {take_key, describe};
const control_server server = {-1, drvctl_answer, (void *)&hooks};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(data[0] == 0 ? INADDR_LOOPBACK : 0x7f000000u | data[0]);
    bool local = data[0] == 0 || data[0] == 1;
    keys_taken = 0;
    char answer[CONTROL_ANSWER_MAX];
    int len = -1;
    if (control_server_take(&server, data + 1, size - 1, &from, answer, sizeof answer, &len) != 0)
        abort();
    bool one_key = size == 2 && data[1] && strchr(CONTROL_KEYS, data[1]) && data[1] != '?';
    if (keys_taken != (local && one_key ? 1 : 0) || (keys_taken && last_key == 'q'))
        abort();
    if (!local && len != 0)
        abort();
    if (local && (len <= 0 || answer[len - 1] != '\n' || memchr(answer, '\n', (size_t)len - 1)))
        abort();
    return 0;
}
