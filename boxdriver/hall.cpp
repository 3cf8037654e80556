/* hall.cpp -- serial box back-end.
 *
 * Every frame goes to the boxes as 30 three-byte commands, one per channel
 * pair: an address byte with bit 7 set, then two firing delays from the
 * dimming table. State: the open device, the channel map and the frame in
 * hardware order, all kept for the life of the program; and the pacing:
 * when the line will be free, and the frame waiting for it. Called from
 * the box driver's main loop only.
 *
 * Pacing: a frame takes 25.8 ms on the line at 38400 baud, and a feed may
 * come three times as fast. Writing every frame would fill the output
 * queue, and the lamps would run behind by its length; so a frame is
 * written only once the one before has left, and a frame that comes
 * meanwhile waits, replaced by any newer one. When the line has gone is
 * known from its speed and, on a real port, from the kernel's count of
 * bytes still unsent (an adapter's own buffer included).
 *
 * Keeping the line: a USB adapter can be pulled and the boxes' end can go
 * away. Once the driver asks for it, a line that reports the device gone
 * is closed and said lost, and the device is opened again every second
 * until it is back; meanwhile the newest frame waits for it. */
#include "boxdriver/hall.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "loop/loop.h"
#include "boxline/line.h"

#if BOX_BAUD == 57600
#define BOX_SPEED B57600
#elif BOX_BAUD == 38400
#define BOX_SPEED B38400
#else
#error "BOX_BAUD must be 38400 or 57600"
#endif

namespace {

const char *const MAP_FILE = "hall_config";
const long long FRAME_NS = boxline_line_ns(BOX_BAUD, BOXLINE_FRAME_BYTES);

/* PATH_MAX holds every path open() accepts, /dev/ttyUSB0 and longer. */
char modem_device[PATH_MAX] = "/dev/ttyS0";
int box_fd = -1;                           /* open serial device, or -1 */
box_location box_locations[LIGHT_CHANNELS]; /* frame index -> box, channel */
int mapped_light_data[LIGHT_CHANNELS];      /* frame in hardware order */

bool pacing = false;                        /* hold frames while the line is busy */
long long line_free_ns = 0;                 /* when the last frame written has
                                               left the line (CLOCK_MONOTONIC) */
bool frame_waiting = false;                 /* waiting_frame is to go out */
int waiting_frame[LIGHT_CHANNELS];          /* the newest frame, as handed in */
long long frames_written = 0;
long long frames_replaced = 0;              /* waited, and a newer came */

bool keeping = false;                       /* reopen a lost line */
bool lost = false;                          /* the line is gone: said so once */
bool map_loaded = false;                    /* init_lights or a reopen loaded it */
int open_error = ENODEV;                    /* why init_lights found no line */
dev_t line_rdev = 0;                        /* the device the open line is */
long long checked_ns = 0;                   /* when the line was last looked at */
const long long CHECK_NS = 1000000000LL;    /* ... and how often it is */

/* The line is gone: close it, say so once, and keep the newest frame for
 * its return. */
void lose_line(const char *reason)
{
    if (box_fd >= 0)
        close(box_fd);
    box_fd = -1;
    if (!lost)
        printf("Line lost: %s (%s)\n", modem_device, reason);
    lost = true;
}

/* Errors that mean the device itself has gone, not a passing hitch. */
bool device_gone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF;
}

/* Whether the line has sent everything handed to it. On a serial port
 * the kernel knows what is still queued, the adapter's buffer included;
 * a pseudo-terminal says 0, and the line's speed alone decides. */
bool line_free(long long now)
{
    if (now < line_free_ns)
        return false;
    int queued = 0;
    if (ioctl(box_fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        line_free_ns = now + boxline_line_ns(BOX_BAUD, queued);
        return false;
    }
    return true;
}

/* Map and write one frame, and note when it will have left the line. The
 * write sizes are the boxes' own: after every command for pair 0, so box
 * 1 pair 0 alone, then pairs 1 and 2 of a box with pair 0 of the next,
 * then the last two pairs. Failed writes are ignored (the boxes keep
 * their last levels), unless the line is kept and the device has gone. */
void write_frame(int values[LIGHT_CHANNELS], long long now)
{
    map_frame(values);
    unsigned char out[BOXLINE_FRAME_BYTES];
    boxline_frame(mapped_light_data, out);
    int from = 0;
    for (int c = 0; c < BOXLINE_FRAME_COMMANDS; c++) {
        int end = (c + 1) * BOXLINE_COMMAND_BYTES;
        if (c % BOXLINE_PAIRS == 0 || c == BOXLINE_FRAME_COMMANDS - 1) {
            if (write(box_fd, out + from, end - from) < 0 && keeping && device_gone(errno)) {
                /* The frame never reached the boxes: it waits for the line. */
                lose_line(strerror(errno));
                memcpy(waiting_frame, values, sizeof waiting_frame);
                frame_waiting = true;
                return;
            }
            from = end;
        }
    }
    line_free_ns = (now > line_free_ns ? now : line_free_ns) + FRAME_NS;
    frames_written++;
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

/* Set the line up as the boxes want it: 0, or -1 with errno set. */
int configure_line(int fd)
{
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
    return tcsetattr(fd, TCSANOW, &tio);
}

/* The line is up on fd: remember which device it is, start afresh. */
void line_up(int fd)
{
    struct stat st;
    box_fd = fd;
    line_rdev = fstat(fd, &st) == 0 ? st.st_rdev : 0;
    line_free_ns = 0;
}

/* Try the device again, quietly: 1 when the line is back. */
int reopen_line()
{
    /* Not blocking on open: a port can wait for a carrier that never
     * comes; the writes are blocking again once it is set up. */
    int fd = open(modem_device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    int flags = fcntl(fd, F_GETFL);
    if (configure_line(fd) < 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        close(fd);
        return 0;
    }
    line_up(fd);
    if (!map_loaded) /* the device was missing at start */
        load_map();
    map_loaded = true;
    lost = false;
    printf("Line back: %s\n", modem_device);
    return 1;
}

/* Why the open line is no longer the device, or NULL while it is: it hung
 * up, or its path now names another device (a symbolic link moved) or
 * none. */
const char *line_gone()
{
    struct pollfd p = {box_fd, 0, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return "hung up";
    struct stat st;
    if (stat(modem_device, &st) != 0)
        return strerror(errno);
    if (st.st_rdev != line_rdev)
        return "the path names another device now";
    return nullptr;
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
    int fd = open(modem_device, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        open_error = errno;
        perror(modem_device);
        box_fd = -1;
        return -1;
    }
    if (configure_line(fd) < 0) {
        open_error = errno;
        perror("tcsetattr");
        close(fd);
        box_fd = -1;
        return -1;
    }
    frame_waiting = false;
    line_up(fd);
    load_map();
    map_loaded = true;
    return 0;
}

/* Show one frame: written at once when the line is free, else kept as the
 * waiting frame (replacing an older one) for hall_line_service. Always 0;
 * without a device nothing is mapped or written. */
int renderFrame(int values[60])
{
    if (box_fd < 0) {
        if (keeping) { /* the newest goes out when the line is back */
            memcpy(waiting_frame, values, sizeof waiting_frame);
            frame_waiting = true;
        }
        return 0;
    }
    if (frame_waiting)
        frames_replaced++;
    long long now = loop_now_ns();
    if (!pacing || line_free(now)) {
        frame_waiting = false;
        write_frame(values, now);
    } else {
        memcpy(waiting_frame, values, sizeof waiting_frame);
        frame_waiting = true;
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
    boxline_command(box, pair, level1, level2, (unsigned char *)out);
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

void hall_line_pace(int on)
{
    pacing = on != 0;
}

int hall_line_timeout(struct timeval *timeout)
{
    if (!frame_waiting || box_fd < 0)
        return 0;
    long long wait = line_free_ns - loop_now_ns();
    if (wait < 0)
        wait = 0;
    long long usec = (wait + 999) / 1000; /* never wake before the line frees */
    long long given = (long long)timeout->tv_sec * 1000000 + timeout->tv_usec;
    if (usec >= given)
        return 0;
    timeout->tv_sec = (time_t)(usec / 1000000);
    timeout->tv_usec = (suseconds_t)(usec % 1000000);
    return 1;
}

int hall_line_service(void)
{
    if (!frame_waiting || box_fd < 0)
        return 0;
    long long now = loop_now_ns();
    if (line_free(now)) {
        frame_waiting = false;
        write_frame(waiting_frame, now);
    }
    return 0;
}

void hall_line_keep(int on)
{
    keeping = on != 0;
    if (keeping && box_fd < 0 && !lost)
        lose_line(strerror(open_error));
}

int hall_line_check(void)
{
    if (!keeping)
        return box_fd >= 0;
    long long now = loop_now_ns();
    if (now - checked_ns < CHECK_NS)
        return box_fd >= 0;
    checked_ns = now;
    if (box_fd >= 0) {
        const char *why = line_gone();
        if (why)
            lose_line(why);
    } else if (reopen_line() && frame_waiting) {
        frame_waiting = false;
        write_frame(waiting_frame, loop_now_ns());
    }
    return box_fd >= 0;
}

void hall_line_counts(long long *written, long long *replaced)
{
    *written = frames_written;
    *replaced = frames_replaced;
}

} // extern "C"
