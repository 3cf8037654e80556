/* drvctl.cpp -- the box driver's control socket (drvctl.h). State:
 * the socket. Called from the console's select loop only. */
#include "boxdriver/drvctl.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/* Datagrams taken per turn at most, so that a flood cannot hold the
 * console's loop; the rest wait for the next turn. */
const int MAX_DATAGRAMS_PER_TURN = 32;

int sock = -1;

} // namespace

int drvctl_open(int port)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        perror("control: creating socket");
        return -1;
    }
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((unsigned short)port);
    if (bind(s, (sockaddr *)&addr, sizeof addr) < 0) {
        fprintf(stderr, "control: binding 127.0.0.1:%d: %s\n", port, strerror(errno));
        close(s);
        return -1;
    }
    sock = s;
    return s;
}

int drvctl_fd(void)
{
    return sock;
}

int drvctl_take(const void *datagram, size_t len, const sockaddr_in *from,
                 const drvctl_hooks *hooks, char *answer, size_t size, int *answer_len)
{
    *answer_len = 0;
    /* Only this machine's own loopback address may steer or ask. */
    if (from->sin_family != AF_INET || from->sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        return 0;
    int key = control_key(datagram, len);
    if (key && key != CONTROL_KEY_ASK && hooks->key((unsigned char)key) < 0)
        return -1;
    control_state state;
    hooks->describe(&state);
    int n = control_format_state(answer, size, &state);
    *answer_len = n > 0 ? n : 0;
    return 0;
}

int drvctl_turn(const drvctl_hooks *hooks)
{
    for (int i = 0; i < MAX_DATAGRAMS_PER_TURN; i++) {
        unsigned char datagram[64];
        sockaddr_in from;
        socklen_t from_len = sizeof from;
        memset(&from, 0, sizeof from);
        ssize_t n = recvfrom(sock, datagram, sizeof datagram, MSG_TRUNC, (sockaddr *)&from,
                             &from_len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 0;
        char answer[CONTROL_ANSWER_MAX];
        int answer_len;
        /* MSG_TRUNC gives the whole length: a long datagram is no key. */
        if (drvctl_take(datagram, (size_t)n, &from, hooks, answer, sizeof answer, &answer_len) < 0)
            return -1;
        if (answer_len > 0 &&
            sendto(sock, answer, (size_t)answer_len, 0, (sockaddr *)&from, from_len) < 0 &&
            errno != EAGAIN)
            perror("control: sendto");
    }
    return 0;
}
