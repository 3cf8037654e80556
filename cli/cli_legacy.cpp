/* cli_legacy.cpp -- the table parser of cli_legacy.h. */
#include "cli/cli_legacy.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int MAX_OPTIONS = 48;   /* more than any program has */
const int KEY_BASE = 0x100;   /* getopt's value for a long option: base + row */
const int KEY_VERSION = 0xff; /* getopt's value for the built-in --version */

#ifndef HALL_VERSION
#define HALL_VERSION "unknown"
#endif

const char *legacy_name = "hallway-lights"; /* argv[0] without its folder */
bool version_asked = false;                   /* --version ended the last walk */

/* getopt_long takes any unambiguous abbreviation of a long name; the
 * programs have always wanted the whole name, so "--p 80" stays refused. */
bool spelled_out(const char *typed, const char *name)
{
    if (!typed || strncmp(typed, "--", 2) != 0)
        return true; /* a one-letter alias */
    size_t n = strcspn(typed + 2, "=");
    return n == strlen(name) && strncmp(typed + 2, name, n) == 0;
}

int refuse(char *err, size_t errlen, const char *format, const char *what)
{
    if (err && errlen)
        snprintf(err, errlen, format, what ? what : "");
    return -1;
}

} // namespace

extern "C" {

int cli_legacy_parse(int argc, char **argv, const struct cli_option *table,
              const struct cli_wording *wording, cli_take_fn take, void *record,
              char *err, size_t errlen)
{
    struct option longopts[MAX_OPTIONS + 2];
    /* "-": operands come back in order; ":": a missing value is told
     * apart from an unknown option. */
    char letters[3 + 3 * MAX_OPTIONS + 1] = "-:";
    size_t used = 2;
    int rows = 0;
    for (; table[rows].name; rows++) {
        if (rows == MAX_OPTIONS)
            return refuse(err, errlen, "%s", "too many options in the program's table");
        const cli_option &o = table[rows];
        longopts[rows].name = o.name;
        longopts[rows].has_arg = o.value == CLI_NO_VALUE ? no_argument
                                 : o.value == CLI_VALUE ? required_argument
                                                        : optional_argument;
        longopts[rows].flag = nullptr;
        longopts[rows].val = KEY_BASE + rows;
        if (o.letter) {
            letters[used++] = o.letter;
            if (o.value != CLI_NO_VALUE)
                letters[used++] = ':';
            if (o.value == CLI_MAYBE_VALUE)
                letters[used++] = ':';
        }
    }
    letters[used] = '\0';
    /* --version last, so that a program's own row of that name wins. */
    longopts[rows] = {"version", no_argument, nullptr, KEY_VERSION};
    memset(&longopts[rows + 1], 0, sizeof longopts[rows + 1]);

    version_asked = false;
    legacy_name = "hallway-lights";
    if (argc > 0 && argv[0] && *argv[0]) {
        const char *slash = strrchr(argv[0], '/');
        legacy_name = slash ? slash + 1 : argv[0];
    }

    opterr = 0; /* refusals are worded by the program, not printed here */
    optind = 0; /* start afresh: callers (and fuzzers) parse many times */
    for (;;) {
        int at = optind == 0 ? 1 : optind;
        const char *typed = at < argc ? argv[at] : nullptr;
        int c = getopt_long(argc, argv, letters, longopts, nullptr);
        if (c == -1)
            break;
        int r;
        if (c == 1) {
            r = take(record, CLI_OPERAND, optarg, err, errlen);
        } else if (c == KEY_VERSION && spelled_out(typed, "version")) {
            version_asked = true;
            return 0;
        } else if (c == '?') {
            return refuse(err, errlen, wording->unknown, typed);
        } else if (c == ':') {
            int row = optopt >= KEY_BASE ? optopt - KEY_BASE : -1;
            for (int k = 0; row < 0 && k < rows; k++)
                if (table[k].letter == optopt)
                    row = k;
            const char *missing = row >= 0 && table[row].missing ? table[row].missing
                                                                  : wording->needs_value;
            return refuse(err, errlen, missing, typed);
        } else {
            int row = c >= KEY_BASE ? c - KEY_BASE : -1;
            for (int k = 0; row < 0 && k < rows; k++)
                if (table[k].letter == c)
                    row = k;
            if (row < 0 || !spelled_out(typed, table[row].name))
                return refuse(err, errlen, wording->unknown, typed);
            const char *value = optarg;
            if (table[row].value == CLI_MAYBE_VALUE && !value && optind < argc &&
                argv[optind] && argv[optind][0] != '-')
                value = argv[optind++];
            r = take(record, table[row].key, value, err, errlen);
        }
        if (r != 0)
            return r > 0 ? 0 : -1;
    }
    for (int i = optind; i < argc; i++) {
        int r = take(record, CLI_OPERAND, argv[i], err, errlen);
        if (r != 0)
            return r > 0 ? 0 : -1;
    }
    return 0;
}

int cli_legacy_version(void)
{
    if (!version_asked)
        return 0;
    printf("%s (hallway-lights) %s\n", legacy_name, HALL_VERSION);
    return 1;
}

void cli_legacy_line_buffered(void)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
}

int cli_legacy_settle(int parsed, const char *err, int help, const char *usage)
{
    cli_legacy_line_buffered();
    if (parsed != 0) {
        fprintf(stderr, "%s\n", err);
        return 2;
    }
    if (help) {
        fputs(usage, stdout);
        return 0;
    }
    if (cli_legacy_version())
        return 0;
    return CLI_GO_ON;
}

} // extern "C"
