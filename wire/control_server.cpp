/* control_server.cpp -- the answering end of a control socket
 * (control_server.h). State: the record, and one datagram and one answer
 * being worked on, shared by every server of the process (one thread). */
#include "wire/control_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/control.h"
#include "wire/show_control.h"

static_assert(CONTROL_SERVER_ANSWER_MAX >= CONTROL_ANSWER_MAX &&
                  CONTROL_SERVER_ANSWER_MAX >= SHOW_ANSWER_MAX,
              "every answer line fits");

namespace {

/* A datagram is read whole (the largest UDP payload), so that the answer
 * function sees what was sent and can say how long it was. */
unsigned char datagram[65536];
char answer[CONTROL_SERVER_ANSWER_MAX];

} // namespace

extern "C" {

int control_server_open(struct control_server *s, int port, control_server_answer_fn answer_fn,
                        void *context, char *err, size_t errlen)
{
    s->sock = -1;
    s->answer = answer_fn;
    s->context = context;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        snprintf(err, errlen, "creating a socket: %s", strerror(errno));
        return -1;
    }
    sockaddr_in addr;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((unsigned short)port);
    if (bind(fd, (sockaddr *)&addr, sizeof addr) < 0) {
        snprintf(err, errlen, "binding 127.0.0.1:%d: %s", port, strerror(errno));
        close(fd);
        return -1;
    }
    s->sock = fd;
    return 0;
}

void control_server_close(struct control_server *s)
{
    if (s->sock >= 0)
        close(s->sock);
    s->sock = -1;
}

int control_server_take(const struct control_server *s, const void *data, size_t len,
                        const sockaddr_in *from, char *out, size_t size, int *answer_len)
{
    *answer_len = 0;
    /* Only this machine's own loopback address may steer or ask. */
    if (from->sin_family != AF_INET || from->sin_addr.s_addr != htonl(INADDR_LOOPBACK))
        return 0;
    int n = s->answer(s->context, data, len, out, size);
    if (n < 0)
        return -1;
    *answer_len = n;
    return 0;
}

int control_server_turn(struct control_server *s)
{
    for (int i = 0; i < CONTROL_SERVER_PER_TURN; i++) {
        sockaddr_in from;
        socklen_t from_len = sizeof from;
        memset(&from, 0, sizeof from);
        ssize_t n = recvfrom(s->sock, datagram, sizeof datagram, 0, (sockaddr *)&from, &from_len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 0;
        int answer_len;
        if (control_server_take(s, datagram, (size_t)n, &from, answer, sizeof answer,
                                &answer_len) < 0)
            return -1;
        if (answer_len > 0 &&
            sendto(s->sock, answer, (size_t)answer_len, 0, (sockaddr *)&from, from_len) < 0 &&
            errno != EAGAIN)
            perror("control: sendto");
    }
    return 0;
}

} // extern "C"
