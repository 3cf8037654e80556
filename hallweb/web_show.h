/* web_show.h -- the link to the light show's control socket (glimhost
 * --control, a wire/control_link.h record): asks for its state a few
 * times a second, keeps the newest answer, and sends the pages' requests
 * (the next pattern, the automatic rotation). The frame loop owns the
 * socket; pages' threads only leave a request, newest wins, and wake the
 * loop. */
#ifndef HALLWEB_WEB_SHOW_H
#define HALLWEB_WEB_SHOW_H

#include "hallweb/web_message.h"

/* Open a socket towards the show at host:port, and the wake-up
 * descriptor. 0, or -1 after a message. */
int web_show_open(const char *host, unsigned short port);

void web_show_close(void);

/* The socket answers arrive on, and the descriptor that wakes the loop
 * for a request; -1 when closed. */
int web_show_fd(void);
int web_show_wake_fd(void);

/* After poll: take the answers, send the due question and the request.
 * 1 when the state the pages see changed (including reachability).
 * *wait is lowered to the time until the next question. */
int web_show_turn(double now, double *wait);

/* The show as last heard from (reachable 0 when silent too long). */
void web_show_latest(struct web_show_state *out);

/* A page asks for SHOW_NEXT or SHOW_AUTO. 0 when it will be sent, -1
 * when the show is not answering. Any thread. */
int web_show_request(enum show_command_kind kind);

#endif
