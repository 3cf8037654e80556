/* decode.h -- the receiving end of the boxes' serial line: bytes in,
 * lamp levels out. A command is an address byte (bit 7 set) and two delay
 * bytes (bit 7 clear); each whole command sets its pair of lamps to the
 * levels its delays show. Whatever else arrives is counted as a fault and
 * passed over, and decoding picks up again at the next address byte.
 * One record per line, passed to every call. */
#ifndef BOXLINE_DECODE_H
#define BOXLINE_DECODE_H

#include <stddef.h>

#include "boxline/line.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a decoder has taken so far. */
struct boxline_counts {
    long long bytes;        /* bytes off the line (error marks not counted) */
    long long commands;     /* whole commands decoded */
    long long frames;       /* commands for the last address, box 10 pair 2 */
    long long stray;        /* delay bytes with no address before them */
    long long bad_address;  /* address bytes outside boxes 1..10, pairs 0..2 */
    long long cut_short;    /* commands cut short by the next address byte */
    long long line_errors;  /* bytes the device marked with a parity or
                               framing error (or a break) */
};

struct boxline_decoder {
    int state;              /* what the next byte is expected to be */
    int box, pair;          /* the command under way */
    unsigned char first;    /* its first delay */
    int marked;             /* input carries the device's error marks */
    int mark;               /* how far into a mark (0: none) */
    struct boxline_counts counts;
};

/* A decoder waiting for its first address byte. With `marked` set, the
 * input is a serial device's with error marking on (termios PARMRK): a
 * byte received with a parity or framing error arrives as 0xff 0x00 byte,
 * a break as 0xff 0x00 0x00, and a real 0xff as 0xff 0xff. */
void boxline_decoder_init(struct boxline_decoder *d, int marked);

/* Take `n` bytes off the line. Each whole command sets two entries of
 * `levels` (hardware order, index (box - 1) * 6 + channel - 1) to the
 * levels of its delays (boxline_level). Returns how many frames ended in
 * these bytes (commands for box 10, pair 2). Never fails. */
int boxline_decode(struct boxline_decoder *d, const unsigned char *bytes, size_t n,
                   int levels[LIGHT_CHANNELS]);

/* All faults so far: stray, bad address, cut short and line errors. */
long long boxline_faults(const struct boxline_counts *c);

#ifdef __cplusplus
}
#endif

#endif
