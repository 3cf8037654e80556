/* hallweb_options_fuzz.cpp -- the web console's command line: the input
 * split at NUL bytes into arguments. Whatever is accepted can be used as
 * it stands: addresses that parse, feeds named and in number, host names
 * that let their requests in, a refusal of one line starting with the
 * program's name. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_argv.h"
#include "hallweb/web_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "hallweb", 40, &cmd);
    web_options o;
    char err[300];
    int r = web_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (r == CLI_REFUSED) {
        if (!memchr(err, '\0', sizeof err) || strncmp(err, "hallweb: ", 9) != 0 ||
            strchr(err, '\n'))
            abort();
        return 0;
    }
    if (r != CLI_RUN)
        return 0;
    in_addr a;
    if (inet_pton(AF_INET, o.listen_host, &a) != 1)
        abort();
    if (o.has_driver && (inet_pton(AF_INET, o.driver_host, &a) != 1 || o.driver_port == 0))
        abort();
    if (o.num_feeds < 1 || o.num_feeds > WEB_MAX_FEEDS)
        abort();
    for (int i = 0; i < o.num_feeds; i++) {
        size_t n = strlen(o.feeds[i].name);
        if (n == 0 || n > WEB_NAME_MAX || inet_pton(AF_INET, o.feeds[i].host, &a) != 1 ||
            o.feeds[i].port == 0)
            abort();
    }
    if (o.token_file && !*o.token_file)
        abort();
    /* every --allow-host name lets a request naming it in */
    for (int i = 0; i < o.num_allow_hosts; i++)
        if (!o.allow_hosts[i][0] || !web_host_allowed(&o, o.allow_hosts[i]))
            abort();
    return 0;
}
