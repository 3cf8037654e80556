/* feeds.cpp -- the built-in feed table (feeds.h). */
#include "wire/feeds.h"

#include "wire/wire.h"

extern "C" {

const struct wire_feed_row wire_builtin_feeds[WIRE_BUILTIN_FEEDS] = {
    {"Main Music", WIRE_HOST_A, WIRE_PORT_MUSIC},
    {"Test pattern", WIRE_HOST_B, WIRE_PORT_TEST},
    {"Pong! Pong!", WIRE_HOST_B, WIRE_PORT_PONG},
    {"Guest 1", WIRE_HOST_C, WIRE_PORT_MUSIC},
    {"Guest 2", WIRE_HOST_C, WIRE_PORT_TEST},
    {"Guest 3", WIRE_HOST_C, WIRE_PORT_PONG},
    {"Local comp", WIRE_HOST_A, WIRE_PORT_MUSIC},
};

} // extern "C"
