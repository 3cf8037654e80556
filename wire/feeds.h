/* feeds.h -- the box driver's built-in feeds, by name, host role and
 * server port, written down once for the driver's menu and for the
 * consumers that offer the same choice (the web console). Plain C. */
#ifndef WIRE_FEEDS_H
#define WIRE_FEEDS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Which of the installation's three producer machines serves a feed.
 * The driver is told their addresses; every one defaults to 127.0.0.1. */
enum wire_host_role { WIRE_HOST_A, WIRE_HOST_B, WIRE_HOST_C };

struct wire_feed_row {
    const char *name;
    enum wire_host_role host;
    unsigned short port;
};

/* "Main Music" is on host A here; the 57600 baud installation plays it
 * from host B and says so itself. */
#define WIRE_BUILTIN_FEEDS 7
extern const struct wire_feed_row wire_builtin_feeds[WIRE_BUILTIN_FEEDS];

#ifdef __cplusplus
}
#endif

#endif
