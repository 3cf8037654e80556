/* web_message.h -- what the page and the server say to each other over
 * the WebSocket, besides the frames.
 *
 * Page to server, one small JSON object a message (at most
 * WEB_MESSAGE_MAX bytes):
 *   {"type":"view","feed":N}      show feed N on this page
 *   {"type":"auth","token":"..."} unlock the controls
 *   {"type":"select","feed":N}    the box driver's feed key N
 *   {"type":"level","level":L}    the box driver's master level, 0..256
 *   {"type":"next"}               the light show's next pattern now
 *   {"type":"auto"}               the light show back to its rotation
 * Server to page: JSON "hello" (the feeds, whether controls are offered),
 * "status" (each feed's frames a second and liveness, the driver's and the
 * show's state),
 * "auth" and "error" replies; and each frame as a binary message, the
 * feed's index then its 60 levels. */
#ifndef HALLWEB_WEB_MESSAGE_H
#define HALLWEB_WEB_MESSAGE_H

#include <stddef.h>

#include "hallweb/web_options.h"
#include "hallweb/web_token.h"
#include "wire/control.h"
#include "wire/show_control.h"

#define WEB_MESSAGE_MAX 512      /* bytes of one message from a page */
#define WEB_STATUS_MAX 4096      /* bytes of one message to a page */
#define WEB_FRAME_MESSAGE (1 + 60)

enum web_message_kind { WEB_MSG_VIEW, WEB_MSG_AUTH, WEB_MSG_SELECT, WEB_MSG_LEVEL, WEB_MSG_NEXT,
                        WEB_MSG_AUTO };

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
    struct control_answer heard;     /* its newest answer, while reachable */
};

/* The light show as last heard from. */
struct web_show_state {
    int reachable;
    struct show_answer heard;
};

/* One feed's figures for the page. */
struct web_feed_status {
    double fps;
    int live;
};

/* The messages to pages, written into buf. Each returns its length, or
 * -1 when it does not fit (buf then holds an empty string). The status
 * leaves out the driver and the show when they are NULL (not watched). */
int web_message_hello(char *buf, size_t size, const struct web_feed_arg *feeds, int num_feeds,
                      int has_driver, int has_show, enum web_controls controls);
int web_message_status(char *buf, size_t size, const struct web_feed_status *feeds,
                       int num_feeds, const struct web_driver_state *driver,
                       const struct web_show_state *show);
int web_message_auth(char *buf, size_t size, int ok);
int web_message_error(char *buf, size_t size, const char *text);

#endif
