/* host_options_fuzz.cpp -- glimhost's command-line parser on arbitrary
 * argument lists: the input is split at NUL bytes into argv[1..]. Also
 * feeds the whole input to the --pattern splitter. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_argv.h"
#include "host/host_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "glimhost", 64, &cmd);

    host_options o;
    char err[256];
    int r = host_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (r == CLI_RUN) {
        /* what the parser handed back must be usable as it claims (after
         * --help nothing else is looked at) */
        if (o.has_pattern && strlen(o.pattern_name) > HOST_PATTERN_NAME_MAX)
            __builtin_trap();
        if (o.file)
            (void)strlen(o.file);
        if (o.pattern_options)
            (void)strlen(o.pattern_options);
        if (o.port != -1 && (o.port < 1 || o.port > 65535))
            __builtin_trap();
        if (o.light_delay_ms < -HOST_LIGHT_DELAY_MAX_MS ||
            o.light_delay_ms > HOST_LIGHT_DELAY_MAX_MS ||
            (o.source == HOST_SOURCE_CAPTURE && o.light_delay_ms < 0))
            __builtin_trap();  /* live input cannot be seen ahead */
    } else if (r == CLI_REFUSED && (!memchr(err, '\0', sizeof err) || strchr(err, '\n') ||
                                    strncmp(err, "glimhost: ", 10) != 0)) {
        __builtin_trap();  /* reasons are one line, naming the program */
    }

    char name[HOST_PATTERN_NAME_MAX + 1];
    const char *options;
    std::string whole(text.c_str());
    if (host_split_pattern(whole.c_str(), name, &options) == 0 && options)
        (void)strlen(options);
    return 0;
}
