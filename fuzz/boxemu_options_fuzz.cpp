/* boxemu_options_fuzz.cpp -- boxemu's command line: the input split at
 * NUL bytes into arguments. A refusal is one line starting "boxemu: ";
 * whatever is accepted is usable as it stands. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "boxemu/emu_options.h"
#include "fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "boxemu", 32, &cmd);

    emu_options o;
    char err[256];
    int r = emu_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (r == CLI_REFUSED) {
        if (!memchr(err, '\0', sizeof err) || strncmp(err, "boxemu: ", 8) != 0 ||
            strchr(err, '\n'))
            abort();
        return 0;
    }
    if (r != CLI_RUN)
        return 0;
    if ((o.baud != 38400 && o.baud != 57600) || o.port < 1 || o.port > 65535)
        abort();
    if ((o.device && !*o.device) || (o.link && !*o.link) || (o.device && o.link))
        abort();
    return 0;
}
