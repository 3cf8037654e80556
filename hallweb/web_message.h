/* web_message.h -- what the page and the server say to each other over
 * the WebSocket, besides the frames.
 *
 * Page to server, one small JSON object a message (at most
 * WEB_MESSAGE_MAX bytes):
 *   {"type":"view","feed":N}      show feed N on this page
 *   {"type":"auth","token":"..."} unlock the controls
 *   {"type":"select","feed":N}    the box driver's feed key N
 *   {"type":"level","level":L}    the box driver's master level, 0..256
 * Server to page: JSON "hello" (the feeds, whether controls are offered),
 * "status" (each feed's frames a second and liveness, the driver's state),
 * "auth" and "error" replies; and each frame as a binary message, the
 * feed's index then its 60 levels. */
#ifndef HALLWEB_WEB_MESSAGE_H
#define HALLWEB_WEB_MESSAGE_H

#include <stddef.h>

#include "hallweb/web_options.h"
#include "hallweb/web_token.h"
#include "wire/control.h"

#define WEB_MESSAGE_MAX 512      /* bytes of one message from a page */
#define WEB_STATUS_MAX 4096      /* bytes of one message to a page */
#define WEB_FRAME_MESSAGE (1 + 60)

enum web_message_kind { WEB_MSG_VIEW, WEB_MSG_AUTH, WEB_MSG_SELECT, WEB_MSG_LEVEL };

/* A message from a page, checked for shape and range. */
struct web_message {
    enum web_message_kind kind;
    int feed;                        /* view: 0..WEB_MAX_FEEDS-1; select: 0..9 */
    int level;                       /* level: 0..256 */
    char token[WEB_TOKEN_MAX + 1];   /* auth */
    size_t token_len;
};

/* Parse one message from a page. 0 with *m filled; -1 with a one-line
 * reason for the page in err. */
int web_message_parse(const char *text, size_t len, struct web_message *m, char *err,
                      size_t errlen);

/* Who may use the controls on this server. */
enum web_controls { WEB_CONTROLS_OFF, WEB_CONTROLS_TOKEN, WEB_CONTROLS_OPEN };

/* The box driver as last heard from. */
struct web_driver_state {
    int reachable;                   /* it answered within the last moments */
    int num_feeds;
    char names[CONTROL_MAX_FEEDS][WEB_NAME_MAX + 1];
    int feed;
    int level;
    int live;
};

/* One feed's figures for the page. */
struct web_feed_status {
    double fps;
    int live;
};

/* The messages to pages, written into buf. Each returns its length, or
 * -1 when it does not fit (buf then holds an empty string). */
int web_message_hello(char *buf, size_t size, const struct web_feed_arg *feeds, int num_feeds,
                      int has_driver, enum web_controls controls);
int web_message_status(char *buf, size_t size, const struct web_feed_status *feeds,
                       int num_feeds, int has_driver, const struct web_driver_state *driver);
int web_message_auth(char *buf, size_t size, int ok);
int web_message_error(char *buf, size_t size, const char *text);

/* The driver's answer line (wire/control.h) into *s (reachable set).
 * 0, or -1 (*s untouched) when it is not such a line. Names longer than
 * WEB_NAME_MAX bytes are cut; feeds past CONTROL_MAX_FEEDS are left out. */
int web_driver_parse(const char *text, size_t len, struct web_driver_state *s);

#endif
