/* fuzz_tool_options.cpp -- command lines for testfeed and hallview.
 * The input is split at NUL bytes into arguments. */
#include <stdint.h>
#include <stddef.h>
#include <string>
#include <vector>

#include "fuzz_argv.h"
#include "testfeed/testfeed_options.h"
#include "tools/hallview_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "prog", 64, &cmd);
    char err[256];
    testfeed_options t;
    if (testfeed_parse_options(cmd.argc(), cmd.argv.data(), &t, err, sizeof err) == CLI_RUN &&
        (t.level < 0 || t.level > 255 || t.rate < 1 || t.hold < 1))
        __builtin_trap();
    hallview_options h;
    if (hallview_parse_options(cmd.argc(), cmd.argv.data(), &h, err, sizeof err) == CLI_RUN &&
        (h.port < 1 || h.port > 65535))
        __builtin_trap();
    return 0;
}
