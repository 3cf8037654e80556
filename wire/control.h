/* control.h -- the box driver's control socket, written down once for the
 * driver that answers and the consumers that ask (the web console, the
 * MQTT bridge). A datagram of exactly
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

/* The answer as a consumer reads it back (control_parse_answer). */
#define CONTROL_NAME_MAX 40  /* bytes of a feed name kept, without its NUL */
struct control_answer {
    int num_feeds;
    char names[CONTROL_MAX_FEEDS][CONTROL_NAME_MAX + 1];
    int feed;            /* 0..9 */
    int level;           /* 0..CONTROL_LEVEL_MAX */
    int live;            /* 0 or 1 */
};

/* The key a datagram carries: one of CONTROL_KEYS when it is exactly that
 * one byte, else 0 (empty, longer, "q", anything unknown). */
int control_key(const void *datagram, size_t len);

/* Write the answer line for `state` into buf (with "\n" and a NUL). Its
 * length, or -1 (buf holding an empty string) when it does not fit. */
int control_format_state(char *buf, size_t size, const struct control_state *state);

/* Read an answer line into *out. 0, or -1 (*out untouched) when it is
 * not such a line. Names longer than CONTROL_NAME_MAX bytes are cut at a
 * character boundary; feeds past CONTROL_MAX_FEEDS are left out. Needs
 * the JSON reader: link wire_json. */
int control_parse_answer(const char *text, size_t len, struct control_answer *out);

/* The level keys that take the master level from `from` towards `to`
 * (both 0..CONTROL_LEVEL_MAX): as many "u" or "d" as whole steps lie
 * between them, rounded to the nearest, and enough to reach an end (0 or
 * the maximum) exactly, since the driver stops there; a level above 0
 * never leads to 0, which would be dark rather than dim. Written into keys
 * (no NUL); their number, or -1 when a level is out of range or size is
 * too small (CONTROL_LEVEL_MAX / CONTROL_LEVEL_STEP + 1 always does). */
int control_level_keys(int from, int to, char *keys, size_t size);

#ifdef __cplusplus
}
#endif

#endif
