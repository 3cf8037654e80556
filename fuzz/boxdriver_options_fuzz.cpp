/* boxdriver_options_fuzz.cpp -- the box driver's command line: the input
 * split at NUL bytes into arguments. Whatever is accepted must be usable
 * as it stands: valid hosts, a port in range, a device path that fits. */
#include <arpa/inet.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "boxdriver/box_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args = {"boxdriver"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 32; i++) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += (char)data[i];
        }
    }
    if (!current.empty())
        args.push_back(current);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    box_options o;
    char err[256];
    if (box_parse_options((int)args.size(), argv.data(), &o, err, sizeof err) != 0) {
        if (!memchr(err, '\0', sizeof err) || strncmp(err, "boxdriver: ", 11) != 0)
            abort();
        return 0;
    }
    if (o.help)
        return 0;
    struct in_addr addr;
    for (const char *h : o.host)
        if (inet_pton(AF_INET, h, &addr) != 1)
            abort();
    if (o.first_port < 1 || o.first_port > 65535)
        abort();
    if (!*o.device || strlen(o.device) >= PATH_MAX)
        abort();
    return 0;
}
