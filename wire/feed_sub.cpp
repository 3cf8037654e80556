/* feed_sub.cpp -- one subscription record: open, request, renew, read,
 * close. The record is the whole state; see feed_sub.h. */
#include "wire/feed_sub.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loop/loop.h"
#include "wire/feed_client.h"
#include "wire/wire.h"

extern "C" {

void feed_sub_init(struct feed_sub *s)
{
    memset(s, 0, sizeof *s);
    s->sock = -1;
    feed_sub_set_target(s, WIRE_DEFAULT_HOST, WIRE_DEFAULT_PORT);
}

int feed_sub_set_target(struct feed_sub *s, const char *host, unsigned short port)
{
    struct in_addr parsed;
    if (!host || strlen(host) >= sizeof s->host || inet_pton(AF_INET, host, &parsed) != 1)
        return -1;
    memset(&s->target, 0, sizeof s->target);
    s->target.sin_family = AF_INET;
    s->target.sin_addr = parsed;
    s->target.sin_port = htons(port);
    inet_ntop(AF_INET, &parsed, s->host, sizeof s->host);
    s->port = port;
    return 0;
}

int feed_sub_open(struct feed_sub *s, int first, int last)
{
    feed_sub_close(s);
    for (int port = first; port <= last; port++) {
        int sock = open_udp_server(port);
        if (sock < 0)
            continue;
        int flags = fcntl(sock, F_GETFL);
        if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) {
            /* a blocking socket would stall the consumer's loop */
            perror("feed_sub_open: fcntl(O_NONBLOCK)");
            close(sock);
            return -1;
        }
        struct sockaddr_in bound;
        socklen_t len = sizeof bound;
        memset(&bound, 0, sizeof bound);
        getsockname(sock, (struct sockaddr *)&bound, &len);
        s->sock = sock;
        s->local_port = ntohs(bound.sin_port);
        s->turns = 0;
        s->requested_at = 0;
        s->frame_at = 0;
        s->frames = 0;
        return s->local_port;
    }
    return -1;
}

void feed_sub_request(struct feed_sub *s)
{
    if (s->sock < 0)
        return;
    /* Connected to its producer, the socket takes datagrams from there
     * alone: nobody else on the network can put levels on the lamps. */
    if (connect(s->sock, (const struct sockaddr *)&s->target, sizeof s->target) != 0)
        perror("feed_sub_request: connect");
    feed_request_to(s->sock, &s->target);
    s->turns = 0;
    s->requested_at = loop_now();
}

int feed_sub_turn(struct feed_sub *s)
{
    if (s->sock < 0)
        return 0;
    double now = loop_now();
    double every = feed_sub_live(s, now) ? WIRE_RENEW_SECONDS : WIRE_RENEW_QUIET_SECONDS;
    if (++s->turns < WIRE_RENEW_TURNS && now - s->requested_at < every)
        return 0;
    feed_sub_request(s);
    return 1;
}

/* A connected socket reports an ICMP "port unreachable" (the producer is
 * not running yet) as an error of its next receive; it is not one of the
 * feed's, so it is taken here without a word. */
void clear_refusal(int sock)
{
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len);
}

int feed_sub_read(struct feed_sub *s, int values[60])
{
    clear_refusal(s->sock);
    int r = read_data_packet(s->sock, values);
    if (r == 1) {
        s->frames++;
        s->frame_at = loop_now();
    }
    return r;
}

int feed_sub_read_newest(struct feed_sub *s, int values[60], int limit)
{
    int got = 0;
    for (int i = 0; i < limit || i == 0; i++) {
        int r = feed_sub_read(s, values);
        if (r == 0)
            break;
        if (r == 1)
            got++;
    }
    return got;
}

int feed_sub_live(const struct feed_sub *s, double now)
{
    return s->frame_at > 0 && now - s->frame_at < FEED_LIVE_SECONDS;
}

void feed_sub_close(struct feed_sub *s)
{
    if (s->sock >= 0)
        close(s->sock);
    s->sock = -1;
}

} // extern "C"
