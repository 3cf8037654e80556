/* hall.cpp -- the network light server.
 *
 * Binds one non-blocking UDP socket to server_port and keeps a list of
 * subscribers (newest first). Every renderFrame sends the frame to each
 * subscriber, takes in waiting datagrams as subscriptions or renewals and,
 * every tenth frame, ages the list. All of it runs inside the producer's
 * own calls: no thread, no timer, nothing that blocks. */
#include "netserver/hall.h"
#include "netserver/hall_io.h"
#include "wire/wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct subscriber {
    struct sockaddr_in addr;  /* where frames go, as the request came */
    int time_to_live;         /* ageing passes left */
    subscriber *next;
};

const int FRAME_BYTES = WIRE_FRAME_BYTES;
const int REQUEST_BUFFER = 1500;
const int NEW_TTL = 300;
const int RENEW_TTL = 75;
const int FRAMES_PER_PASS = 10;

int sock = -1;                  /* the server socket, -1 while there is none */
struct sockaddr_in my_addr;     /* the bound address */
int light_data[LIGHT_CHANNELS]; /* current frame, raw values as handed in */
subscriber *root = nullptr;     /* head of the list, newest first */
int count = 0;                  /* renderFrame calls so far */
int n_subscribers = 0;          /* length of the list, kept for the bound */

/* Put the current frame on the wire, clamped to bytes, to every
 * subscriber in list order. Failed sends are ignored. */
int send_frame(void)
{
    unsigned char packet[FRAME_BYTES];
    for (int i = 0; i < FRAME_BYTES; i++) {
        int v = light_data[i];
        packet[i] = (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    for (subscriber *s = root; s; s = s->next)
        hall_sendto(sock, packet, FRAME_BYTES, 0, (struct sockaddr *)&s->addr,
                    sizeof s->addr);
    return 0;
}

/* Drain the socket: every datagram of one byte or more subscribes or
 * renews its sender. Stops at the first receive that returns 0 or less. */
int check_socket(void)
{
    static unsigned char buffer[REQUEST_BUFFER];
    for (;;) {
        struct sockaddr_in from;
        memset(&from, 0, sizeof from);
        socklen_t len = sizeof from;
        ssize_t n = hall_recvfrom(sock, buffer, sizeof buffer, 0,
                                  (struct sockaddr *)&from, &len);
        if (n <= 0)
            break;

        subscriber *s = root;
        int same_host = 0; /* places the sender's address holds */
        for (; s; s = s->next) {
            if (s->addr.sin_addr.s_addr != from.sin_addr.s_addr)
                continue;
            if (s->addr.sin_port == from.sin_port)
                break;
            same_host++;
        }
        if (s) {
            s->time_to_live = RENEW_TTL;
            continue;
        }
        /* A full list, or a host that holds its share of it already, is
         * treated like a failed allocation: one host cannot shut others out. */
        if (n_subscribers >= HALL_MAX_SUBSCRIBERS || same_host >= HALL_MAX_PER_HOST)
            continue;
        s = (subscriber *)malloc(sizeof *s);
        if (!s)
            continue;
        s->time_to_live = NEW_TTL;
        memcpy(&s->addr, &from, sizeof s->addr);
        s->next = root;
        root = s;
        n_subscribers++;
    }
    return 0;
}

/* One ageing pass: every record loses one pass, those at 0 are freed. */
int cull_subscribers(void)
{
    subscriber *prev = nullptr;
    subscriber *s = root;
    while (s) {
        subscriber *next = s->next;
        if (--s->time_to_live <= 0) {
            if (prev)
                prev->next = next;
            else
                root = next;
            free(s);
            n_subscribers--;
        } else {
            prev = s;
        }
        s = next;
    }
    return 0;
}

} // namespace

extern "C" {

uint16_t server_port = WIRE_PORT_MUSIC;
hall_recvfrom_fn *hall_recvfrom = recvfrom;
hall_sendto_fn *hall_sendto = sendto;

/* Bind the server socket; -1 when it cannot be created or bound. */
int init_lights(void)
{
    sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        sock = -1;
        return -1;
    }
    memset(&my_addr, 0, sizeof my_addr);
    my_addr.sin_family = AF_INET;
    my_addr.sin_addr.s_addr = htonl(INADDR_ANY);
    my_addr.sin_port = htons(server_port);
    if (bind(sock, (struct sockaddr *)&my_addr, sizeof my_addr) < 0) {
        perror("could not bind to socket\n");
        close(sock);
        sock = -1;
        return -1;
    }
    fcntl(sock, F_SETFL, O_NONBLOCK);
    printf("Network Lights Client Initialized.\n");
    return 0;
}

/* Close the socket; the subscriber list and the frame are kept. */
int deinit_lights(void)
{
    if (sock > 0) {
        close(sock);
        sock = -1;
    }
    return 0;
}

/* Store, send, drain, and every tenth frame age the list. Always 0. */
int renderFrame(int values[60])
{
    count++;
    memcpy(light_data, values, sizeof light_data);
    send_frame();
    check_socket();
    if (count % FRAMES_PER_PASS == 0)
        cull_subscribers();
    return 0;
}

/* Switch one box fully on or off and send the frame. Always 0; a box
 * outside 0..9 changes nothing but still sends the current frame. */
int light_state(int light, int on)
{
    if (light >= 0 && light < LIGHT_BOXES)
        for (int k = 0; k < LIGHT_CHANNELS_PER_BOX; k++)
            light_data[light * LIGHT_CHANNELS_PER_BOX + k] = on * 255;
    send_frame();
    return 0;
}

int hall_subscriber_count(void)
{
    return n_subscribers;
}

} // extern "C"
