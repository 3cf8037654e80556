/* control_server.h -- the answering end of a control socket (the box
 * driver's --control, the light show's): a UDP socket on 127.0.0.1 that
 * takes one command a datagram and answers every datagram from 127.0.0.1
 * with one line; datagrams from any other address are ignored. What a
 * datagram does and what the answer says belong to the program, through
 * one function; the socket, the sender's check, the bound on datagrams a
 * turn and the replies are here. Non-blocking throughout; one thread calls
 * it. Plain C. */
#ifndef WIRE_CONTROL_SERVER_H
#define WIRE_CONTROL_SERVER_H

#include <netinet/in.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Room for the longest answer line of either protocol. */
#define CONTROL_SERVER_ANSWER_MAX 8192

/* Datagrams taken per turn at most, so that a flood cannot hold the
 * program's loop; the rest wait for the next turn. */
#define CONTROL_SERVER_PER_TURN 32

/* The program's part: act on one datagram from 127.0.0.1 (len bytes, the
 * whole datagram) and write the answer line into answer (size bytes).
 * The answer's length, 0 for none (it did not fit), or -1 when the
 * program cannot go on. */
typedef int (*control_server_answer_fn)(void *context, const void *datagram, size_t len,
                                        char *answer, size_t size);

struct control_server {
    int sock;                        /* -1 while closed */
    control_server_answer_fn answer;
    void *context;                   /* handed to answer */
};

/* Open a non-blocking socket on 127.0.0.1:port for `answer`. 0, or -1
 * with a one-line reason in err ("binding 127.0.0.1:PORT: ..."). */
int control_server_open(struct control_server *s, int port, control_server_answer_fn answer,
                        void *context, char *err, size_t errlen);

void control_server_close(struct control_server *s);

/* After the socket turned readable: take the datagrams waiting (at most
 * CONTROL_SERVER_PER_TURN) and answer each. 0, or -1 when the answer
 * function returned -1. */
int control_server_turn(struct control_server *s);

/* One datagram from `from`, as a turn takes it: ignored unless it comes
 * from 127.0.0.1, else handed to the answer function, whose line is left
 * in answer with its length in *answer_len (0 when there is none). 0, or
 * -1 as for control_server_turn. */
int control_server_take(const struct control_server *s, const void *datagram, size_t len,
                        const struct sockaddr_in *from, char *answer, size_t size,
                        int *answer_len);

#ifdef __cplusplus
}
#endif

#endif
