/* hallweb_host_fuzz.cpp -- a request's Host header against a console
 * listening on 127.0.0.1 with one --allow-host name. Whatever is let in
 * names this server, with at most a port after it. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "hallweb/web_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static web_options o;
    static bool ready = false;
    if (!ready) {
        char arg0[] = "hallweb", arg1[] = "--allow-host", arg2[] = "Hallway.local";
        char *argv[] = {arg0, arg1, arg2, nullptr};
        char err[200];
        if (web_parse_options(3, argv, &o, err, sizeof err) != CLI_RUN)
            abort();
        ready = true;
    }
    std::string host = std::string((const char *)data, size).c_str(); /* up to a NUL */
    if (!web_host_allowed(&o, host.c_str()))
        return 0;
    std::string name = host.substr(0, host.find(':'));
    if (strcasecmp(name.c_str(), "localhost") != 0 &&
        strcasecmp(name.c_str(), "hallway.local") != 0 && name != "127.0.0.1")
        abort();
    return 0;
}
