/* web_options.h -- the web console's command line: where it listens, the
 * feeds it watches, the box driver and the light show it steers and the
 * token that guards the controls. Kept apart from the program for its tests and fuzz target. */
#ifndef HALLWEB_WEB_OPTIONS_H
#define HALLWEB_WEB_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

#define WEB_MAX_FEEDS 16
#define WEB_NAME_MAX 40          /* bytes of a feed name, without its NUL */
#define WEB_DEFAULT_LISTEN_HOST "127.0.0.1"
#define WEB_DEFAULT_LISTEN_PORT 8080
#define WEB_MAX_ALLOW_HOSTS 8
#define WEB_HOST_NAME_MAX 63     /* bytes of an --allow-host name, without its NUL */

/* A feed to watch, as named on the command line. */
struct web_feed_arg {
    char name[WEB_NAME_MAX + 1];
    char host[16];               /* dotted-decimal IPv4 */
    unsigned short port;         /* the producer's server port */
};

struct web_options {
    char listen_host[16];        /* dotted-decimal IPv4 */
    unsigned short listen_port;  /* 0: any free port */
    struct web_feed_arg feeds[WEB_MAX_FEEDS];
    int num_feeds;               /* the box driver's seven without --feed */
    int has_driver;              /* --driver was given */
    char driver_host[16];
    unsigned short driver_port;
    int has_show;                /* --show was given */
    char show_host[16];
    unsigned short show_port;
    const char *token_file;      /* NULL without --token-file (points into argv) */
    char allow_hosts[WEB_MAX_ALLOW_HOSTS][WEB_HOST_NAME_MAX + 1]; /* lower case */
    int num_allow_hosts;
};

/* 1 when a request naming `host_header` (its Host, perhaps with a port)
 * is for this server: the listen address (any IPv4 address when listening
 * on 0.0.0.0), "localhost" or a name given with --allow-host, in any case.
 * Anything else, a missing Host included, is a name a page on another
 * site may have made point here. */
int web_host_allowed(const struct web_options *o, const char *host_header);

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason starting "hallweb: " in err when it is CLI_REFUSED. */
int web_parse_options(int argc, char **argv, struct web_options *o, char *err,
                      size_t errlen);

/* The command line as --help describes it. */
extern const struct cli_program web_cli;

#endif
