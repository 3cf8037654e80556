/* line.h -- the serial line to the dimmer boxes as both ends see it: the
 * 3-byte command, a frame of 30 commands in line order, the 11 bits of a
 * byte on the wire and the timing that follows from them, and the dimming
 * table both ways (a level to its firing delay, a delay back to a level).
 * The box driver sends with it, the box emulator receives with it. */
#ifndef BOXLINE_LINE_H
#define BOXLINE_LINE_H

#include "interface_2001.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BOXLINE_BOXES LIGHT_BOXES          /* boxes 1..10 on the wire */
#define BOXLINE_PAIRS 3                    /* channel pairs 0..2 of a box */
#define BOXLINE_COMMAND_BYTES 3            /* address, delay, delay */
#define BOXLINE_FRAME_COMMANDS (BOXLINE_BOXES * BOXLINE_PAIRS)
#define BOXLINE_FRAME_BYTES (BOXLINE_FRAME_COMMANDS * BOXLINE_COMMAND_BYTES)
#define BOXLINE_ADDRESS_FLAG 0x80          /* set in address bytes only */

/* On the wire a byte is a start bit, 8 data bits, odd parity and a stop
 * bit. The line runs at one of two speeds. */
#define BOXLINE_BITS_PER_BYTE 11
#define BOXLINE_BAUD 38400
#define BOXLINE_BAUD_FAST 57600

/* Delays run from 1 (fire at once: full) to 119 (fire late: off). */
#define BOXLINE_DELAY_FULL 1
#define BOXLINE_DELAY_OFF 119

/* The address byte of a box (1..10) and pair (0..2): bit 7 set, the box
 * in bits 2..6, the pair in bits 0..1, computed in 8 bits. */
unsigned char boxline_address(int box, int pair);

/* 1 with *box (1..10) and *pair (0..2) set when `byte` addresses a real
 * box and pair, 0 (nothing set) for any other byte. */
int boxline_parse_address(unsigned char byte, int *box, int *pair);

/* The firing delay byte that the boxes get for a level; levels outside
 * 0..255 are clamped. */
unsigned char boxline_delay(int level);

/* The level a delay byte shows, the inverse of the dimming table. Where
 * several levels share a delay, the highest of them: the delay is the
 * last firing point that still leaves that level's power, so the lamp
 * gives at least that much. A delay between two entries of the table
 * shows the level nearest by linear interpolation between theirs (a tie
 * goes to the dimmer); below the first entry full, beyond the last off. */
int boxline_level(unsigned char delay);

/* One command for box 1..10, pair 0..2 and the pair's two levels. */
void boxline_command(int box, int pair, int level1, int level2, unsigned char out[3]);

/* The 90 bytes of a frame from 60 levels in hardware order (index
 * (box - 1) * 6 + channel - 1): box 1 pair 0 first, box 10 pair 2 last. */
void boxline_frame(const int levels[LIGHT_CHANNELS], unsigned char out[BOXLINE_FRAME_BYTES]);

/* 1 for a speed the boxes take (38400 or 57600 baud), 0 otherwise. */
int boxline_baud_ok(long baud);

/* Nanoseconds that `bytes` bytes take on the line at `baud` (a frame:
 * 25781250 at 38400, 17187500 at 57600). */
long long boxline_line_ns(long baud, long long bytes);

/* Whole bytes that the line carries in `ns` nanoseconds at `baud`. */
long long boxline_line_bytes(long baud, long long ns);

#ifdef __cplusplus
}
#endif

#endif
