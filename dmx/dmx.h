/* dmx.h -- what dmxout and dmxin share about DMX and the OLA daemon: the
 * size of a universe, olad's default RPC port, the refresh of a full DMX
 * line and the rhythm of repeats and reconnections. Plain C. */
#ifndef DMX_DMX_H
#define DMX_DMX_H

/* Slots (channels) of one DMX universe, addressed 1..512. */
#define DMX_SLOTS 512

/* The highest start address that still leaves room for all 60 channels. */
#define DMX_LAST_START (DMX_SLOTS - 60 + 1)

/* olad's RPC port unless it was started with another. */
#define DMX_OLA_PORT 9010

/* Frames a second on a full 512-slot DMX line (250 kbit/s, break and
 * start code included): the default pace of both programs. */
#define DMX_RATE 44
#define DMX_MAX_RATE 1000

/* DMX receivers expect a steady signal: the last frame goes out again at
 * least this often when nothing new comes. */
#define DMX_REPEAT_SECONDS 1.0

/* While olad is away, how often to try it again. */
#define DMX_RETRY_SECONDS 1.0

/* OLA universe numbers are unsigned 32-bit; we keep to what a long holds
 * everywhere. */
#define DMX_MAX_UNIVERSE 2147483647L

#endif
