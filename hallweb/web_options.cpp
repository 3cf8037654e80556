/* web_options.cpp -- the web console's options, one row each
 * (web_options.h); the addresses and feeds take setters of their own. */
#include "hallweb/web_options.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "wire/feeds.h"
#include "wire/wire.h"

namespace {

/* "ADDR:PORT" with a port of min..65535 into host and *port; -1 when it
 * is anything else. */
int parse_address(const char *text, long min, char host[16], unsigned short *port)
{
    const char *colon = strrchr(text, ':');
    if (!colon || colon - text >= 16)
        return -1;
    char h[16];
    memcpy(h, text, (size_t)(colon - text));
    h[colon - text] = '\0';
    long p;
    if (!cli_is_ipv4(h) || cli_parse_long(colon + 1, min, 65535, &p) != 0)
        return -1;
    memcpy(host, h, sizeof h);
    *port = (unsigned short)p;
    return 0;
}

/* A name that prints on one line: 1..WEB_NAME_MAX bytes, no control
 * characters. */
bool name_ok(const char *name, size_t len)
{
    if (len == 0 || len > WEB_NAME_MAX)
        return false;
    for (size_t i = 0; i < len; i++)
        if ((unsigned char)name[i] < 0x20 || name[i] == 0x7f)
            return false;
    return true;
}

int set_listen(void *record, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    if (parse_address(value, 0, o->listen_host, &o->listen_port) == 0)
        return 0;
    snprintf(err, errlen,
             "expected ADDR:PORT, a dotted-decimal IPv4 address and a port from 0 to 65535, "
             "got '%.60s'",
             value);
    return -1;
}

int add_feed(void *record, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    if (o->num_feeds == WEB_MAX_FEEDS) {
        snprintf(err, errlen, "at most %d feeds", WEB_MAX_FEEDS);
        return -1;
    }
    const char *eq = strrchr(value, '=');
    web_feed_arg *f = &o->feeds[o->num_feeds];
    if (!eq || !name_ok(value, (size_t)(eq - value)) ||
        cli_parse_host_port(eq + 1, WIRE_DEFAULT_PORT, f->host, &f->port) != 0) {
        snprintf(err, errlen,
                 "expected NAME=HOST[:PORT], a name of 1 to %d printable bytes, a "
                 "dotted-decimal IPv4 host and a port from 1 to 65535, got '%.60s'",
                 WEB_NAME_MAX, value);
        return -1;
    }
    memcpy(f->name, value, (size_t)(eq - value));
    f->name[eq - value] = '\0';
    o->num_feeds++;
    return 0;
}

int set_driver(void *record, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    if (parse_address(value, 1, o->driver_host, &o->driver_port) == 0) {
        o->has_driver = 1;
        return 0;
    }
    snprintf(err, errlen,
             "expected HOST:PORT, a dotted-decimal IPv4 address and a port from 1 to 65535 "
             "(boxdriver --control PORT), got '%.60s'",
             value);
    return -1;
}

/* A host name as typed into a browser: letters, digits, '-' and '.',
 * lower-cased into out. The length, or 0 when it is anything else. */
size_t host_name(const char *text, size_t len, char out[WEB_HOST_NAME_MAX + 1])
{
    if (len == 0 || len > WEB_HOST_NAME_MAX || text[0] == '.' || text[0] == '-')
        return 0;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)text[i];
        if (!isalnum(c) && c != '-' && c != '.')
            return 0;
        out[i] = (char)tolower(c);
    }
    out[len] = '\0';
    return len;
}

int add_allow_host(void *record, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    if (o->num_allow_hosts == WEB_MAX_ALLOW_HOSTS) {
        snprintf(err, errlen, "at most %d names", WEB_MAX_ALLOW_HOSTS);
        return -1;
    }
    if (host_name(value, strlen(value), o->allow_hosts[o->num_allow_hosts]) == 0) {
        snprintf(err, errlen,
                 "expected a host name of 1 to %d letters, digits, '-' and '.', without a "
                 "port, got '%.60s'",
                 WEB_HOST_NAME_MAX, value);
        return -1;
    }
    o->num_allow_hosts++;
    return 0;
}

int set_show(void *record, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    if (parse_address(value, 1, o->show_host, &o->show_port) == 0) {
        o->has_show = 1;
        return 0;
    }
    snprintf(err, errlen,
             "expected HOST:PORT, a dotted-decimal IPv4 address and a port from 1 to 65535 "
             "(glimhost --control PORT), got '%.60s'",
             value);
    return -1;
}

const cli_opt rows[] = {
    {.name = "listen", .kind = CLI_TEXT, .arg = "ADDR:PORT",
     .help = "where to serve the page; port 0 takes any free port, printed at start",
     .dflt = WEB_DEFAULT_LISTEN_HOST ":" WIRE_TEXT(WEB_DEFAULT_LISTEN_PORT), .set = set_listen},
    {.name = "feed", .kind = CLI_TEXT, .arg = "NAME=HOST[:PORT]",
     .help = "a feed to watch, repeatable, up to " WIRE_TEXT(WEB_MAX_FEEDS) " times; port "
             WIRE_TEXT(WIRE_DEFAULT_PORT) " when left out",
     .dflt = "the box driver's seven built-in feeds on " WIRE_DEFAULT_HOST, .set = add_feed,
     .flags = CLI_REPEAT | CLI_SHOWN},
    {.name = "driver", .kind = CLI_TEXT, .arg = "HOST:PORT",
     .help = "the box driver's control socket (boxdriver --control)", .set = set_driver},
    {.name = "show", .kind = CLI_TEXT, .arg = "HOST:PORT",
     .help = "the light show's control socket (glimhost --control): its pattern and tempo "
             "shown, the next pattern and the automatic rotation among the controls",
     .set = set_show},
    {.name = "token-file", .kind = CLI_PATH, .arg = "FILE",
     .help = "the controls need the token in FILE (its first line; a file others cannot "
             "read); without it they are offered only when listening on 127.0.0.1",
     CLI_INTO(web_options, token_file)},
    {.name = "allow-host", .kind = CLI_TEXT, .arg = "NAME",
     .help = "a name the page may be opened by (a LAN name such as hallway.local), "
             "repeatable, up to " WIRE_TEXT(WEB_MAX_ALLOW_HOSTS) " times; the listen address "
             "and localhost always are",
     .set = add_allow_host, .flags = CLI_REPEAT},
    {},
};

} // namespace

const cli_program web_cli = {
    .name = "hallweb",
    .synopsis = "[--listen ADDR:PORT] [--feed NAME=HOST[:PORT]]... [--driver HOST:PORT]\n"
                "               [--show HOST:PORT] [--token-file FILE] [--allow-host NAME]...",
    .about = "Shows light feeds live in any web browser (a phone's too) and, with --driver,\n"
             "gives the operator the box driver's feed buttons and master level; with\n"
             "--show, the light show's pattern and tempo, the next pattern and automatic.\n",
    .opts = rows,
    .footer = "Viewing is open to whoever reaches the port by an allowed name; any other\n"
              "name gets 403. At most 32 pages at once, 8 from one address.\n",
};

int web_parse_options(int argc, char **argv, web_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    int r = cli_parse(&web_cli, argc, argv, o, err, errlen);
    if (r == CLI_RUN && o->num_feeds == 0) {
        for (int i = 0; i < WIRE_BUILTIN_FEEDS; i++) {
            web_feed_arg *f = &o->feeds[i];
            snprintf(f->name, sizeof f->name, "%s", wire_builtin_feeds[i].name);
            snprintf(f->host, sizeof f->host, "%s", WIRE_DEFAULT_HOST);
            f->port = wire_builtin_feeds[i].port;
        }
        o->num_feeds = WIRE_BUILTIN_FEEDS;
    }
    return r;
}

int web_host_allowed(const web_options *o, const char *host_header)
{
    if (!host_header)
        return 0;
    size_t len = strcspn(host_header, ":");
    const char *port = host_header + len;
    if (*port == ':') {
        size_t digits = strspn(port + 1, "0123456789");
        if (digits == 0 || digits > 5 || port[1 + digits] != '\0')
            return 0;
    }
    char name[WEB_HOST_NAME_MAX + 1];
    if (host_name(host_header, len, name) == 0)
        return 0;
    if (strcmp(name, "localhost") == 0)
        return 1;
    for (int i = 0; i < o->num_allow_hosts; i++)
        if (strcmp(name, o->allow_hosts[i]) == 0)
            return 1;
    /* An address typed into the browser cannot have been made to point
     * here by someone else's name server. */
    return cli_is_ipv4(name) &&
           (strcmp(o->listen_host, "0.0.0.0") == 0 || strcmp(name, o->listen_host) == 0);
}
