/* fuzz_argv.h -- a fuzzer's input as a command line: the bytes split at
 * NUL into arguments after argv[0], at most `max` of them. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct fuzz_argv {
    std::vector<std::string> args;  /* args[0] is the program name */
    std::vector<char *> argv;       /* pointers into args, null-ended */
    int argc() const { return (int)args.size(); }
};

inline void fuzz_make_argv(const uint8_t *data, size_t size, const char *program,
                           size_t max, fuzz_argv *out)
{
    out->args.assign(1, program);
    std::string cur;
    for (size_t i = 0; i < size && out->args.size() < max; i++) {
        if (data[i] == 0) {
            out->args.push_back(cur);
            cur.clear();
        } else {
            cur += (char)data[i];
        }
    }
    out->args.push_back(cur);
    out->argv.clear();
    for (auto &a : out->args)
        out->argv.push_back(a.data());
    out->argv.push_back(nullptr);
}
