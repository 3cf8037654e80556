/* web_driver.h -- the link to the box driver's control socket (a
 * wire/control_link.h record): asks for its state a few times a second,
 * keeps the newest answer, and turns the pages' requests (a feed, a level)
 * into the driver's keys. The frame loop owns the socket; pages' threads
 * only leave requests, newest wins, and wake the loop. */
#ifndef HALLWEB_WEB_DRIVER_H
#define HALLWEB_WEB_DRIVER_H

#include "hallweb/web_message.h"

/* Open a socket towards the driver at host:port. 0, or -1 after a
 * message. Also makes the wake-up descriptor. */
int web_driver_open(const char *host, unsigned short port);

void web_driver_close(void);

/* The socket answers arrive on, and the descriptor that wakes the loop
 * for a request; -1 when closed. */
int web_driver_fd(void);
int web_driver_wake_fd(void);

/* After poll: take the answers, send due questions and requested keys.
 * 1 when the state the pages see changed (including reachability), 0
 * otherwise. *wait is lowered to the time until the next question. */
int web_driver_turn(double now, double *wait);

/* The driver as last heard from (reachable 0 when silent too long). */
void web_driver_latest(struct web_driver_state *out);

/* A page asks for feed key 0..9, or a master level 0..256 (sent as as
 * many level keys as it takes). -1 when the driver has not answered yet
 * or does not have that feed; 0 when it will be sent. Any thread. */
int web_driver_request_feed(int feed);
int web_driver_request_level(int level);

#endif
