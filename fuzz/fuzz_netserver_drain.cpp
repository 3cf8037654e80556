/* fuzz_netserver_drain.cpp -- datagrams of any length and content, from a
 * handful of source ports, into the light server's drain and list.
 * Input: a sequence of records [source (1 byte)] [length (1 byte)] [bytes];
 * each record is one datagram, sent before the next renderFrame. */
#include <stdint.h>
#include <stddef.h>
#include <string.h>
#include <unistd.h>

#include "netserver/hall.h"
#include "../tests/support/udp.h"

static int sources[4] = {-1, -1, -1, -1};

static void setup_once(void)
{
    if (sources[0] >= 0)
        return;
    for (int tries = 0; tries < 50; tries++) {
        server_port = testing_udp::free_port();
        if (init_lights() == 0)
            break;
    }
    for (int &s : sources)
        s = testing_udp::open_socket();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    setup_once();
    int frame[60];
    size_t i = 0;
    while (i + 2 <= size) {
        int src = sources[data[i] & 3];
        size_t len = data[i + 1] * 8; /* up to 2040 bytes, past the 1500 buffer */
        i += 2;
        if (len > size - i)
            len = size - i;
        testing_udp::send_to(src, server_port, data + i, len);
        for (int k = 0; k < 60; k++)
            frame[k] = (int)(int8_t)data[(i + k) % size] * 3;
        i += len;
        renderFrame(frame);
        light_state((int8_t)(len & 0xff) % 12, (int)(len & 1));
        for (int s : sources)
            testing_udp::drain(s);
    }
    return 0;
}
