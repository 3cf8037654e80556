/* web_options.cpp -- parses the web console's command line (web_options.h)
 * through the shared option parser; checks of meaning are made here. */
#include "hallweb/web_options.h"

#include <stdio.h>
#include <string.h>

#include "cli/cli_legacy.h"
#include "wire/feeds.h"
#include "wire/wire.h"

const char web_usage[] =
    "Usage: hallweb [--listen ADDR:PORT] [--feed NAME=HOST[:PORT]]... [--driver HOST:PORT]\n"
    "               [--token-file FILE]\n"
    "Shows light feeds live in any web browser (a phone's too) and, with --driver,\n"
    "gives the operator the box driver's feed buttons and master level.\n"
    "\n"
    "  --listen ADDR:PORT       where to serve the page (default 127.0.0.1:8080);\n"
    "                           port 0 takes any free port, printed at start\n"
    "  --feed NAME=HOST[:PORT]  a feed to watch, repeatable (up to 16; port " WIRE_TEXT(WIRE_DEFAULT_PORT) "\n"
    "                           when left out); default: the box driver's seven\n"
    "                           built-in feeds on 127.0.0.1\n"
    "  --driver HOST:PORT       the box driver's control socket (boxdriver --control)\n"
    "  --token-file FILE        the controls need the token in FILE (its first line);\n"
    "                           without it they are offered only when listening\n"
    "                           on 127.0.0.1\n"
    "  --help                   this text\n"
    "\n"
    "Viewing is open to whoever reaches the port. At most 32 pages at once.\n";

namespace {

enum { HELP, LISTEN, FEED, DRIVER, TOKEN_FILE };

const cli_option table[] = {
    {"help", 'h', CLI_NO_VALUE, HELP, nullptr},
    {"listen", 0, CLI_VALUE, LISTEN, "hallweb: %s needs ADDR:PORT"},
    {"feed", 0, CLI_VALUE, FEED, "hallweb: %s needs NAME=HOST[:PORT]"},
    {"driver", 0, CLI_VALUE, DRIVER, "hallweb: %s needs HOST:PORT"},
    {"token-file", 0, CLI_VALUE, TOKEN_FILE, "hallweb: %s needs a file name"},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {"hallweb: unknown argument \"%.60s\" (try --help)",
                             "hallweb: %s needs a value"};

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

int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    web_options *o = (web_options *)record;
    switch (key) {
    case HELP:
        o->help = 1;
        return 1;
    case LISTEN:
        if (parse_address(value, 0, o->listen_host, &o->listen_port) != 0) {
            snprintf(err, errlen,
                     "hallweb: bad --listen \"%.60s\": want a dotted-decimal IPv4 address "
                     "and :PORT of 0 to 65535",
                     value);
            return -1;
        }
        return 0;
    case FEED: {
        const char *eq = strrchr(value, '=');
        if (o->num_feeds == WEB_MAX_FEEDS) {
            snprintf(err, errlen, "hallweb: at most %d --feed options", WEB_MAX_FEEDS);
            return -1;
        }
        web_feed_arg *f = &o->feeds[o->num_feeds];
        if (!eq || !name_ok(value, (size_t)(eq - value)) ||
            cli_parse_host_port(eq + 1, WIRE_DEFAULT_PORT, f->host, &f->port) != 0) {
            snprintf(err, errlen,
                     "hallweb: bad --feed \"%.60s\": want NAME=HOST[:PORT], a name of 1 to %d "
                     "printable bytes, a dotted-decimal IPv4 host and a port of 1 to 65535",
                     value, WEB_NAME_MAX);
            return -1;
        }
        memcpy(f->name, value, (size_t)(eq - value));
        f->name[eq - value] = '\0';
        o->num_feeds++;
        return 0;
    }
    case DRIVER:
        if (parse_address(value, 1, o->driver_host, &o->driver_port) != 0) {
            snprintf(err, errlen,
                     "hallweb: bad --driver \"%.60s\": want a dotted-decimal IPv4 address "
                     "and :PORT of 1 to 65535 (boxdriver --control PORT)",
                     value);
            return -1;
        }
        o->has_driver = 1;
        return 0;
    case TOKEN_FILE:
        if (!*value) {
            snprintf(err, errlen, "hallweb: --token-file needs a file name");
            return -1;
        }
        o->token_file = value;
        return 0;
    default: /* an operand */
        snprintf(err, errlen, "hallweb: unexpected argument \"%.60s\" (try --help)", value);
        return -1;
    }
}

} // namespace

int web_parse_options(int argc, char **argv, web_options *o, char *err, size_t errlen)
{
    memset(o, 0, sizeof *o);
    snprintf(o->listen_host, sizeof o->listen_host, "%s", WEB_DEFAULT_LISTEN_HOST);
    o->listen_port = WEB_DEFAULT_LISTEN_PORT;
    if (cli_legacy_parse(argc, argv, table, &wording, take, o, err, errlen) != 0) {
        /* Refusals quote what was typed: keep them to one printable line. */
        for (char *c = err; *c; c++)
            if ((unsigned char)*c < 0x20 || *c == 0x7f)
                *c = '?';
        return -1;
    }
    if (o->num_feeds == 0 && !o->help) {
        for (int i = 0; i < WIRE_BUILTIN_FEEDS; i++) {
            web_feed_arg *f = &o->feeds[i];
            snprintf(f->name, sizeof f->name, "%s", wire_builtin_feeds[i].name);
            snprintf(f->host, sizeof f->host, "%s", WIRE_DEFAULT_HOST);
            f->port = wire_builtin_feeds[i].port;
        }
        o->num_feeds = WIRE_BUILTIN_FEEDS;
    }
    return 0;
}
