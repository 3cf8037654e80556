/* emu_line.h -- boxemu's end of the serial line: a pseudo-terminal of its
 * own (the driver opens the other end) or a serial device, read no faster
 * than the real line carries bytes, so that a driver that outruns the
 * line meets the same back-pressure as on real boxes. One record per
 * line, passed to every call. */
#ifndef BOXEMU_EMU_LINE_H
#define BOXEMU_EMU_LINE_H

#include <limits.h>
#include <stddef.h>
#include <termios.h>

struct emu_line {
    int fd;               /* read end: the pty's master, or the device */
    int keep;             /* the pty's other end, held open so that the line
                             outlives a driver that closes it; -1 for a device */
    char path[PATH_MAX];  /* what the driver opens, or the device read */
    int marked;           /* the device marks bytes received in error */
    int plain;            /* the path is no terminal: bytes as they are */
    long baud;            /* the boxes' speed */
    long long line_ns;    /* when the line finished the last byte taken */
    int idle;             /* every waiting byte taken: the next byte starts
                             on the line when it is seen */
    int ended;            /* a file of captured bytes read to its end */
    struct termios own;   /* pty: the settings boxemu gives it */
    struct termios seen;  /* pty: a driver's settings found at the last look */
    int seen_looks;       /* how many looks in a row found them */
};

/* Make a pseudo-terminal pair, raw, and keep both ends; l->path is the
 * end for the driver. 0, or -1 with a one-line reason in err. */
int emu_line_open_pty(struct emu_line *l, long baud, char *err, size_t errlen);

/* Open a serial device and set it to the boxes' speed and format (8 data
 * bits, odd parity, one stop bit, errors marked). A path that is not a
 * terminal (a FIFO, a file of captured bytes) is read as it is. 0, or -1
 * with a one-line reason naming the path in err. */
int emu_line_open_device(struct emu_line *l, const char *path, long baud, char *err,
                         size_t errlen);

/* Close what is open; the record can be opened again. */
void emu_line_close(struct emu_line *l);

/* When (CLOCK_MONOTONIC ns) the line next has whole bytes to hand over,
 * or -1 when it is idle and the caller waits for input on l->fd. */
long long emu_line_wake(const struct emu_line *l);

/* Input came to an idle line at `now`: its first byte starts then. */
void emu_line_start(struct emu_line *l, long long now);

/* Take the bytes the line has carried by `now`, at most max, into buf.
 * How many (0 when none are due yet), -1 on a read error (errno set).
 * Finding fewer bytes waiting than are due makes the line idle. */
long emu_line_take(struct emu_line *l, long long now, unsigned char *buf, size_t max);

/* 1 at end of input (a file of captured bytes read to its end). */
int emu_line_ended(const struct emu_line *l);

/* Pseudo-terminal only: look at the settings the driver gave the line.
 * 1 when it set new ones (they have stayed for two looks), with their
 * speed in *baud (0 when it is none of the usual); boxemu's own settings
 * are then put back, so that the next driver's settings are a change
 * again (the C library reports a setting that changes nothing on a pty
 * as refused). 0 otherwise. */
int emu_line_look(struct emu_line *l, long *baud);

#endif
