/* emu_options.cpp -- boxemu's options, one row each (emu_options.h). */
#include "boxemu/emu_options.h"

#include <stdio.h>
#include <string.h>

#include "boxline/line.h"
#include "wire/wire.h"

namespace {

/* The boxes take two speeds only. */
int set_baud(void *record, const char *value, char *err, size_t errlen)
{
    long baud;
    if (cli_parse_long(value, 1, 10000000, &baud) != 0 || !boxline_baud_ok(baud)) {
        snprintf(err, errlen, "expected %d or %d, got '%.40s'", BOXLINE_BAUD, BOXLINE_BAUD_FAST,
                 value);
        return -1;
    }
    ((emu_options *)record)->baud = baud;
    return 0;
}

const cli_opt rows[] = {
    {.name = "device", .kind = CLI_PATH,
     .help = "read a serial device instead of making a pseudo-terminal",
     CLI_INTO(emu_options, device)},
    {.name = "link", .kind = CLI_PATH,
     .help = "also make a symbolic link to the pseudo-terminal there",
     CLI_INTO(emu_options, link)},
    {.name = "baud", .kind = CLI_TEXT, .arg = "N",
     .help = "line speed, " WIRE_TEXT(BOXLINE_BAUD) " or " WIRE_TEXT(BOXLINE_BAUD_FAST),
     .dflt = WIRE_TEXT(BOXLINE_BAUD), .set = set_baud},
    {.name = "port", .kind = CLI_INT, .help = "UDP port of the lamps' light feed",
     .dflt = WIRE_TEXT(WIRE_PORT_LAMPS), .min = 1, .max = 65535, CLI_INTO(emu_options, port)},
    {.name = "stats", .help = "print frames, bytes and faults a second, once a second",
     CLI_INTO(emu_options, stats)},
    {},
};

} // namespace

const cli_program emu_cli = {
    .name = "boxemu",
    .about =
        "The ten dimmer boxes in software, at the far end of the serial line. It takes the\n"
        "line's bytes no faster than the real line carries them, decodes the commands into\n"
        "60 lamp levels and publishes them as a light feed (watch with hallview or hallsim).\n"
        "Without --device it makes a pseudo-terminal and prints its path on the first line\n"
        "of its output: give that path to boxdriver --device.\n",
    .opts = rows,
    .footer =
        "Faults on the line (a delay byte with no address, an unknown box or pair, a command\n"
        "cut short, a byte received with a parity or framing error) are counted and\n"
        "passed over. Exit status: 1 when the device cannot be opened or the port is in\n"
        "use, 2 for a bad command line.\n",
};

int emu_parse_options(int argc, char **argv, struct emu_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    int r = cli_parse(&emu_cli, argc, argv, o, err, errlen);
    if (r == CLI_RUN && o->device && o->link)
        return cli_refuse(&emu_cli, err, errlen,
                          "--link names a pseudo-terminal of boxemu's own; it does not go "
                          "with --device");
    return r;
}
