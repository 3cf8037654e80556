/* hall.h -- the serial box back-end: ten dimmer boxes of six channels on
 * one serial line. Implements the light output contract (interface_2001.h)
 * and adds the single-command operations and the channel map.
 * The line speed is a build setting (BOX_BAUD, 38400 unless set). */
#ifndef BOXDRIVER_HALL_H
#define BOXDRIVER_HALL_H

#include <stdio.h>
#include <sys/time.h>

#include "interface_2001.h"

#ifndef BOX_BAUD
#define BOX_BAUD 38400
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of the channel map: where a frame value is shown, box 1..10
 * and channel 1..6, both counted from 1. */
struct box_location {
    int box;
    int channel;
};

/* Set the path of the serial device that init_lights opens. 0, or -1
 * (path unchanged) for an empty path or one longer than any path can be. */
int hall_set_device(const char *path);

/* The path init_lights opens. */
const char *hall_device(void);

/* Build one 3-byte command for a channel pair into out[0..2]: address byte
 * 0x80 | box << 2 | pair, then the dimming-table bytes of both levels.
 * Levels outside 0..255 are clamped. Always 0. */
int set_light_intensity(int box, int pair, int level1, int level2, char *out);

/* Write one command to the line byte by byte; the sum of the three
 * sendbyte results (0 when all went out). */
int box_write_reg(int box, int reg, int data1, int data2);

/* Write one byte, bit 7 set for a command byte and cleared for a data byte.
 * 0, or -1 after a message when the write fails. */
int sendbyte(char byte, int is_command);

/* Place a frame's 60 values into the hardware-ordered frame through the
 * channel map; entries naming no channel are reported and skipped. 0. */
int map_frame(int values[60]);

/* Read the channel map from an open mapping file: 120 integers ("%i"), 60
 * pairs of box and channel. Entries the file does not supply are 0 and 0.
 * Returns how many numbers were read. */
int hall_read_map(FILE *file);

/* The current channel map (60 entries), for inspection. */
const struct box_location *hall_map(void);

/* Pacing. Once it is on, the back-end never hands the line a frame while
 * the one before is still going out: renderFrame then keeps the frame as
 * the waiting one (a newer frame replaces it), and it goes out as soon as
 * the line is free. The caller's loop wakes for that moment with
 * hall_line_timeout and hall_line_service; a caller without such a loop
 * leaves pacing off, and every frame is written as it comes. */

/* Turn pacing on (1) or off (0, the start). */
void hall_line_pace(int on);

/* Shorten *timeout to the moment the line frees when a frame waits for
 * it. 1 when it was shortened, 0 when it was left alone. */
int hall_line_timeout(struct timeval *timeout);

/* Write the waiting frame if the line is free now. Always 0. */
int hall_line_service(void);

/* Keeping the line. Once on (1), a line that reports the device gone (a
 * write fails with EIO, ENXIO or ENODEV, the line hangs up, or its path
 * names another device or none) is closed with "Line lost: DEVICE
 * (reason)"; while it is lost the newest frame waits, and the device is
 * opened and set up again every second until "Line back: DEVICE", when
 * the frame goes out at once. A device missing at init_lights is lost
 * from the start. Off (0, the start): the device stays as init_lights
 * left it. */
void hall_line_keep(int on);

/* Look after a kept line; call it every turn (it looks at most once a
 * second). 1 while the line is up, 0 while it is lost. */
int hall_line_check(void);

/* Frames written to the line, and frames replaced while they waited for
 * it, since the start. */
void hall_line_counts(long long *written, long long *replaced);

#ifdef __cplusplus
}
#endif

#endif
