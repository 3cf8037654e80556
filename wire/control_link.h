/* control_link.h -- the asking end of a control socket on this machine
 * (the box driver's, the light show's): a connected UDP socket that asks
 * "?" every so often, keeps the newest answer line, knows whether the
 * other end is reachable (it answered lately), and sends commands. A
 * consumer keeps one record per socket it talks to and passes it to every
 * call; nothing here blocks or is process-wide. */
#ifndef WIRE_CONTROL_LINK_H
#define WIRE_CONTROL_LINK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest answer kept; a longer datagram is no answer. */
#define CONTROL_LINK_ANSWER_MAX 8192

/* What the consumers use unless they have reasons of their own: asking
 * four times a second, silent for 1.5 s is unreachable, and commands left
 * unanswered for half a second are given up on (a datagram can be lost). */
#define CONTROL_LINK_ASK_SECONDS 0.25
#define CONTROL_LINK_LOST_SECONDS 1.5
#define CONTROL_LINK_IN_FLIGHT_SECONDS 0.5

struct control_link {
    int sock;                  /* connected, non-blocking; -1 when closed */
    char host[16];             /* the other end, dotted decimal */
    unsigned short port;
    double ask_seconds;        /* between questions */
    double lost_seconds;       /* silent this long: not reachable */
    double asked_at;           /* loop_now() of the last "?" */
    double answered_at;        /* ... of the newest answer, 0 before any */
    long sent, answered;       /* datagrams sent, answers taken */
    long commands_upto;        /* `sent` just after the newest command */
    double commands_at;        /* when it went */
    int was_reachable;         /* as the last turn saw it */
    char answer[CONTROL_LINK_ANSWER_MAX + 1]; /* the newest answer, NUL-ended */
    size_t answer_len;
};

/* A closed record with the given rhythm. */
void control_link_init(struct control_link *l, double ask_seconds, double lost_seconds);

/* Open a socket towards host:port (dotted-decimal IPv4). 0, or -1 after a
 * message naming the failing call. A socket already open is closed first;
 * the newest answer is forgotten. */
int control_link_open(struct control_link *l, const char *host, unsigned short port);

void control_link_close(struct control_link *l);

/* After the socket turned readable, or when control_link_due has come:
 * take the answers waiting (a bounded number; the newest is kept) and ask
 * when it is due. 1 when there is something to look at (an answer that
 * differs from the one before, or the other end turning reachable or
 * unreachable), else 0. */
int control_link_turn(struct control_link *l, double now);

/* When the next question is due (loop_now seconds). */
double control_link_due(const struct control_link *l);

/* 1 while the other end answers: its newest answer came less than
 * lost_seconds ago. */
int control_link_reachable(const struct control_link *l, double now);

/* Send one command datagram. 0, or -1 when it could not be sent (the
 * other end is not there, or the socket is closed). */
int control_link_send(struct control_link *l, const void *command, size_t len, double now);

/* 1 when every command sent has been answered, so that the newest answer
 * shows what they did (or when they have been in flight for longer than
 * CONTROL_LINK_IN_FLIGHT_SECONDS: then they are given up on). */
int control_link_settled(struct control_link *l, double now);

#ifdef __cplusplus
}
#endif

#endif
