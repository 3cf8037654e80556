/* emu_options.h -- boxemu's command line: where the line comes from (a
 * pseudo-terminal of its own, or a serial device), its speed, the UDP
 * port the lamps are published on, and the once-a-second statistics. */
#ifndef BOXEMU_EMU_OPTIONS_H
#define BOXEMU_EMU_OPTIONS_H

#include <stddef.h>

struct emu_options {
    const char *device;  /* serial device to read, NULL: make a pty (argv) */
    const char *link;    /* symbolic link to the pty, or NULL (argv) */
    long baud;           /* 38400 or 57600 */
    int port;            /* UDP port of the lamps' light feed */
    int stats;           /* print frames, bytes and faults once a second */
    int help;            /* --help was given */
};

/* Fill *o from the arguments (defaults first). 0 on success; -1 with a
 * one-line reason starting "boxemu: " in err otherwise. */
int emu_parse_options(int argc, char **argv, struct emu_options *o, char *err,
                      size_t errlen);

/* The --help text. */
extern const char emu_usage[];

#endif
