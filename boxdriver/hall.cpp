/* hall.cpp -- serial box back-end.
 *
 * Every frame goes to the boxes as 30 three-byte commands, one per channel
 * pair: an address byte with bit 7 set, then two firing delays from the
 * dimming table. State: the open device, the channel map and the frame in
 * hardware order, all kept for the life of the program. Called from the
 * box driver's main loop only. */
#include "boxdriver/hall.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "boxline/scale_table.h"

#if BOX_BAUD == 57600
#define BOX_SPEED B57600
#elif BOX_BAUD == 38400
#define BOX_SPEED B38400
#else
#error "BOX_BAUD must be 38400 or 57600"
#endif

namespace {

const int PAIRS_PER_BOX = 3;
const int COMMAND_BYTES = 3;
const char *const MAP_FILE = "hall_config";

/* PATH_MAX holds every path open() accepts, /dev/ttyUSB0 and longer. */
char modem_device[PATH_MAX] = "/dev/ttyS0";
int box_fd = -1;                           /* open serial device, or -1 */
box_location box_locations[LIGHT_CHANNELS]; /* frame index -> box, channel */
int mapped_light_data[LIGHT_CHANNELS];      /* frame in hardware order */

/* Levels are clamped here: producers may hand over any int, and the level
 * indexes the dimming table. */
int clamp_level(int level)
{
    return level < 0 ? 0 : level > 255 ? 255 : level;
}

void load_identity_map()
{
    for (int k = 0; k < LIGHT_CHANNELS; k++) {
        box_locations[k].box = k / LIGHT_CHANNELS_PER_BOX + 1;
        box_locations[k].channel = k % LIGHT_CHANNELS_PER_BOX + 1;
    }
}

/* The map file in the working directory, or the identity map without it. */
void load_map()
{
    FILE *file = fopen(MAP_FILE, "r");
    if (!file) {
        load_identity_map();
        return;
    }
    hall_read_map(file);
    fclose(file);
}

} // namespace

extern "C" {

int hall_set_device(const char *path)
{
    if (!path || !*path || strlen(path) >= sizeof modem_device)
        return -1;
    strcpy(modem_device, path);
    return 0;
}

const char *hall_device(void)
{
    return modem_device;
}

/* Open and configure the serial device, then load the channel map.
 * 0, or -1 (no device, map not loaded) after a message. */
int init_lights(void)
{
    box_fd = open(modem_device, O_RDWR | O_NOCTTY);
    if (box_fd < 0) {
        perror(modem_device);
        box_fd = -1;
        return -1;
    }

    struct termios tio;
    memset(&tio, 0, sizeof tio);      /* every field not set below is 0 */
    tio.c_cflag = BOX_SPEED           /* line speed */
                | CS8                 /* 8 data bits */
                | CREAD               /* receiver on */
                | PARENB | PARODD     /* odd parity; one stop bit */
                | CLOCAL;             /* ignore modem lines, no RTS/CTS */
    tio.c_iflag = IGNPAR;             /* drop bytes with parity errors;
                                         no XON/XOFF, no translation */
    /* c_oflag 0: raw output. c_lflag 0: no echo, non-canonical.
     * c_cc all 0: VMIN = VTIME = 0. */
    if (tcsetattr(box_fd, TCSANOW, &tio) < 0) {
        perror("tcsetattr");
        close(box_fd);
        box_fd = -1;
        return -1;
    }

    load_map();
    return 0;
}

/* Build and write the 30 commands of one frame. Always 0; failed writes
 * are ignored (the frame is partly lost), and without a device nothing is
 * mapped or written. */
int renderFrame(int values[60])
{
    if (box_fd < 0)
        return 0;
    map_frame(values);

    /* One write per box boundary: box 1 pair 0 alone, then pairs 1 and 2
     * of a box with pair 0 of the next, then the last two pairs. */
    char out[COMMAND_BYTES * PAIRS_PER_BOX];
    int used = 0;
    for (int j = 0; j < LIGHT_CHANNELS; j += 2) {
        int box = j / LIGHT_CHANNELS_PER_BOX + 1;
        int pair = (j % LIGHT_CHANNELS_PER_BOX) / 2;
        set_light_intensity(box, pair, mapped_light_data[j],
                            mapped_light_data[j + 1], out + used);
        used += COMMAND_BYTES;
        if (pair == 0) {
            if (write(box_fd, out, used) < 0) {
                /* ignored: the boxes keep their last levels */
            }
            used = 0;
        }
    }
    if (used > 0 && write(box_fd, out, used) < 0) {
        /* ignored as above */
    }
    return 0;
}

/* Close the device: 0, or -1 when none was open. */
int deinit_lights(void)
{
    if (box_fd <= 0)
        return -1;
    close(box_fd);
    box_fd = -1;
    return 0;
}

int set_light_intensity(int box, int pair, int level1, int level2, char *out)
{
    out[0] = (char)(0x80 | (((unsigned)box << 2) & 0xff) | ((unsigned)pair & 0xff));
    out[1] = (char)(scale_table[255 - clamp_level(level1)] & 0xff);
    out[2] = (char)(scale_table[255 - clamp_level(level2)] & 0xff);
    return 0;
}

int box_write_reg(int box, int reg, int data1, int data2)
{
    int sum = sendbyte((char)(((unsigned)box << 2) | (unsigned)reg), 1);
    sum += sendbyte((char)data1, 0);
    sum += sendbyte((char)data2, 0);
    return sum;
}

int sendbyte(char byte, int is_command)
{
    unsigned char b = (unsigned char)byte;
    b = is_command == 1 ? (b | 0x80) : (b & 0x7f);
    if (write(box_fd, &b, 1) < 0) {
        perror("write");
        return -1;
    }
    return 0;
}

int map_frame(int values[60])
{
    for (int k = 0; k < LIGHT_CHANNELS; k++) {
        /* Only the combined index is checked: box 1 channel 7 is box 2
         * channel 1. Wider than int so that no file entry can overflow. */
        long long h = (long long)(box_locations[k].box - 1LL) *
                          LIGHT_CHANNELS_PER_BOX +
                      box_locations[k].channel - 1LL;
        if (h < 0 || h >= LIGHT_CHANNELS) {
            fprintf(stderr, "BAD MAPPING CODE!!\n\n\n");
            continue;
        }
        mapped_light_data[h] = values[k];
    }
    return 0;
}

int hall_read_map(FILE *file)
{
    /* The map is read once per start, so entries the file leaves out are
     * 0 and 0 (no channel) rather than anything older. */
    memset(box_locations, 0, sizeof box_locations);
    int numbers = 0;
    for (int k = 0; k < LIGHT_CHANNELS; k++) {
        if (fscanf(file, "%i", &box_locations[k].box) == 1)
            numbers++;
        if (fscanf(file, "%i", &box_locations[k].channel) == 1)
            numbers++;
    }
    return numbers;
}

const struct box_location *hall_map(void)
{
    return box_locations;
}

} // extern "C"
