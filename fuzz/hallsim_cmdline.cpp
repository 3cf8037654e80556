/* hallsim_cmdline.cpp -- fuzz target: the simulator's command line.
 * The input is split at NUL bytes into arguments; the whole input is
 * also tried as a --feed value. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "hallsim/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    std::vector<std::string> args = {"hallsim"};
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    struct hallsim_options o;
    char err[256];
    if (hallsim_parse_options((int)args.size(), argv.data(), &o, err, sizeof err) == 0) {
        /* A parse that succeeds leaves a usable target. */
        if (strnlen(o.host, sizeof o.host) >= sizeof o.host || o.port == 0)
            __builtin_trap();
    } else if (strnlen(err, sizeof err) == 0) {
        __builtin_trap(); /* a refusal always says why */
    }

    char host[HALLSIM_HOST_SIZE] = "unchanged";
    unsigned short port = 1;
    if (hallsim_parse_feed(text.c_str(), host, &port) == 0) {
        if (port == 0 || strnlen(host, sizeof host) >= sizeof host)
            __builtin_trap();
    } else if (strcmp(host, "unchanged") != 0 || port != 1) {
        __builtin_trap(); /* a refused value leaves the target alone */
    }
    return 0;
}
