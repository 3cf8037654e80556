/* emu_line.cpp -- boxemu's end of the serial line (see emu_line.h). The
 * pace: a byte takes 11 bit times; bytes that wait in the pseudo-terminal
 * are taken when the line would have delivered them, a command's worth
 * at a time, and the driver's writes block once the pty is full, as
 * they would on a real port. */
#include "boxemu/emu_line.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "boxline/line.h"

namespace {

/* The line hands over bytes a command at a time: fine enough for timing
 * (0.9 ms at 38400 baud), coarse enough not to wake for every byte. */
const long long TAKE_BYTES = BOXLINE_COMMAND_BYTES;

/* Looks in a row that must find a driver's settings before boxemu puts
 * its own back: the driver's own check of them is long over by then. */
const int SETTLED_LOOKS = 2;

speed_t speed_of(long baud)
{
    return baud == BOXLINE_BAUD_FAST ? B57600 : B38400;
}

long baud_of(speed_t speed)
{
    switch (speed) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

void reset(emu_line *l, long baud)
{
    memset(l, 0, sizeof *l);
    l->fd = -1;
    l->keep = -1;
    l->baud = baud;
    l->idle = 1;
}

/* The settings that matter to the bytes: speed, size, parity, raw input. */
bool same_settings(const termios &a, const termios &b)
{
    const tcflag_t cmask = CBAUD | CSIZE | CSTOPB | PARENB | PARODD;
    return (a.c_cflag & cmask) == (b.c_cflag & cmask) && a.c_iflag == b.c_iflag &&
           a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag;
}

} // namespace

int emu_line_open_pty(struct emu_line *l, long baud, char *err, size_t errlen)
{
    reset(l, baud);
    char name[PATH_MAX];
    if (openpty(&l->fd, &l->keep, name, nullptr, nullptr) != 0) {
        snprintf(err, errlen, "boxemu: openpty: %s", strerror(errno));
        reset(l, baud);
        return -1;
    }
    snprintf(l->path, sizeof l->path, "%s", name);
    /* Raw, so that no byte is translated before the driver sets the line
     * up, and at a speed no driver asks for, so that the driver's own
     * settings always read as a change. */
    tcgetattr(l->keep, &l->own);
    cfmakeraw(&l->own);
    cfsetspeed(&l->own, B9600);
    if (tcsetattr(l->keep, TCSANOW, &l->own) != 0) {
        snprintf(err, errlen, "boxemu: tcsetattr(%s): %s", name, strerror(errno));
        emu_line_close(l);
        return -1;
    }
    tcgetattr(l->keep, &l->own); /* as the pty keeps them */
    int flags = fcntl(l->fd, F_GETFL);
    fcntl(l->fd, F_SETFL, flags | O_NONBLOCK);
    return 0;
}

int emu_line_open_device(struct emu_line *l, const char *path, long baud, char *err,
                         size_t errlen)
{
    reset(l, baud);
    snprintf(l->path, sizeof l->path, "%s", path);
    /* Read and write, so that a FIFO never reads as ended while no
     * writer has it open. */
    l->fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (l->fd < 0 && (errno == EACCES || errno == EROFS || errno == EISDIR))
        l->fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (l->fd < 0) {
        snprintf(err, errlen, "boxemu: %s: %s", path, strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(l->fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        snprintf(err, errlen, "boxemu: %s: %s", path, strerror(EISDIR));
        emu_line_close(l);
        return -1;
    }
    if (!isatty(l->fd)) {
        l->plain = 1; /* bytes as they are: no speed, no error marks */
        return 0;
    }

    struct termios tio;
    memset(&tio, 0, sizeof tio);
    tio.c_cflag = speed_of(baud)   /* the boxes' speed */
                | CS8              /* 8 data bits */
                | CREAD            /* receiver on */
                | PARENB | PARODD  /* odd parity; one stop bit */
                | CLOCAL;          /* no modem lines, no RTS/CTS */
    tio.c_iflag = INPCK            /* check parity */
                | PARMRK;          /* and mark bytes received in error (and
                                      breaks) as 0xff 0x00 byte, so they are
                                      counted; no XON/XOFF, no translation */
    /* c_oflag 0: raw output. c_lflag 0: no echo, non-canonical. c_cc all
     * 0: VMIN = VTIME = 0, reads return what is there. */
    cfsetispeed(&tio, speed_of(baud));
    cfsetospeed(&tio, speed_of(baud));
    if (tcsetattr(l->fd, TCSANOW, &tio) != 0) {
        snprintf(err, errlen, "boxemu: tcsetattr(%s): %s", path, strerror(errno));
        emu_line_close(l);
        return -1;
    }
    l->marked = 1;
    return 0;
}

void emu_line_close(struct emu_line *l)
{
    if (l->fd >= 0)
        close(l->fd);
    if (l->keep >= 0)
        close(l->keep);
    l->fd = l->keep = -1;
    l->idle = 1;
}

long long emu_line_wake(const struct emu_line *l)
{
    if (l->idle || l->fd < 0)
        return -1;
    return l->line_ns + boxline_line_ns(l->baud, TAKE_BYTES);
}

void emu_line_start(struct emu_line *l, long long now)
{
    if (l->idle) {
        l->idle = 0;
        l->line_ns = now;
    }
}

long emu_line_take(struct emu_line *l, long long now, unsigned char *buf, size_t max)
{
    if (l->idle || l->fd < 0)
        return 0;
    long long due = boxline_line_bytes(l->baud, now - l->line_ns);
    if (due <= 0)
        return 0;
    if ((size_t)due > max)
        due = (long long)max;
    ssize_t got = read(l->fd, buf, (size_t)due);
    if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            l->idle = 1;
            return 0;
        }
        return -1;
    }
    if (got == 0 && l->plain)
        l->ended = 1; /* a file read to its end (a FIFO never ends here) */
    l->line_ns += boxline_line_ns(l->baud, got);
    if (got < due)
        l->idle = 1;
    return (long)got;
}

int emu_line_ended(const struct emu_line *l)
{
    return l->ended;
}

int emu_line_look(struct emu_line *l, long *baud)
{
    if (l->keep < 0)
        return 0;
    struct termios now;
    if (tcgetattr(l->keep, &now) != 0 || same_settings(now, l->own)) {
        l->seen_looks = 0;
        return 0;
    }
    if (l->seen_looks == 0 || !same_settings(now, l->seen)) {
        l->seen = now;
        l->seen_looks = 1;
        return 0;
    }
    if (++l->seen_looks < SETTLED_LOOKS)
        return 0;
    l->seen_looks = 0;
    *baud = baud_of(cfgetospeed(&now));
    tcsetattr(l->keep, TCSANOW, &l->own);
    return 1;
}
