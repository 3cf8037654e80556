/* dmx_options.h -- the command lines of dmxout and dmxin, parsed by the
 * shared option parser into plain records. Their own library so that the
 * tests and the fuzz target call them without OLA. */
#ifndef DMX_DMX_OPTIONS_H
#define DMX_DMX_OPTIONS_H

#include <stddef.h>

struct dmxout_options {
    char feed_host[16];     /* the producer, dotted-decimal */
    unsigned short feed_port;
    long universe;
    long start;             /* first address of the 60 channels, when no patch */
    const char *patch;      /* patch file, or NULL */
    int level;              /* master level 0..256 */
    int rate;               /* most DMX frames a second */
    unsigned short ola_port;
    int blackout_on_exit;
    int help;
};

struct dmxin_options {
    long universe;
    long start;             /* the address of channel 0 */
    unsigned short port;    /* UDP port the frames are published on */
    int rate;               /* frames published a second */
    unsigned short ola_port;
    int help;
};

/* Fill *o from the arguments, defaults first. 0 on success (help set for
 * --help); -1 with a one-line reason in err otherwise. */
int dmxout_parse_options(int argc, char **argv, struct dmxout_options *o, char *err,
                         size_t errlen);
int dmxin_parse_options(int argc, char **argv, struct dmxin_options *o, char *err,
                        size_t errlen);

extern const char dmxout_usage[];
extern const char dmxin_usage[];

#endif
