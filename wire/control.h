/* control.h -- the box driver's control socket, written down once for the
 * driver that answers and the web console that asks. A datagram of exactly
 * one byte is a key: the console's own feed digits and level keys, or "?"
 * which changes nothing. Every datagram from 127.0.0.1 is answered with
 * one line of JSON describing the driver; anything else changes nothing.
 * The socket is opened only on request: there is no default port. Plain C. */
#ifndef WIRE_CONTROL_H
#define WIRE_CONTROL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* No default port: the driver opens the socket only with --control PORT. */
#define CONTROL_PORT_NONE 0

/* The keys taken over the socket: digits pick a feed, "u"/"d" move the
 * master level by one step, "?" only asks. Never "q": the socket cannot
 * end the driver. */
#define CONTROL_KEYS "0123456789ud?"
#define CONTROL_KEY_UP 'u'
#define CONTROL_KEY_DOWN 'd'
#define CONTROL_KEY_ASK '?'

/* The master level: 0..256 in steps of 16 (256 leaves frames unchanged). */
#define CONTROL_LEVEL_STEP 16
#define CONTROL_LEVEL_MAX 256

/* The answer: one line of JSON, at most this long with its "\n":
 * {"feeds":[{"name":N,"host":H,"port":P},...],"feed":I,"level":L,"live":B} */
#define CONTROL_ANSWER_MAX 2048
#define CONTROL_FIELD_FEEDS "feeds"
#define CONTROL_FIELD_NAME "name"
#define CONTROL_FIELD_HOST "host"
#define CONTROL_FIELD_PORT "port"
#define CONTROL_FIELD_FEED "feed"
#define CONTROL_FIELD_LEVEL "level"
#define CONTROL_FIELD_LIVE "live"

/* At most this many feeds are described (keys reach ten). */
#define CONTROL_MAX_FEEDS 10

/* One feed as the driver lists it. */
struct control_feed {
    const char *name;
    const char *host;    /* dotted-decimal IPv4 text */
    unsigned short port;
};

/* What the answer describes. */
struct control_state {
    const struct control_feed *feeds;
    int num_feeds;       /* only the first CONTROL_MAX_FEEDS are written */
    int feed;            /* the selected feed */
    int level;           /* the master level */
    int live;            /* frames are arriving from the selected feed */
};

/* The key a datagram carries: one of CONTROL_KEYS when it is exactly that
 * one byte, else 0 (empty, longer, "q", anything unknown). */
int control_key(const void *datagram, size_t len);

/* Write the answer line for `state` into buf (with "\n" and a NUL). Its
 * length, or -1 (buf holding an empty string) when it does not fit. */
int control_format_state(char *buf, size_t size, const struct control_state *state);

#ifdef __cplusplus
}
#endif

#endif
