/* wire.h -- what travels between the programs, written down once: the
 * frame datagram, the well-known ports, the subscription rhythm and the
 * paddle datagram. Every producer, consumer and controller takes its
 * numbers from here. Plain C. */
#ifndef WIRE_WIRE_H
#define WIRE_WIRE_H

#include "interface_2001.h"

/* A frame on the wire: one byte (0..255) per channel, in frame order. */
#define WIRE_FRAME_BYTES LIGHT_CHANNELS

/* A consumer subscribes by sending any datagram of one byte or more from
 * its receiving socket to the producer's port; this is the byte it sends. */
#define WIRE_REQUEST_BYTE 'A'

/* Consumers renew every so many turns of their loop, and at least every
 * so many seconds; producers drop a subscriber that stays silent. While
 * no frames come they ask more often: a producer that has just started
 * again knows nobody yet. */
#define WIRE_RENEW_TURNS 250
#define WIRE_RENEW_SECONDS 2.0
#define WIRE_RENEW_QUIET_SECONDS 0.5

/* Well-known UDP ports. */
#define WIRE_PORT_MUSIC 7878      /* the music show's light server */
#define WIRE_PORT_TEST 7879       /* the test feed */
#define WIRE_PORT_PONG 7880       /* the pong game's light server */
#define WIRE_PORT_LAMPS 7877      /* the box emulator: what the lamps show */
#define WIRE_PORT_DMX 7876        /* a DMX universe turned into a feed */
#define WIRE_PORT_PADDLE1 8000    /* the game's paddle sockets */
#define WIRE_PORT_PADDLE2 8001

/* The default producer of a consumer that is given no feed. */
#define WIRE_DEFAULT_HOST "127.0.0.1"
#define WIRE_DEFAULT_PORT WIRE_PORT_MUSIC

/* A paddle datagram: the value as a 4-byte int in machine order, then the
 * button byte. */
#define WIRE_PADDLE_BYTES 5

/* A number above as text, for help texts and messages written as string
 * literals: "(default " WIRE_TEXT(WIRE_PORT_MUSIC) ")". */
#define WIRE_TEXT(n) WIRE_TEXT_(n)
#define WIRE_TEXT_(n) #n

#endif
