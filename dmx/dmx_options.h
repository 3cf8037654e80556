/* dmx_options.h -- the command lines of dmxout and dmxin, declared as rows
 * (cli/cli.h) into plain records. Their own library so that the tests and
 * the fuzz target call them without OLA. */
#ifndef DMX_DMX_OPTIONS_H
#define DMX_DMX_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

/* What both programs take. Each record begins with it, so that both
 * tables share the rows of these options. */
struct dmx_common_options {
    long universe;
    long start;             /* the address of channel 0 */
    int rate;               /* dmxout: most DMX frames a second; dmxin: frames published */
    unsigned short ola_port;
};

struct dmxout_options {
    struct dmx_common_options dmx;  /* start: only without a patch */
    char feed_host[16];     /* the producer, dotted-decimal */
    unsigned short feed_port;
    const char *patch;      /* patch file, or NULL (points into argv) */
    int level;              /* master level 0..256 */
    int blackout_on_exit;
};

struct dmxin_options {
    struct dmx_common_options dmx;
    unsigned short port;    /* UDP port the frames are published on */
};

/* Fill *o from the arguments, defaults first: cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED. */
int dmxout_parse_options(int argc, char **argv, struct dmxout_options *o, char *err,
                         size_t errlen);
int dmxin_parse_options(int argc, char **argv, struct dmxin_options *o, char *err,
                        size_t errlen);

/* The command lines as --help describes them. */
extern const struct cli_program dmxout_cli;
extern const struct cli_program dmxin_cli;

#endif
