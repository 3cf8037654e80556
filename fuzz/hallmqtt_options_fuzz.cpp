/* hallmqtt_options_fuzz.cpp -- the bridge's command line (the input split
 * at NUL bytes into arguments) and, when the input starts with "P", the
 * bytes of a password file. Whatever is accepted can be used as it
 * stands; a refusal is one line starting with the program's name. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_argv.h"
#include "hallmqtt/mqtt_options.h"

namespace {

bool printable(const char *text)
{
    for (; *text; text++)
        if ((unsigned char)*text < 0x20 || *text == 0x7f)
            return false;
    return true;
}

void password(const char *bytes, size_t len)
{
    char out[MQTT_PASSWORD_MAX + 1], err[200] = "";
    if (mqtt_password_parse(bytes, len, out, err, sizeof err) != 0) {
        if (!err[0] || strchr(err, '\n'))
            abort();
        return;
    }
    if (!out[0] || strlen(out) > MQTT_PASSWORD_MAX || !printable(out))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 'P') {
        password((const char *)data + 1, size - 1);
        return 0;
    }
    fuzz_argv cmd;
    fuzz_make_argv(data, size, "hallmqtt", 40, &cmd);
    mqtt_options o;
    char err[400];
    int r = mqtt_parse_options(cmd.argc(), cmd.argv.data(), &o, err, sizeof err);
    if (r == CLI_REFUSED) {
        if (!memchr(err, '\0', sizeof err) || strncmp(err, "hallmqtt: ", 10) != 0 ||
            strchr(err, '\n'))
            abort();
        return 0;
    }
    if (r != CLI_RUN)
        return 0;
    in_addr a;
    if (!o.broker_host[0] || o.broker_port == 0 || !printable(o.broker_host))
        abort();
    if (!o.has_driver && !o.has_show)
        abort();
    if (o.has_driver && (inet_pton(AF_INET, o.driver_host, &a) != 1 || o.driver_port == 0))
        abort();
    if (o.has_show && (inet_pton(AF_INET, o.show_host, &a) != 1 || o.show_port == 0))
        abort();
    for (const char *prefix : {o.prefix, o.discovery_prefix})
        if (!prefix[0] || strpbrk(prefix, "+#") || !printable(prefix) || prefix[0] == '/')
            abort();
    if (o.password_file && !o.username)
        abort();
    return 0;
}
