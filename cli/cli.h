/* cli.h -- command lines, declared once. A program describes each option
 * in one row of a table (name, value, help line, default, type and range,
 * where the value goes); from the rows this module parses the command
 * line (glibc's getopt_long underneath), applies the defaults, refuses a
 * bad value with a one-line reason that names the option and what it
 * wants, and writes the --help text. --help and --version come with every
 * table. A program keeps only its own rules across options. C++: a row
 * names only the fields it needs (designated initialisers), the others
 * start empty. */
#ifndef CLI_CLI_H
#define CLI_CLI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parse all of `text` as a decimal integer in min..max into *out.
 * 0 on success, -1 (and *out untouched) otherwise. */
int cli_parse_long(const char *text, long min, long max, long *out);

/* The same for a finite decimal number. */
int cli_parse_double(const char *text, double min, double max, double *out);

/* 1 when `text` is a dotted-decimal IPv4 address, 0 otherwise. */
int cli_is_ipv4(const char *text);

/* Parse "HOST[:PORT]": a dotted-decimal IPv4 host and an optional port
 * 1..65535 (default_port without one). 0 with host (16 bytes) and *port
 * filled, -1 (both untouched) otherwise. */
int cli_parse_host_port(const char *text, unsigned short default_port, char host[16],
                        unsigned short *port);

/* What an option's value is, and so how it is checked and stored. */
enum cli_kind {
    CLI_FLAG,      /* no value: the int field becomes 1 */
    CLI_INT,       /* a whole number in min..max: an int, long or (unsigned)
                      short field */
    CLI_DOUBLE,    /* a finite decimal number in min..max: a double field */
    CLI_WORD,      /* one of `words`: its index into an int field */
    CLI_HOST,      /* a dotted-decimal IPv4 address: a char[16] field */
    CLI_HOST_PORT, /* HOST[:PORT], port 1..65535 (`min` when left out): the
                      host into a char[16] field, the port into the
                      unsigned short at `port_at` */
    CLI_PATH,      /* a file or device path, 1..PATH_MAX-1 bytes: a
                      const char * field pointing into argv */
    CLI_TEXT,      /* any text: to the setter, which judges it */
};

/* Row flags. */
#define CLI_REPEAT 0x1    /* may be given again and again: each value goes to
                             the setter (otherwise the last one given wins) */
#define CLI_OPTIONAL 0x2  /* the value may be left out: --name, --name=VALUE,
                             or --name VALUE when VALUE does not start with '-';
                             without one the setter gets NULL */
#define CLI_SHOWN 0x4     /* `dflt` only describes the default in --help; the
                             program sets it itself */

/* A setter takes a value that passed its kind's checks (or any text, for
 * CLI_TEXT). 0 to go on; -1 to refuse, after writing into err what was
 * wanted ("expected NAME[:OPTIONS], got 'x'"): the parser puts the
 * program's name and the option in front. */
typedef int (*cli_set_fn)(void *record, const char *value, char *err, size_t errlen);

/* One option. A table ends with an empty row ({}). */
struct cli_opt {
    const char *name;                  /* long name, without the dashes */
    char letter = 0;                   /* one-letter alias, or 0 */
    enum cli_kind kind = CLI_FLAG;
    const char *arg = nullptr;         /* the value's name in --help ("N") */
    const char *help = nullptr;        /* what it does; --help wraps it */
    const char *dflt = nullptr;        /* the default as it would be typed,
                                          applied before the command line and
                                          shown in --help; NULL: none */
    double min = 0, max = 0;           /* range of CLI_INT and CLI_DOUBLE */
    const char *const *words = nullptr; /* CLI_WORD's choices, NULL-ended */
    size_t at = 0, size = 0;           /* the field in the program's record */
    size_t port_at = 0;                /* CLI_HOST_PORT: the port's field */
    cli_set_fn set = nullptr;          /* instead of a field (or after it) */
    unsigned flags = 0;                /* CLI_REPEAT, CLI_OPTIONAL, CLI_SHOWN */
};

/* The field `member` of record type T, for a row: .at and .size. */
#define CLI_INTO(T, member) .at = offsetof(T, member), .size = sizeof(((T *)0)->member)

/* A program's command line. */
struct cli_program {
    const char *name;                 /* the program, in messages and the synopsis */
    const char *synopsis = nullptr;   /* after the name on the usage line;
                                         NULL: "[options]" */
    const char *about = nullptr;      /* what the program does, before the options */
    const struct cli_opt *opts = nullptr;
    const char *footer = nullptr;     /* after the options (examples, keys, exit
                                         status), or NULL */
    cli_set_fn operand = nullptr;     /* each operand in order (everything after
                                         "--" is one); NULL: the program takes none */
};

/* What cli_parse found. */
#define CLI_RUN 0       /* the whole command line was taken */
#define CLI_HELP 1      /* --help (or -h) was given: nothing after it was read */
#define CLI_VERSION 2   /* --version was given */
#define CLI_REFUSED (-1) /* err holds a one-line reason, starting "NAME: " */

/* Apply every row's default to `record`, then walk argv by the rows,
 * storing each value. Long names must be spelled out (no abbreviations).
 * CLI_RUN, CLI_HELP, CLI_VERSION or CLI_REFUSED. Fields the rows do not
 * name are left as they were: set them before the call. */
int cli_parse(const struct cli_program *prog, int argc, char **argv, void *record, char *err,
              size_t errlen);

/* Write the --help text into buf (NUL-terminated, cut short when it does
 * not fit). Its whole length, as snprintf counts. */
int cli_usage(const struct cli_program *prog, char *buf, size_t size);

/* Write a refusal "NAME: " + the printf text into err, quoting safely:
 * for a program's own rules across options. Returns CLI_REFUSED. */
int cli_refuse(const struct cli_program *prog, char *err, size_t errlen, const char *format,
               ...) __attribute__((format(printf, 4, 5)));

/* The opening every program's main shares, after its parse: standard
 * output becomes line-buffered (a pipe or the journal sees each line as
 * it happens); a refusal goes to standard error (status 2), --help prints
 * the usage and --version the version line to standard output (status
 * 0). CLI_GO_ON when the program is to run. */
#define CLI_GO_ON (-1)
int cli_settle(const struct cli_program *prog, int parsed, const char *err);

/* A small file named on the command line that holds a secret (a token, a
 * password): read whole into buf (at most size - 1 bytes, NUL-ended), its
 * length in *len. -1 with a one-line reason in err when it cannot be
 * opened or read, is not a regular file, or is longer (`what` names the
 * kind in that reason: "token"); -2 when its mode has a bit of
 * `forbidden`, with the mode in *mode (the caller says what to do). */
#define CLI_SECRET_FILE_MAX 4096 /* such a file is a line, not a document */
int cli_read_secret(const char *path, const char *what, unsigned forbidden, char *buf,
                    size_t size, size_t *len, unsigned *mode, char *err, size_t errlen);

#ifdef __cplusplus
}
#endif

#endif
