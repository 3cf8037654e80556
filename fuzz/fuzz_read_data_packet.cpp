/* fuzz_read_data_packet.cpp -- any datagram into the feed client's read. */
#include <fcntl.h>
#include <stdint.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include "quiet_stderr.h"
#include "wire/feed_client.h"

static int pair_fds[2] = {-1, -1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (pair_fds[0] < 0) {
        socketpair(AF_UNIX, SOCK_DGRAM, 0, pair_fds);
        fcntl(pair_fds[1], F_SETFL, O_NONBLOCK);
        /* the rejections print a line each; keep the fuzzer's output readable */
        fuzz_quiet_stderr();
    }
    int values[60];
    for (int &v : values)
        v = -1;
    if (size > 4096)
        size = 4096;
    send(pair_fds[0], data, size, 0);
    int r = read_data_packet(pair_fds[1], values);
    if (r == 1) {
        for (int v : values)
            if (v < 0 || v > 255)
                __builtin_trap();
    } else if (r == -1) {
        for (int v : values)
            if (v != -1)
                __builtin_trap(); /* a rejected datagram leaves the frame alone */
    }
    read_data_packet(pair_fds[1], values); /* nothing left: 0 */
    return 0;
}
