/* emu_options.h -- boxemu's command line: where the line comes from (a
 * pseudo-terminal of its own, or a serial device), its speed, the UDP
 * port the lamps are published on, and the once-a-second statistics. */
#ifndef BOXEMU_EMU_OPTIONS_H
#define BOXEMU_EMU_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

struct emu_options {
    const char *device;  /* serial device to read, NULL: make a pty (argv) */
    const char *link;    /* symbolic link to the pty, or NULL (argv) */
    long baud;           /* 38400 or 57600 */
    int port;            /* UDP port of the lamps' light feed */
    int stats;           /* print frames, bytes and faults once a second */
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason starting "boxemu: " in err when it is CLI_REFUSED. */
int emu_parse_options(int argc, char **argv, struct emu_options *o, char *err,
                      size_t errlen);

/* The command line as --help describes it. */
extern const struct cli_program emu_cli;

#endif
