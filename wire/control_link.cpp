/* control_link.cpp -- the asking end of a control socket (control_link.h).
 * The record is the whole state. */
#include "wire/control_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/* Datagrams taken per turn at most, so that a flood cannot hold the
 * consumer's loop; the rest wait for the next turn. */
const int MAX_ANSWERS_PER_TURN = 64;

const char ASK = '?';

int send_datagram(control_link *l, const void *data, size_t len)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        if (send(l->sock, data, len, 0) == (ssize_t)len) {
            l->sent++;
            return 0;
        }
        /* A refusal here reports an earlier datagram that found nobody
         * (and costs this one): try once more. */
        if (errno != ECONNREFUSED)
            break;
    }
    return -1;
}

} // namespace

extern "C" {

void control_link_init(struct control_link *l, double ask_seconds, double lost_seconds)
{
    memset(l, 0, sizeof *l);
    l->sock = -1;
    l->ask_seconds = ask_seconds;
    l->lost_seconds = lost_seconds;
    l->asked_at = 0;           /* the first question is due at once */
    l->commands_at = -1e9;
}

int control_link_open(struct control_link *l, const char *host, unsigned short port)
{
    control_link_close(l);
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (!host || strlen(host) >= sizeof l->host || inet_pton(AF_INET, host, &to.sin_addr) != 1) {
        fprintf(stderr, "control link: %s is not a dotted-decimal IPv4 address\n",
                host ? host : "(none)");
        return -1;
    }
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        perror("control link: socket");
        return -1;
    }
    /* Connected, so that only the other end's answers come in. */
    if (connect(s, (sockaddr *)&to, sizeof to) < 0) {
        fprintf(stderr, "control link: connect(%s:%u): %s\n", host, port, strerror(errno));
        close(s);
        return -1;
    }
    l->sock = s;
    snprintf(l->host, sizeof l->host, "%s", host);
    l->port = port;
    l->asked_at = 0;
    l->commands_at = -1e9;
    l->answered_at = 0;
    l->sent = l->answered = l->commands_upto = 0;
    l->was_reachable = 0;
    l->answer[0] = '\0';
    l->answer_len = 0;
    return 0;
}

void control_link_close(struct control_link *l)
{
    if (l->sock >= 0)
        close(l->sock);
    l->sock = -1;
}

int control_link_turn(struct control_link *l, double now)
{
    if (l->sock < 0)
        return 0;
    int changed = 0;
    char line[CONTROL_LINK_ANSWER_MAX + 1];
    for (int i = 0; i < MAX_ANSWERS_PER_TURN; i++) {
        ssize_t n = recv(l->sock, line, sizeof line - 1, MSG_TRUNC);
        if (n < 0 && (errno == EINTR || errno == ECONNREFUSED))
            continue;            /* a question that found nobody: read on */
        if (n < 0)
            break;               /* nothing more waiting */
        if ((size_t)n > sizeof line - 1)
            continue;            /* too long to be an answer */
        /* After silence, whatever went unanswered is lost: count afresh. */
        if (!control_link_reachable(l, now))
            l->answered = l->sent - 1;
        if (l->answered < l->sent)
            l->answered++;
        l->answered_at = now;
        if ((size_t)n != l->answer_len || memcmp(line, l->answer, (size_t)n) != 0) {
            memcpy(l->answer, line, (size_t)n);
            l->answer[n] = '\0';
            l->answer_len = (size_t)n;
            changed = 1;
        }
    }
    int reachable = control_link_reachable(l, now);
    if (reachable != l->was_reachable) {
        l->was_reachable = reachable;
        changed = 1;
    }
    if (now >= control_link_due(l)) {
        send_datagram(l, &ASK, 1);
        l->asked_at = now;
    }
    return changed;
}

double control_link_due(const struct control_link *l)
{
    return l->asked_at + l->ask_seconds;
}

int control_link_reachable(const struct control_link *l, double now)
{
    return l->answered_at > 0 && now - l->answered_at < l->lost_seconds;
}

int control_link_send(struct control_link *l, const void *command, size_t len, double now)
{
    if (l->sock < 0 || send_datagram(l, command, len) != 0)
        return -1;
    l->commands_upto = l->sent;
    l->commands_at = now;
    return 0;
}

int control_link_settled(struct control_link *l, double now)
{
    if (l->answered >= l->commands_upto)
        return 1;
    if (now - l->commands_at < CONTROL_LINK_IN_FLIGHT_SECONDS)
        return 0;
    l->answered = l->commands_upto;
    return 1;
}

} // extern "C"
