/* dmx_options.cpp -- the options of dmxout and dmxin, one row each; the
 * rows both programs have are written once. */
#include "dmx/dmx_options.h"

#include <string.h>

#include "dmx/dmx.h"
#include "wire/control.h"
#include "wire/wire.h"

namespace {

/* Both records begin with their dmx_common_options. */
static_assert(offsetof(dmxout_options, dmx) == 0 && offsetof(dmxin_options, dmx) == 0);

const cli_opt UNIVERSE = {.name = "universe", .kind = CLI_INT, .help = "OLA universe",
                          .dflt = "1", .min = 0, .max = DMX_MAX_UNIVERSE,
                          CLI_INTO(dmx_common_options, universe)};
/* Its default is applied after the parse: dmxout must know whether it
 * was given. */
const cli_opt START = {.name = "start", .kind = CLI_INT, .arg = "ADDR",
                       .help = "channels 0..59 are addresses ADDR..ADDR+59", .dflt = "1",
                       .min = 1, .max = DMX_LAST_START, CLI_INTO(dmx_common_options, start),
                       .flags = CLI_SHOWN};
const cli_opt OLA_PORT = {.name = "ola-port", .kind = CLI_INT, .help = "olad's RPC port",
                          .dflt = WIRE_TEXT(DMX_OLA_PORT), .min = 1, .max = 65535,
                          CLI_INTO(dmx_common_options, ola_port)};

const cli_opt dmxout_rows[] = {
    {.name = "feed", .kind = CLI_HOST_PORT, .help = "producer to subscribe to",
     .dflt = WIRE_DEFAULT_HOST ":" WIRE_TEXT(WIRE_DEFAULT_PORT), .min = WIRE_DEFAULT_PORT,
     CLI_INTO(dmxout_options, feed_host), .port_at = offsetof(dmxout_options, feed_port)},
    UNIVERSE,
    START,
    {.name = "patch", .kind = CLI_PATH, .arg = "FILE",
     .help = "instead: 60 addresses, one per channel in frame order, 1..512, or 0 to leave a "
             "channel out; '#' comments",
     CLI_INTO(dmxout_options, patch)},
    {.name = "level", .kind = CLI_INT, .arg = "L", .help = "master level: value x level / 256",
     .dflt = WIRE_TEXT(CONTROL_LEVEL_MAX), .min = 0, .max = CONTROL_LEVEL_MAX,
     CLI_INTO(dmxout_options, level)},
    {.name = "rate", .kind = CLI_INT, .arg = "HZ", .help = "most DMX frames a second",
     .dflt = WIRE_TEXT(DMX_RATE), .min = 1, .max = DMX_MAX_RATE,
     CLI_INTO(dmx_common_options, rate)},
    OLA_PORT,
    {.name = "blackout-on-exit", .help = "send all channels at 0 before ending",
     CLI_INTO(dmxout_options, blackout_on_exit)},
    {},
};

const cli_opt dmxin_rows[] = {
    UNIVERSE,
    START,
    {.name = "port", .kind = CLI_INT,
     .help = "UDP port to publish on; " WIRE_TEXT(WIRE_PORT_MUSIC)
             " makes it the box driver's \"Main Music\"",
     .dflt = WIRE_TEXT(WIRE_PORT_DMX), .min = 1, .max = 65535, CLI_INTO(dmxin_options, port)},
    {.name = "rate", .kind = CLI_INT, .arg = "HZ", .help = "frames published a second",
     .dflt = WIRE_TEXT(DMX_RATE), .min = 1, .max = DMX_MAX_RATE,
     CLI_INTO(dmx_common_options, rate)},
    OLA_PORT,
    {},
};

void settle_start(dmx_common_options *dmx)
{
    if (dmx->start == 0)
        dmx->start = 1;
}

} // namespace

const cli_program dmxout_cli = {
    .name = "dmxout",
    .about = "Subscribes to a light feed and sends each frame as DMX to a universe of the\n"
             "OLA daemon (olad), which drives the dimmers patched to it. At most --rate\n"
             "frames a second, the newest first; a silent feed's last frame again every\n"
             "second. The lamps keep their levels when it ends, unless --blackout-on-exit.\n",
    .opts = dmxout_rows,
};

const cli_program dmxin_cli = {
    .name = "dmxin",
    .about = "Listens to a universe of the OLA daemon (olad), where a lighting console's\n"
             "DMX arrives, and publishes 60 of its slots as light frames to every\n"
             "subscriber of --port, at a steady --rate with the newest DMX (dark frames\n"
             "until the first DMX arrives).\n",
    .opts = dmxin_rows,
};

int dmxout_parse_options(int argc, char **argv, dmxout_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    int r = cli_parse(&dmxout_cli, argc, argv, o, err, errlen);
    if (r == CLI_RUN && o->patch && o->dmx.start)
        return cli_refuse(&dmxout_cli, err, errlen, "give --start or --patch, not both");
    settle_start(&o->dmx);
    return r;
}

int dmxin_parse_options(int argc, char **argv, dmxin_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    int r = cli_parse(&dmxin_cli, argc, argv, o, err, errlen);
    settle_start(&o->dmx);
    return r;
}
