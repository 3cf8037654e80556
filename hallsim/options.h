/* options.h -- the simulator's command line: --window and --feed
 * HOST[:PORT]. Kept apart from the program so that tests and fuzz
 * targets can call the parser. */
#ifndef HALLSIM_OPTIONS_H
#define HALLSIM_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"
#include "wire/wire.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HALLSIM_HOST_SIZE 16 /* dotted-decimal IPv4 text and its 0 */

struct hallsim_options {
    int window;                   /* --window: 640 x 480 window */
    char host[HALLSIM_HOST_SIZE]; /* producer to subscribe to */
    unsigned short port;          /* its server port */
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED. */
int hallsim_parse_options(int argc, char **argv, struct hallsim_options *o, char *err,
                          size_t errlen);

/* The command line as --help describes it. */
extern const struct cli_program hallsim_cli;

#ifdef __cplusplus
}
#endif

#endif
