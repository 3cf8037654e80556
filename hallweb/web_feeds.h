/* web_feeds.h -- the feeds the web console watches: one subscription
 * record each, the newest frame, when it may next go to the pages (at
 * most WEB_PUBLISH_RATE a second) and the figures the pages show. Used by
 * the frame loop alone. */
#ifndef HALLWEB_WEB_FEEDS_H
#define HALLWEB_WEB_FEEDS_H

#include <poll.h>

#include "hallweb/web_message.h"
#include "hallweb/web_options.h"
#include "wire/control.h"

#define WEB_PUBLISH_RATE 30      /* frames a second to the pages, at most */

/* Subscribe to every feed of the options, each on a free local port. 0,
 * or -1 after a message when a socket cannot be opened. */
int web_feeds_open(const struct web_options *o);

/* Close every subscription. */
void web_feeds_close(void);

/* The feeds' sockets for poll, from p[0]; how many. */
int web_feeds_pollfds(struct pollfd *p);

/* After poll: take the newest frame of every feed whose socket is ready
 * (p as filled above), renew subscriptions when due, and hand each feed's
 * frame to the pages once it may go. The time until a held frame may go,
 * in seconds, or 1 when none is held. */
double web_feeds_turn(const struct pollfd *p, double now);

/* Frames a second since the previous call, and liveness, per feed. */
void web_feeds_status(double now, struct web_feed_status out[WEB_MAX_FEEDS]);

#endif
