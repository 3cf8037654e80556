/* mqtt_options.cpp -- the MQTT bridge's options, one row each, and the
 * password file (mqtt_options.h). No state. */
#include "hallmqtt/mqtt_options.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The user's text, safe to quote on one line. */
const char *quote(const char *text, char out[64])
{
    size_t n = 0;
    for (; text[n] && n < 56; n++)
        out[n] = (unsigned char)text[n] < 0x20 || text[n] == 0x7f ? '?' : text[n];
    snprintf(out + n, 64 - n, "%s", text[n] ? "..." : "");
    return out;
}

bool printable(const char *text)
{
    for (const char *c = text; *c; c++)
        if ((unsigned char)*c < 0x20 || *c == 0x7f)
            return false;
    return true;
}

/* A DNS name: dot-separated labels of letters, digits and inner hyphens;
 * not all digits (that is an address, checked as one). */
bool host_name(const char *text)
{
    size_t len = strlen(text), label = 0;
    if (len == 0 || len > MQTT_HOST_MAX || strspn(text, "0123456789.") == len)
        return false;
    for (size_t i = 0; i <= len; i++) {
        char c = text[i];
        if (c == '.' || c == '\0') {
            if (label == 0 || label > 63 || text[i - 1] == '-')
                return false;
            label = 0;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   (c == '-' && label > 0)) {
            label++;
        } else {
            return false;
        }
    }
    return true;
}

int set_broker(void *record, const char *value, char *err, size_t errlen)
{
    mqtt_options *o = (mqtt_options *)record;
    char host[MQTT_HOST_MAX + 1], q[64];
    const char *colon = strrchr(value, ':');
    size_t n = colon ? (size_t)(colon - value) : strlen(value);
    long port = 0;
    if (n < sizeof host) {
        memcpy(host, value, n);
        host[n] = '\0';
    }
    if (n >= sizeof host || !(cli_is_ipv4(host) || host_name(host)) ||
        (colon && cli_parse_long(colon + 1, 1, 65535, &port) != 0)) {
        snprintf(err, errlen,
                 "expected HOST[:PORT], a dotted-decimal IPv4 address or a host name and a port "
                 "from 1 to 65535, got '%s'",
                 quote(value, q));
        return -1;
    }
    memcpy(o->broker_host, host, n + 1);
    o->broker_port = (unsigned short)port;
    return 0;
}

int set_username(void *record, const char *value, char *err, size_t errlen)
{
    if (!*value || strlen(value) > MQTT_USERNAME_MAX || !printable(value)) {
        snprintf(err, errlen, "expected 1 to %d printable bytes", MQTT_USERNAME_MAX);
        return -1;
    }
    ((mqtt_options *)record)->username = value;
    return 0;
}

/* A topic prefix: levels joined by "/", none empty, no wildcards. */
int set_prefix_into(char *out, const char *value, char *err, size_t errlen)
{
    size_t n = strlen(value);
    char q[64];
    if (n == 0 || n > MQTT_PREFIX_MAX || !printable(value) || strpbrk(value, "+#") ||
        value[0] == '/' || value[n - 1] == '/' || strstr(value, "//")) {
        snprintf(err, errlen,
                 "expected topic levels joined by '/', 1 to %d bytes without '+', '#' or an "
                 "empty level, got '%s'",
                 MQTT_PREFIX_MAX, quote(value, q));
        return -1;
    }
    memcpy(out, value, n + 1);
    return 0;
}

int set_prefix(void *record, const char *value, char *err, size_t errlen)
{
    return set_prefix_into(((mqtt_options *)record)->prefix, value, err, errlen);
}

int set_discovery_prefix(void *record, const char *value, char *err, size_t errlen)
{
    return set_prefix_into(((mqtt_options *)record)->discovery_prefix, value, err, errlen);
}

/* A control socket on this machine: HOST:PORT, the port required. */
int set_socket(const char *value, char host[16], unsigned short *port, int *given, char *err,
               size_t errlen)
{
    char q[64];
    if (cli_parse_host_port(value, 0, host, port) != 0 || *port == 0) {
        snprintf(err, errlen,
                 "expected HOST:PORT, a dotted-decimal IPv4 address and a port from 1 to "
                 "65535, got '%s'",
                 quote(value, q));
        return -1;
    }
    *given = 1;
    return 0;
}

int set_driver(void *record, const char *value, char *err, size_t errlen)
{
    mqtt_options *o = (mqtt_options *)record;
    return set_socket(value, o->driver_host, &o->driver_port, &o->has_driver, err, errlen);
}

int set_show(void *record, const char *value, char *err, size_t errlen)
{
    mqtt_options *o = (mqtt_options *)record;
    return set_socket(value, o->show_host, &o->show_port, &o->has_show, err, errlen);
}

const cli_opt rows[] = {
    {.name = "broker", .kind = CLI_TEXT, .arg = "HOST[:PORT]",
     .help = "the MQTT broker: an IPv4 address or a host name; the port defaults to 1883, "
             "8883 with --tls-ca",
     .dflt = "127.0.0.1:1883", .set = set_broker, .flags = CLI_SHOWN},
    {.name = "username", .kind = CLI_TEXT, .arg = "NAME", .help = "log in to the broker as NAME",
     .set = set_username},
    {.name = "password-file", .kind = CLI_PATH,
     .help = "the login's password on the first line of this file, which no one but its "
             "owner may read (needs --username)",
     CLI_INTO(mqtt_options, password_file)},
    {.name = "tls-ca", .kind = CLI_PATH, .arg = "FILE",
     .help = "talk TLS to the broker, trusting the certificate authorities in FILE (PEM)",
     CLI_INTO(mqtt_options, tls_ca)},
    {.name = "prefix", .kind = CLI_TEXT, .arg = "TOPIC",
     .help = "the first levels of every topic of this bridge's own", .dflt = "hallway",
     .set = set_prefix},
    {.name = "discovery-prefix", .kind = CLI_TEXT, .arg = "TOPIC",
     .help = "Home Assistant's discovery prefix", .dflt = "homeassistant",
     .set = set_discovery_prefix},
    {.name = "driver", .kind = CLI_TEXT, .arg = "HOST:PORT",
     .help = "the box driver's control socket (boxdriver --control PORT): the lamps as a "
             "light with brightness and the feeds as effects, and whether the feed is live",
     .set = set_driver},
    {.name = "show", .kind = CLI_TEXT, .arg = "HOST:PORT",
     .help = "the light show's control socket (glimhost --control PORT): its pattern, light "
             "delay and tempo",
     .set = set_show},
    {},
};

} // namespace

cli_program mqtt_cli = {
    .name = "hallmqtt",
    .about = "Bridges the hallway's lights to an MQTT broker, where Home Assistant finds them\n"
             "by its discovery: the box driver's lamps as a light (on, off, brightness, the\n"
             "feed as its effect), and the light show's pattern, light delay and tempo.\n",
    .opts = rows,
    .footer = "Topics, under the prefix P: P/status (online/offline), P/light/state and\n"
              "P/light/set (Home Assistant's JSON light), P/driver/status, P/show/state,\n"
              "P/show/status, P/show/pattern/set, P/show/delay/set and P/show/next/set.\n"
              "When the broker goes away or refuses the login, it says so once and tries\n"
              "again, less often as time goes by. SIGINT or SIGTERM end it (status 0)\n"
              "after marking it offline; 1 when it cannot start, 2 on a bad command line.\n",
};

int mqtt_parse_options(int argc, char **argv, mqtt_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    snprintf(o->broker_host, sizeof o->broker_host, "127.0.0.1");
    int r = cli_parse(&mqtt_cli, argc, argv, o, err, errlen);
    if (r != CLI_RUN)
        return r;
    if (!o->has_driver && !o->has_show)
        return cli_refuse(&mqtt_cli, err, errlen,
                          "nothing to bridge: give --driver, --show or both (try --help)");
    if (o->password_file && !o->username)
        return cli_refuse(&mqtt_cli, err, errlen, "--password-file needs --username");
    if (o->broker_port == 0)
        o->broker_port = o->tls_ca ? MQTT_DEFAULT_TLS_PORT : MQTT_DEFAULT_PORT;
    return CLI_RUN;
}

int mqtt_password_parse(const char *bytes, size_t len, char out[MQTT_PASSWORD_MAX + 1], char *err,
                        size_t errlen)
{
    const char *end = len ? (const char *)memchr(bytes, '\n', len) : nullptr;
    size_t n = end ? (size_t)(end - bytes) : len;
    if (n > 0 && bytes[n - 1] == '\r')
        n--;
    if (n == 0 || n > MQTT_PASSWORD_MAX) {
        snprintf(err, errlen, "the password on its first line has %zu bytes; it needs 1 to %d", n,
                 MQTT_PASSWORD_MAX);
        return -1;
    }
    for (size_t i = 0; i < n; i++) {
        if ((unsigned char)bytes[i] < 0x20 || bytes[i] == 0x7f) {
            snprintf(err, errlen, "the password holds a control character");
            return -1;
        }
    }
    memcpy(out, bytes, n);
    out[n] = '\0';
    return 0;
}

int mqtt_password_load(const char *path, char out[MQTT_PASSWORD_MAX + 1], char *err,
                       size_t errlen)
{
    char bytes[CLI_SECRET_FILE_MAX + 1];
    size_t len;
    unsigned mode;
    /* A password others can read is no secret: refuse it, as ssh does. */
    int r = cli_read_secret(path, "password", S_IRGRP | S_IROTH, bytes, sizeof bytes, &len, &mode,
                            err, errlen);
    if (r == -2)
        snprintf(err, errlen, "%s can be read by others (mode %04o): chmod 600 it", path, mode);
    if (r != 0) {
        memset(bytes, 0, sizeof bytes);
        return -1;
    }
    char why[160];
    r = mqtt_password_parse(bytes, len, out, why, sizeof why);
    memset(bytes, 0, sizeof bytes);
    if (r != 0) {
        snprintf(err, errlen, "%s: %s", path, why);
        return -1;
    }
    return 0;
}
