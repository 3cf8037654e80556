/* fuzz_netserver_drain.cpp -- datagrams of any length and content, from a
 * handful of source ports, into the light server's drain and list.
 * Input: a sequence of records [source (1 byte)] [length (1 byte)] [bytes];
 * each record is one datagram, queued before the next renderFrame.
 *
 * The server's receive and send calls are pointed at an in-process queue
 * and checker (no socket at all), so each input costs microseconds. The
 * queue behaves as the kernel's would: datagrams wait in order across
 * renderFrame calls, a long one is cut to the reader's buffer, an empty
 * one is read as 0, and a full queue drops what comes. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stddef.h>
#include <string.h>

#include "netserver/hall.h"
#include "netserver/hall_io.h"

namespace {

const int SOURCES = 4;
const int QUEUE = 256;

struct datagram {
    int source;
    const uint8_t *bytes; /* inside the current input */
    size_t len;
};

datagram queue[QUEUE];
int head = 0, queued = 0;

unsigned char expected[60]; /* the frame every send must carry */
int sends = 0;              /* sends since the last check */

sockaddr_in source_addr(int source)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons((uint16_t)(40000 + source));
    return a;
}

ssize_t queue_recvfrom(int, void *buf, size_t len, int, struct sockaddr *from,
                       socklen_t *from_len)
{
    if (queued == 0) {
        errno = EAGAIN;
        return -1;
    }
    const datagram &d = queue[head];
    head = (head + 1) % QUEUE;
    queued--;
    size_t n = d.len < len ? d.len : len;
    memcpy(buf, d.bytes, n);
    sockaddr_in a = source_addr(d.source);
    memcpy(from, &a, *from_len < sizeof a ? *from_len : sizeof a);
    *from_len = sizeof a;
    return (ssize_t)n;
}

/* Every frame goes out whole, clamped, to one of the senders. */
ssize_t checked_sendto(int, const void *buf, size_t len, int, const struct sockaddr *to,
                       socklen_t to_len)
{
    if (len != 60 || memcmp(buf, expected, 60) != 0 || to_len != sizeof(sockaddr_in))
        __builtin_trap();
    sockaddr_in a;
    memcpy(&a, to, sizeof a);
    int port = ntohs(a.sin_port) - 40000;
    if (a.sin_family != AF_INET || a.sin_addr.s_addr != htonl(INADDR_LOOPBACK) || port < 0 ||
        port >= SOURCES)
        __builtin_trap();
    sends++;
    return (ssize_t)len;
}

void enqueue(int source, const uint8_t *bytes, size_t len)
{
    if (queued == QUEUE)
        return; /* a full receive buffer drops the datagram */
    queue[(head + queued) % QUEUE] = {source, bytes, len};
    queued++;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    hall_recvfrom = queue_recvfrom;
    hall_sendto = checked_sendto;
    int frame[60];
    size_t i = 0;
    /* A bounded number of frames an input keeps each run short; the list
     * lives on across inputs, so ageing still comes round. */
    for (int records = 0; records < 128 && i + 2 <= size; records++) {
        int src = data[i] % SOURCES;
        size_t len = data[i + 1] * 8; /* up to 2040 bytes, past the 1500 buffer */
        i += 2;
        if (len > size - i)
            len = size - i;
        enqueue(src, data + i, len);
        for (int k = 0; k < 60; k++) {
            frame[k] = (int)(int8_t)data[(i + k) % size] * 3;
            expected[k] = (unsigned char)(frame[k] < 0 ? 0 : frame[k] > 255 ? 255 : frame[k]);
        }
        i += len;
        /* the frame goes to everyone listed before this call's drain */
        int listed = hall_subscriber_count();
        sends = 0;
        renderFrame(frame);
        if (sends != listed || hall_subscriber_count() > SOURCES)
            __builtin_trap();
        int box = (int8_t)(len & 0xff) % 12, on = (int)(len & 1);
        if (box >= 0 && box < 10)
            memset(expected + 6 * box, on * 255, 6);
        sends = 0;
        light_state(box, on);
        if (sends != hall_subscriber_count())
            __builtin_trap();
    }
    queued = 0; /* what is left points into this input */
    return 0;
}
