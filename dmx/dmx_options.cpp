/* dmx_options.cpp -- the command lines of dmxout and dmxin: the option
 * tables, the checks of meaning both programs share, and their usage. */
#include "dmx/dmx_options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli_legacy.h"
#include "dmx/dmx.h"
#include "wire/wire.h"

const char dmxout_usage[] =
    "usage: dmxout [options]\n"
    "Subscribes to a light feed and sends each frame as DMX to a universe of the\n"
    "OLA daemon (olad), which drives the dimmers patched to it. At most --rate\n"
    "frames a second, the newest first; a silent feed's last frame again every\n"
    "second. The lamps keep their levels when it ends, unless --blackout-on-exit.\n"
    "options:\n"
    "  --feed HOST[:PORT]   producer to subscribe to (default 127.0.0.1:7878)\n"
    "  --universe N         OLA universe (default 1)\n"
    "  --start ADDR         channels 0..59 go to addresses ADDR..ADDR+59, 1..453\n"
    "                       (default 1)\n"
    "  --patch FILE         instead: 60 addresses, one per channel in frame order,\n"
    "                       1..512, or 0 to leave a channel out; '#' comments\n"
    "  --level 0..256       master level: value x level / 256 (default 256)\n"
    "  --rate HZ            most DMX frames a second, 1..1000 (default 44)\n"
    "  --ola-port N         olad's RPC port (default 9010)\n"
    "  --blackout-on-exit   send all channels at 0 before ending\n"
    "  --help               this text\n";

const char dmxin_usage[] =
    "usage: dmxin [options]\n"
    "Listens to a universe of the OLA daemon (olad), where a lighting console's\n"
    "DMX arrives, and publishes 60 of its slots as light frames to every\n"
    "subscriber of --port, at a steady --rate with the newest DMX (dark frames\n"
    "until the first DMX arrives).\n"
    "options:\n"
    "  --universe N     OLA universe (default 1)\n"
    "  --start ADDR     channels 0..59 are addresses ADDR..ADDR+59, 1..453 (default 1)\n"
    "  --port N         UDP port to publish on (default 7876; 7878 makes it the box\n"
    "                   driver's \"Main Music\")\n"
    "  --rate HZ        frames published a second, 1..1000 (default 44)\n"
    "  --ola-port N     olad's RPC port (default 9010)\n"
    "  --help           this text\n";

namespace {

enum {
    OPT_HELP,
    OPT_FEED,
    OPT_UNIVERSE,
    OPT_START,
    OPT_PATCH,
    OPT_LEVEL,
    OPT_RATE,
    OPT_OLA_PORT,
    OPT_BLACKOUT,
    OPT_PORT,
};

const cli_option dmxout_table[] = {
    {"help", 'h', CLI_NO_VALUE, OPT_HELP, nullptr},
    {"feed", 0, CLI_VALUE, OPT_FEED, "dmxout: %s needs HOST[:PORT], such as 127.0.0.1:7878"},
    {"universe", 0, CLI_VALUE, OPT_UNIVERSE, nullptr},
    {"start", 0, CLI_VALUE, OPT_START, nullptr},
    {"patch", 0, CLI_VALUE, OPT_PATCH, "dmxout: %s needs the name of a patch file"},
    {"level", 0, CLI_VALUE, OPT_LEVEL, nullptr},
    {"rate", 0, CLI_VALUE, OPT_RATE, nullptr},
    {"ola-port", 0, CLI_VALUE, OPT_OLA_PORT, nullptr},
    {"blackout-on-exit", 0, CLI_NO_VALUE, OPT_BLACKOUT, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording dmxout_wording = {"dmxout: unknown argument \"%s\" (try --help)",
                                    "dmxout: %s needs a value"};

const cli_option dmxin_table[] = {
    {"help", 'h', CLI_NO_VALUE, OPT_HELP, nullptr},
    {"universe", 0, CLI_VALUE, OPT_UNIVERSE, nullptr},
    {"start", 0, CLI_VALUE, OPT_START, nullptr},
    {"port", 0, CLI_VALUE, OPT_PORT, nullptr},
    {"rate", 0, CLI_VALUE, OPT_RATE, nullptr},
    {"ola-port", 0, CLI_VALUE, OPT_OLA_PORT, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording dmxin_wording = {"dmxin: unknown argument \"%s\" (try --help)",
                                   "dmxin: %s needs a value"};

/* A whole number in min..max, or a refusal naming the option. */
int take_number(const char *program, const char *option, const char *value, long min, long max,
                const char *what, long *out, char *err, size_t errlen)
{
    if (cli_parse_long(value, min, max, out) == 0)
        return 0;
    snprintf(err, errlen, "%s: %s takes %s, %ld..%ld, not \"%.40s\"", program, option, what,
             min, max, value);
    return -1;
}

/* The options both programs have; 1 when `key` was not one of them. */
int take_common(const char *program, int key, const char *value, long *universe, long *start,
                int *rate, unsigned short *ola_port, char *err, size_t errlen)
{
    long v;
    switch (key) {
    case OPT_UNIVERSE:
        return take_number(program, "--universe", value, 0, DMX_MAX_UNIVERSE,
                           "an OLA universe number", universe, err, errlen);
    case OPT_START:
        return take_number(program, "--start", value, 1, DMX_LAST_START,
                           "the DMX address of channel 0 (60 channels must fit in 512 slots)",
                           start, err, errlen);
    case OPT_RATE:
        if (take_number(program, "--rate", value, 1, DMX_MAX_RATE, "frames a second", &v, err,
                        errlen) != 0)
            return -1;
        *rate = (int)v;
        return 0;
    case OPT_OLA_PORT:
        if (take_number(program, "--ola-port", value, 1, 65535, "olad's RPC port", &v, err,
                        errlen) != 0)
            return -1;
        *ola_port = (unsigned short)v;
        return 0;
    }
    return 1;
}

struct dmxout_parse {
    dmxout_options *o;
    bool start_given;
};

int take_dmxout(void *record, int key, const char *value, char *err, size_t errlen)
{
    dmxout_parse *p = (dmxout_parse *)record;
    dmxout_options *o = p->o;
    long v;
    switch (key) {
    case OPT_HELP:
        o->help = 1;
        return 1;
    case OPT_FEED:
        if (cli_parse_host_port(value, WIRE_DEFAULT_PORT, o->feed_host, &o->feed_port) == 0)
            return 0;
        snprintf(err, errlen,
                 "dmxout: --feed takes HOST[:PORT] with a dotted IPv4 host, such as "
                 "127.0.0.1:7878, not \"%.40s\"",
                 value);
        return -1;
    case OPT_PATCH:
        if (!*value) {
            snprintf(err, errlen, "dmxout: --patch needs the name of a patch file");
            return -1;
        }
        o->patch = value;
        return 0;
    case OPT_LEVEL:
        if (take_number("dmxout", "--level", value, 0, 256, "a master level", &v, err, errlen) !=
            0)
            return -1;
        o->level = (int)v;
        return 0;
    case OPT_BLACKOUT:
        o->blackout_on_exit = 1;
        return 0;
    case CLI_OPERAND:
        snprintf(err, errlen, "dmxout: unknown argument \"%.40s\" (try --help)", value);
        return -1;
    default:
        if (key == OPT_START)
            p->start_given = true;
        return take_common("dmxout", key, value, &o->universe, &o->start, &o->rate,
                           &o->ola_port, err, errlen);
    }
}

int take_dmxin(void *record, int key, const char *value, char *err, size_t errlen)
{
    dmxin_options *o = (dmxin_options *)record;
    long v;
    switch (key) {
    case OPT_HELP:
        o->help = 1;
        return 1;
    case OPT_PORT:
        if (take_number("dmxin", "--port", value, 1, 65535, "a UDP port", &v, err, errlen) != 0)
            return -1;
        o->port = (unsigned short)v;
        return 0;
    case CLI_OPERAND:
        snprintf(err, errlen, "dmxin: unknown argument \"%.40s\" (try --help)", value);
        return -1;
    default:
        return take_common("dmxin", key, value, &o->universe, &o->start, &o->rate,
                           &o->ola_port, err, errlen);
    }
}

} // namespace

int dmxout_parse_options(int argc, char **argv, dmxout_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    strcpy(o->feed_host, WIRE_DEFAULT_HOST);
    o->feed_port = WIRE_DEFAULT_PORT;
    o->universe = 1;
    o->start = 1;
    o->patch = nullptr;
    o->level = 256;
    o->rate = DMX_RATE;
    o->ola_port = DMX_OLA_PORT;
    dmxout_parse p = {o, false};
    int r = cli_legacy_parse(argc, argv, dmxout_table, &dmxout_wording, take_dmxout, &p, err, errlen);
    if (r == 0 && !o->help && o->patch && p.start_given) {
        snprintf(err, errlen, "dmxout: give --start or --patch, not both");
        return -1;
    }
    return r;
}

int dmxin_parse_options(int argc, char **argv, dmxin_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    o->universe = 1;
    o->start = 1;
    o->port = WIRE_PORT_DMX;
    o->rate = DMX_RATE;
    o->ola_port = DMX_OLA_PORT;
    return cli_legacy_parse(argc, argv, dmxin_table, &dmxin_wording, take_dmxin, o, err, errlen);
}
