/* fuzz_paddle_command_line.cpp -- joysend's and keysend's command lines.
 * The input is split at NUL bytes into arguments. */
#include <arpa/inet.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "controllers/paddle_state.h"
#include "fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "prog", 64, &cmd);
    for (int with_device = 0; with_device < 2; with_device++) {
        paddle_options o;
        char err[128];
        int r = paddle_parse_command_line(cmd.argc(), cmd.argv.data(), with_device, &o, err,
                                          sizeof err);
        if (r == CLI_REFUSED) {
            if (!memchr(err, 0, sizeof err))
                __builtin_trap();
            continue;
        }
        if (r != CLI_RUN)
            continue;
        struct in_addr a;
        if (strlen(o.host) > PADDLE_HOST_MAX || !inet_aton(o.host, &a) || o.port == 0 ||
            (with_device && !o.device[0]))
            __builtin_trap();
    }
    return 0;
}
