/* feed_client.cpp -- open, subscribe, read frames. A consumer keeps its
 * producer in its subscription record (feed_sub.h); the only state here
 * is when the last "Small packet" line went, process-wide. */
#include "wire/feed_client.h"
#include "loop/loop.h"
#include "wire/wire.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

namespace {

/* Short datagrams are said at most once a second, so that a flood of
 * them does not flood the journal; the next line counts the rest. */
const long long SMALL_PACKET_GAP_NS = 1000000000;
std::mutex small_lock;
long long small_said_at = 0;    /* 0: never */
long small_unsaid = 0;

void say_small_packet(int size)
{
    std::lock_guard<std::mutex> g(small_lock);
    long long now = loop_now_ns();
    if (small_said_at && now - small_said_at < SMALL_PACKET_GAP_NS) {
        small_unsaid++;
        return;
    }
    if (small_unsaid)
        fprintf(stderr, "Small packet of size: %i (and %ld more not shown)\n", size,
                small_unsaid);
    else
        fprintf(stderr, "Small packet of size: %i\n", size);
    small_said_at = now;
    small_unsaid = 0;
}

} // namespace

extern "C" {

int open_udp_server(int port)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        perror("start_net: creating socket");
        return -1;
    }
    struct sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons((unsigned short)(port & 0xffff));
    if (bind(s, (struct sockaddr *)&addr, sizeof addr) < 0) {
        perror("start_net: binding socket");
        fprintf(stderr, "ERROR!\n");
        close(s);
        return -1;
    }
    return s;
}

int request_subscription(int sock)
{
    struct sockaddr_in dest;
    memset(&dest, 0, sizeof dest);
    dest.sin_family = AF_INET;
    dest.sin_addr.s_addr = inet_addr(WIRE_DEFAULT_HOST);
    dest.sin_port = htons(WIRE_DEFAULT_PORT);
    return feed_request_to(sock, &dest);
}

int feed_request_to(int sock, const struct sockaddr_in *producer)
{
    const char request = WIRE_REQUEST_BYTE;
    sendto(sock, &request, 1, 0, (const struct sockaddr *)producer, sizeof *producer);
    return 0;
}

int read_data_packet(int sock, int values[60])
{
    unsigned char buffer[WIRE_FRAME_BYTES];
    /* Zeroed so that the line printed for a failed receive shows 0.0.0.0
     * rather than whatever the stack held. */
    struct sockaddr_in from;
    memset(&from, 0, sizeof from);
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(sock, buffer, sizeof buffer, 0,
                         (struct sockaddr *)&from, &len);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        int saved = errno;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        printf("%s\n", text);
        fflush(stdout);
        errno = saved;
        perror("read_data_packet: recvfrom");
        return -1;
    }
    if (n < WIRE_FRAME_BYTES) {
        say_small_packet((int)n);
        return -1;
    }
    for (int i = 0; i < WIRE_FRAME_BYTES; i++)
        values[i] = buffer[i];
    return 1;
}

} // extern "C"
