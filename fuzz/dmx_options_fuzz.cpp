/* dmx_options_fuzz.cpp -- the command lines of dmxout and dmxin. The
 * input is split at NUL bytes into arguments. */
#include <stddef.h>
#include <stdint.h>

#include "dmx/dmx.h"
#include "dmx/dmx_options.h"
#include "fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "prog", 64, &cmd);
    char err[256];
    dmxout_options o;
    if (dmxout_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err) == 0) {
        if (!o.help &&
            (o.level < 0 || o.level > 256 || o.rate < 1 || o.rate > DMX_MAX_RATE ||
             o.start < 1 || o.start > DMX_LAST_START || o.universe < 0 || o.ola_port == 0 ||
             o.feed_port == 0 || (o.patch && !*o.patch)))
            __builtin_trap();
    } else if (!err[0]) {
        __builtin_trap();
    }
    dmxin_options i;
    if (dmxin_parse_options(cmd.argc(), cmd.argv.data(), &i, err, sizeof err) == 0) {
        if (!i.help && (i.rate < 1 || i.rate > DMX_MAX_RATE || i.start < 1 ||
                        i.start > DMX_LAST_START || i.port == 0 || i.ola_port == 0))
            __builtin_trap();
    } else if (!err[0]) {
        __builtin_trap();
    }
    return 0;
}
