/* boxdriver_options_fuzz.cpp -- the box driver's command line: the input
 * split at NUL bytes into arguments. Whatever is accepted must be usable
 * as it stands: valid hosts, a port in range, a device path that fits, a
 * feed that exists and a level in range. */
#include <arpa/inet.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "boxdriver/box_options.h"
#include "fuzz_argv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "boxdriver", 32, &cmd);

    box_options o;
    char err[256];
    int r = box_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (r == CLI_REFUSED) {
        if (!memchr(err, '\0', sizeof err) || strncmp(err, "boxdriver: ", 11) != 0 ||
            strchr(err, '\n'))
            abort();
        return 0;
    }
    if (r != CLI_RUN)
        return 0;
    struct in_addr addr;
    for (const char *h : o.host)
        if (inet_pton(AF_INET, h, &addr) != 1)
            abort();
    if (o.first_port < 1 || o.first_port > 65535)
        abort();
    if (o.feed < 0 || o.feed >= BOX_FEEDS || o.level < 0 || o.level > 256)
        abort();
    if (!*o.device || strlen(o.device) >= PATH_MAX)
        abort();
    return 0;
}
