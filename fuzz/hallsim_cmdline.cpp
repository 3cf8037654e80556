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
    int r = hallsim_parse_options((int)args.size(), argv.data(), &o, err, sizeof err);
    if (r == CLI_RUN) {
        /* A parse that succeeds leaves a usable target. */
        if (strnlen(o.host, sizeof o.host) >= sizeof o.host || o.port == 0)
            __builtin_trap();
    } else if (r == CLI_REFUSED && strnlen(err, sizeof err) == 0) {
        __builtin_trap(); /* a refusal always says why */
    }

    std::string feed = text.substr(0, text.find('\0'));
    char *one[] = {args[0].data(), (char *)"--feed", feed.data(), nullptr};
    r = hallsim_parse_options(3, one, &o, err, sizeof err);
    if (r == CLI_RUN && (o.port == 0 || strnlen(o.host, sizeof o.host) >= sizeof o.host))
        __builtin_trap();
    if (r != CLI_RUN && r != CLI_REFUSED)
        __builtin_trap(); /* a value is never taken for --help */
    return 0;
}
