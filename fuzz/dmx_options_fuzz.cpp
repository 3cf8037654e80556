/* dmx_options_fuzz.cpp -- the command lines of dmxout and dmxin. The
 * input is split at NUL bytes into arguments. */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "dmx/dmx.h"
#include "dmx/dmx_options.h"
#include "fuzz_argv.h"

namespace {

/* A refusal is one line naming the program; a run has usable values. */
bool sound_common(int r, const char *err, const dmx_common_options &d)
{
    if (r == CLI_REFUSED)
        return strncmp(err, "prog: ", 6) == 0 && !strchr(err, '\n');
    return r != CLI_RUN || (d.rate >= 1 && d.rate <= DMX_MAX_RATE && d.start >= 1 &&
                            d.start <= DMX_LAST_START && d.universe >= 0 && d.ola_port != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "prog", 64, &cmd);
    char err[256];
    dmxout_options o;
    int r = dmxout_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (!sound_common(r, err, o.dmx) ||
        (r == CLI_RUN && (o.level < 0 || o.level > 256 || o.feed_port == 0 ||
                          (o.patch && !*o.patch))))
        __builtin_trap();
    dmxin_options i;
    r = dmxin_parse_options(cmd.argc(), cmd.argv.data(), &i, err, sizeof err);
    if (!sound_common(r, err, i.dmx) || (r == CLI_RUN && i.port == 0))
        __builtin_trap();
    return 0;
}
