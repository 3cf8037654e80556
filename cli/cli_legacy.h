/* cli_legacy.h -- the table parser every program used before its options
 * were declared in rows (cli.h); kept only while programs move over. */
#ifndef CLI_CLI_LEGACY_H
#define CLI_CLI_LEGACY_H

#include "cli/cli.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How an option takes its value. */
enum cli_value {
    CLI_NO_VALUE,    /* --name */
    CLI_VALUE,       /* --name VALUE or --name=VALUE */
    CLI_MAYBE_VALUE, /* --name, --name=VALUE, or --name VALUE when VALUE
                        does not start with '-' */
};

/* One option a program takes. A table ends with a null name. */
struct cli_option {
    const char *name;    /* long name without the dashes */
    char letter;         /* one-letter alias ("-h"), or 0 */
    enum cli_value value;
    int key;             /* handed to the program's take function */
    const char *missing; /* refusal when the value is missing (printf format,
                            %s the option as typed); NULL: the program's own */
};

/* Key handed to the take function for an argument that is not an option
 * (an operand), in command-line order; everything after "--" is one. */
#define CLI_OPERAND (-1)

/* What the program does with one option or operand: 0 to go on, 1 to stop
 * parsing with success (--help), -1 to refuse after writing a one-line
 * reason into err. value is NULL for an option given without one. */
typedef int (*cli_take_fn)(void *record, int key, const char *value, char *err,
                           size_t errlen);

/* How a program words the refusals that the parser itself makes. */
struct cli_wording {
    const char *unknown;     /* printf format, %s the argument as typed */
    const char *needs_value; /* printf format, %s the option as typed */
};

/* Walk argv by the table, calling take for each option and operand in
 * order. Long options must be spelled out (no abbreviations). Every
 * program answers --version without a row of its own: it stops the walk
 * with success, and cli_version tells. 0 when the whole command line was
 * taken (or take or --version stopped it); -1 with a one-line reason in
 * err otherwise. */
int cli_legacy_parse(int argc, char **argv, const struct cli_option *table,
              const struct cli_wording *wording, cli_take_fn take, void *record,
              char *err, size_t errlen);

/* 1 when --version ended the last cli_parse, after printing the version
 * line ("PROGRAM (hallway-lights) VERSION") to standard output; 0
 * otherwise. For a program that settles its command line itself. */
int cli_legacy_version(void);

/* The opening every program's main shares, after its parse: standard
 * output becomes line-buffered (a pipe or the journal sees each line as
 * it happens); a refusal goes to standard error (exit status 2), --help
 * prints usage and --version the version line to standard output (status
 * 0). CLI_GO_ON when the program is to run. */
int cli_legacy_settle(int parsed, const char *err, int help, const char *usage);

/* Line-buffered standard output, for a program that settles its command
 * line itself. */
void cli_legacy_line_buffered(void);

#ifdef __cplusplus
}
#endif

#endif
