/* hall.h -- the network light server: the light output back-end that
 * producers link. Anyone who sends a datagram to server_port becomes a
 * subscriber and receives every frame as one 60-byte datagram. */
#ifndef NETSERVER_HALL_H
#define NETSERVER_HALL_H

#include <stdint.h>

#include "interface_2001.h"

#ifdef __cplusplus
extern "C" {
#endif

/* UDP port to bind; a producer may set it before init_lights. */
extern uint16_t server_port;

/* Most subscriber records kept at once; a new sender beyond this is
 * ignored (known subscribers still renew), so spoofed source ports cannot
 * exhaust memory. */
#define HALL_MAX_SUBSCRIBERS 1024

/* Most records one source address may hold: more consumers than this on
 * one host is no real hallway, and it leaves room for the others. */
#define HALL_MAX_PER_HOST 16

/* Number of subscribers currently on the list (for tests and status). */
int hall_subscriber_count(void);

#ifdef __cplusplus
}
#endif

#endif
