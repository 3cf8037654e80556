/* emu_options.cpp -- parses boxemu's command line (see emu_options.h). */
#include "boxemu/emu_options.h"

#include <stdio.h>

#include "boxline/line.h"
#include "cli/cli_legacy.h"
#include "wire/wire.h"

const char emu_usage[] =
    "usage: boxemu [options]\n"
    "The ten dimmer boxes in software, at the far end of the serial line. It takes the\n"
    "line's bytes no faster than the real line carries them, decodes the commands into\n"
    "60 lamp levels and publishes them as a light feed (watch with hallview or hallsim).\n"
    "Without --device it makes a pseudo-terminal and prints its path on the first line\n"
    "of its output: give that path to boxdriver --device.\n"
    "options:\n"
    "  --device PATH  read a serial device instead of making a pseudo-terminal\n"
    "  --link PATH    also make a symbolic link to the pseudo-terminal there\n"
    "  --baud N       line speed, 38400 (default) or 57600\n"
    "  --port N       UDP port of the lamps' light feed (default 7877)\n"
    "  --stats        print frames, bytes and faults a second, once a second\n"
    "  --help         this text\n"
    "Faults on the line (a delay byte with no address, an unknown box or pair, a command\n"
    "cut short, a byte received with a parity or framing error) are counted and\n"
    "passed over. Exit status: 1 when the device cannot be opened or the port is in\n"
    "use, 2 for a bad command line.\n";

namespace {

enum { HELP, DEVICE, LINK, BAUD, PORT, STATS };

const cli_option table[] = {
    {"help", 'h', CLI_NO_VALUE, HELP, nullptr},
    {"device", 0, CLI_VALUE, DEVICE, "boxemu: %s needs a device path"},
    {"link", 0, CLI_VALUE, LINK, "boxemu: %s needs a path for the link"},
    {"baud", 0, CLI_VALUE, BAUD, "boxemu: %s needs 38400 or 57600"},
    {"port", 0, CLI_VALUE, PORT, "boxemu: %s needs a port number"},
    {"stats", 0, CLI_NO_VALUE, STATS, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {"boxemu: unknown argument \"%.60s\" (try --help)",
                             "boxemu: %s needs a value"};

int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    auto *o = (emu_options *)record;
    long v;
    switch (key) {
    case HELP:
        o->help = 1;
        return 1;
    case DEVICE:
        if (!*value) {
            snprintf(err, errlen, "boxemu: --device needs a device path");
            return -1;
        }
        o->device = value;
        return 0;
    case LINK:
        if (!*value) {
            snprintf(err, errlen, "boxemu: --link needs a path for the link");
            return -1;
        }
        o->link = value;
        return 0;
    case BAUD:
        if (cli_parse_long(value, 1, 10000000, &v) != 0 || !boxline_baud_ok(v)) {
            snprintf(err, errlen, "boxemu: --baud takes 38400 or 57600, not \"%.40s\"", value);
            return -1;
        }
        o->baud = v;
        return 0;
    case PORT:
        if (cli_parse_long(value, 1, 65535, &v) != 0) {
            snprintf(err, errlen, "boxemu: --port takes a port from 1 to 65535, not \"%.40s\"",
                     value);
            return -1;
        }
        o->port = (int)v;
        return 0;
    case STATS:
        o->stats = 1;
        return 0;
    default: /* an operand */
        snprintf(err, errlen, "boxemu: unexpected argument \"%.60s\" (try --help)", value);
        return -1;
    }
}

} // namespace

int emu_parse_options(int argc, char **argv, struct emu_options *o, char *err, size_t errlen)
{
    o->device = nullptr;
    o->link = nullptr;
    o->baud = BOXLINE_BAUD;
    o->port = WIRE_PORT_LAMPS;
    o->stats = 0;
    o->help = 0;
    if (cli_legacy_parse(argc, argv, table, &wording, take, o, err, errlen) != 0) {
        /* the reason may quote what was typed: keep it one line */
        for (char *c = err; *c; c++)
            if ((unsigned char)*c < 0x20)
                *c = '?';
        return -1;
    }
    if (!o->help && o->device && o->link) {
        snprintf(err, errlen, "boxemu: --link names a pseudo-terminal of boxemu's own; "
                              "it does not go with --device");
        return -1;
    }
    return 0;
}
