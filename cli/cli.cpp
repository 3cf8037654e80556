/* cli.cpp -- strict number and address parsing, and the one option parser
 * every program's command line goes through. getopt_long does the walking
 * (both "--name value" and "--name=value", "--" ending the options,
 * operands kept in order); this module adds the rows: checks by kind,
 * defaults, refusals worded from the row, spelled-out names only, and the
 * --help text. */
#include "cli/cli.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int MAX_OPTIONS = 48;   /* more than any program has */
const int KEY_BASE = 0x100;   /* getopt's value for a long option: base + row */
const int KEY_HELP = 0xfe;    /* getopt's values for the built-in rows */
const int KEY_VERSION = 0xff;
const int QUOTE_MAX = 60;     /* bytes of a typed value quoted in a refusal */
const int WIDTH = 79;         /* --help lines wrap here */
const int COLUMN_MAX = 26;    /* help texts start at most this far in */

#ifndef HALL_VERSION
#define HALL_VERSION "unknown"
#endif

/* argv[0] without its folder: messages, the usage line and --version name
 * the program as it was started (boxdriver57600, testfeed_sim). */
char program_name[64] = "";

const char *name_of(const cli_program *prog)
{
    return program_name[0] ? program_name : prog->name;
}

void remember_name(const cli_program *prog, int argc, char **argv)
{
    const char *name = prog->name;
    if (argc > 0 && argv[0] && *argv[0]) {
        const char *slash = strrchr(argv[0], '/');
        name = slash && slash[1] ? slash + 1 : argv[0];
    }
    snprintf(program_name, sizeof program_name, "%s", name);
}

/* The user's text, safe to quote on one line: control bytes become '?',
 * and a long text is cut. */
const char *quoted(const char *text, char out[QUOTE_MAX + 4])
{
    int n = 0;
    for (; text && text[n] && n < QUOTE_MAX; n++)
        out[n] = (unsigned char)text[n] < 0x20 || text[n] == 0x7f ? '?' : text[n];
    if (text && text[n]) {
        memcpy(out + n, "...", 3);
        n += 3;
    }
    out[n] = '\0';
    return out;
}

int refuse_v(const char *name, char *err, size_t errlen, const char *format, va_list ap)
{
    if (!err || errlen == 0)
        return CLI_REFUSED;
    int n = snprintf(err, errlen, "%s: ", name);
    if (n >= 0 && (size_t)n < errlen)
        vsnprintf(err + n, errlen - (size_t)n, format, ap);
    for (char *c = err; *c; c++) /* one line, whatever the format quoted */
        if ((unsigned char)*c < 0x20)
            *c = '?';
    return CLI_REFUSED;
}

int refuse(const char *name, char *err, size_t errlen, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
int refuse(const char *name, char *err, size_t errlen, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    refuse_v(name, err, errlen, format, ap);
    va_end(ap);
    return CLI_REFUSED;
}

/* getopt_long takes any unambiguous abbreviation of a long name; the
 * programs want the whole name, so "--p 80" stays refused. */
bool spelled_out(const char *typed, const char *name)
{
    if (!typed || strncmp(typed, "--", 2) != 0)
        return true; /* a one-letter alias */
    size_t n = strcspn(typed + 2, "=");
    return n == strlen(name) && strncmp(typed + 2, name, n) == 0;
}

/* Append to buf at *n, as snprintf would, never past size. */
void put(char *buf, size_t size, size_t *n, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void put(char *buf, size_t size, size_t *n, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int k = vsnprintf(*n < size ? buf + *n : nullptr, *n < size ? size - *n : 0, format, ap);
    va_end(ap);
    if (k > 0)
        *n += (size_t)k;
}

/* The value's name in --help. */
const char *arg_name(const cli_opt &o, char *buf, size_t size)
{
    if (o.arg)
        return o.arg;
    switch (o.kind) {
    case CLI_INT: return "N";
    case CLI_DOUBLE: return "X";
    case CLI_HOST: return "ADDR";
    case CLI_HOST_PORT: return "HOST[:PORT]";
    case CLI_PATH: return "PATH";
    case CLI_WORD: {
        size_t n = 0;
        buf[0] = '\0';
        for (int i = 0; o.words && o.words[i]; i++)
            put(buf, size, &n, "%s%s", i ? "|" : "", o.words[i]);
        return buf;
    }
    default: return "TEXT";
    }
}

void store_int(void *field, size_t size, long v)
{
    if (size == sizeof(int16_t)) {
        uint16_t v16 = (uint16_t)v;
        memcpy(field, &v16, sizeof v16);
    } else if (size == sizeof(int32_t)) {
        int32_t v32 = (int32_t)v;
        memcpy(field, &v32, sizeof v32);
    } else {
        memcpy(field, &v, sizeof v);
    }
}

/* The row's setter; its reason gets the program and the option in front. */
int call_setter(const cli_opt &o, const char *name, const char *value, void *record, char *err,
                size_t errlen)
{
    if (o.set(record, value, err, errlen) == 0)
        return 0;
    char reason[256];
    snprintf(reason, sizeof reason, "%s", err && errlen ? err : "");
    return refuse(name, err, errlen, "--%s: %s", o.name, reason);
}

/* Check one value by its row and store it. 0, or CLI_REFUSED with the
 * reason in err. */
int take(const cli_opt &o, const char *name, const char *value, void *record, char *err,
         size_t errlen)
{
    char *field = (char *)record + o.at;
    char q[QUOTE_MAX + 4];
    bool stores = o.size > 0;
    if (!value && o.kind != CLI_FLAG) /* an optional value left out */
        return o.set ? call_setter(o, name, nullptr, record, err, errlen) : 0;
    switch (o.kind) {
    case CLI_FLAG:
        if (stores)
            store_int(field, o.size, 1);
        break;
    case CLI_INT: {
        long v;
        if (cli_parse_long(value, (long)o.min, (long)o.max, &v) != 0)
            return refuse(name, err, errlen, "--%s: expected a whole number from %ld to %ld, got '%s'",
                          o.name, (long)o.min, (long)o.max, quoted(value, q));
        if (stores)
            store_int(field, o.size, v);
        break;
    }
    case CLI_DOUBLE: {
        double v;
        if (cli_parse_double(value, o.min, o.max, &v) != 0)
            return refuse(name, err, errlen, "--%s: expected a number from %g to %g, got '%s'",
                          o.name, o.min, o.max, quoted(value, q));
        if (stores)
            memcpy(field, &v, sizeof v);
        break;
    }
    case CLI_WORD: {
        int i = 0;
        while (o.words && o.words[i] && strcmp(o.words[i], value) != 0)
            i++;
        if (!o.words || !o.words[i]) {
            char list[256];
            return refuse(name, err, errlen, "--%s: expected one of %s, got '%s'", o.name,
                          arg_name(o, list, sizeof list), quoted(value, q));
        }
        if (stores)
            store_int(field, o.size, i);
        break;
    }
    case CLI_HOST:
        if (!cli_is_ipv4(value))
            return refuse(name, err, errlen,
                          "--%s: expected a dotted-decimal IPv4 address such as 127.0.0.1, got '%s'",
                          o.name, quoted(value, q));
        if (stores)
            snprintf(field, o.size, "%s", value);
        break;
    case CLI_HOST_PORT: {
        char host[16];
        unsigned short port;
        if (cli_parse_host_port(value, (unsigned short)o.min, host, &port) != 0)
            return refuse(name, err, errlen,
                          "--%s: expected HOST[:PORT], a dotted-decimal IPv4 address and a port "
                          "from 1 to 65535, got '%s'",
                          o.name, quoted(value, q));
        if (stores) {
            snprintf(field, o.size, "%s", host);
            memcpy((char *)record + o.port_at, &port, sizeof port);
        }
        break;
    }
    case CLI_PATH:
        if (!*value || strlen(value) >= PATH_MAX)
            return refuse(name, err, errlen, "--%s: expected a path of 1 to %d bytes, got '%s'",
                          o.name, PATH_MAX - 1, quoted(value, q));
        if (stores)
            memcpy(field, &value, sizeof value);
        break;
    case CLI_TEXT:
        break;
    }
    return o.set ? call_setter(o, name, value, record, err, errlen) : 0;
}

/* Every row's default, before the command line. */
int apply_defaults(const cli_program *prog, const char *name, void *record, char *err,
                   size_t errlen)
{
    for (const cli_opt *o = prog->opts; o && o->name; o++)
        if (o->dflt && !(o->flags & CLI_SHOWN) && o->kind != CLI_FLAG &&
            take(*o, name, o->dflt, record, err, errlen) != 0)
            return CLI_REFUSED; /* the program's own table is wrong */
    return 0;
}

int take_operand(const cli_program *prog, const char *name, const char *value, void *record,
                 char *err, size_t errlen)
{
    char q[QUOTE_MAX + 4];
    if (!prog->operand)
        return refuse(name, err, errlen, "unexpected argument '%s' (try --help)",
                      quoted(value, q));
    if (prog->operand(record, value, err, errlen) != 0) {
        char reason[256];
        snprintf(reason, sizeof reason, "%s", err);
        return refuse(name, err, errlen, "%s", reason);
    }
    return 0;
}

/* The left part of an option's help line: "  -h, --help", "  --port N". */
void left_part(const cli_opt &o, char *out, size_t size)
{
    char words[256];
    const char *arg = o.kind == CLI_FLAG ? nullptr : arg_name(o, words, sizeof words);
    snprintf(out, size, "  %s%c%s--%s%s%s%s%s", o.letter ? "-" : "", o.letter ? o.letter : ' ',
             o.letter ? ", " : "", o.name, arg ? " " : "",
             arg && (o.flags & CLI_OPTIONAL) ? "[" : "", arg ? arg : "",
             arg && (o.flags & CLI_OPTIONAL) ? "]" : "");
    if (!o.letter) /* no letter: no gap where it would be */
        memmove(out + 2, out + 3, strlen(out + 3) + 1);
}

/* One option's help: the left part, then the text wrapped at WIDTH from
 * `column` on. */
void put_option(char *buf, size_t size, size_t *n, const cli_opt &o, int column)
{
    char left[128], text[1024];
    left_part(o, left, sizeof left);
    /* The help, then the range and the default in brackets. */
    char range[64] = "", extra[256] = "";
    if (o.kind == CLI_INT)
        snprintf(range, sizeof range, "%ld..%ld", (long)o.min, (long)o.max);
    else if (o.kind == CLI_DOUBLE)
        snprintf(range, sizeof range, "%g..%g", o.min, o.max);
    if (*range || o.dflt)
        snprintf(extra, sizeof extra, "(%s%s%s%s)", range, *range && o.dflt ? ", " : "",
                 o.dflt ? "default " : "", o.dflt ? o.dflt : "");
    const char *help = o.help ? o.help : "";
    snprintf(text, sizeof text, "%s%s%s", help, *help && *extra ? " " : "", extra);
    int at = (int)strlen(left);
    put(buf, size, n, "%s", left);
    if (at + 2 > column) { /* too long: the text starts on the next line */
        put(buf, size, n, "\n");
        at = 0;
    }
    const char *p = text;
    while (*p) {
        put(buf, size, n, "%*s", column - at, "");
        int room = WIDTH - column, len = (int)strlen(p);
        if (len > room) { /* break at the last space that fits */
            int cut = room;
            while (cut > 0 && p[cut] != ' ')
                cut--;
            len = cut > 0 ? cut : room;
        }
        put(buf, size, n, "%.*s\n", len, p);
        p += len;
        while (*p == ' ')
            p++;
        at = 0;
    }
    if (!*text)
        put(buf, size, n, "\n");
}

} // namespace

extern "C" {

int cli_parse_long(const char *text, long min, long max, long *out)
{
    if (!text || !*text)
        return -1;
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}

int cli_parse_double(const char *text, double min, double max, double *out)
{
    if (!text || !*text)
        return -1;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (errno != 0 || *end != '\0' || !isfinite(v) || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}

int cli_is_ipv4(const char *text)
{
    struct in_addr parsed;
    return text && strlen(text) < INET_ADDRSTRLEN && inet_pton(AF_INET, text, &parsed) == 1;
}

int cli_parse_host_port(const char *text, unsigned short default_port, char host[16],
                        unsigned short *port)
{
    if (!text)
        return -1;
    const char *colon = strchr(text, ':');
    size_t host_len = colon ? (size_t)(colon - text) : strlen(text);
    if (host_len == 0 || host_len >= INET_ADDRSTRLEN)
        return -1;
    char h[INET_ADDRSTRLEN];
    memcpy(h, text, host_len);
    h[host_len] = '\0';
    if (!cli_is_ipv4(h))
        return -1;
    long p = default_port;
    if (colon && cli_parse_long(colon + 1, 1, 65535, &p) != 0)
        return -1;
    memcpy(host, h, host_len + 1);
    *port = (unsigned short)p;
    return 0;
}

int cli_parse(const struct cli_program *prog, int argc, char **argv, void *record, char *err,
              size_t errlen)
{
    remember_name(prog, argc, argv);
    const char *name = name_of(prog);
    if (err && errlen)
        err[0] = '\0';

    struct option longopts[MAX_OPTIONS + 3];
    /* "-": operands come back in order; ":": a missing value is told
     * apart from an unknown option. "h" is --help's letter. */
    char letters[4 + 3 * MAX_OPTIONS + 1] = "-:h";
    size_t used = 3;
    int rows = 0;
    for (; prog->opts && prog->opts[rows].name; rows++) {
        if (rows == MAX_OPTIONS)
            return refuse(name, err, errlen, "too many options in the program's table");
        const cli_opt &o = prog->opts[rows];
        longopts[rows].name = o.name;
        longopts[rows].has_arg = o.kind == CLI_FLAG           ? no_argument
                                 : (o.flags & CLI_OPTIONAL) ? optional_argument
                                                              : required_argument;
        longopts[rows].flag = nullptr;
        longopts[rows].val = KEY_BASE + rows;
        if (o.letter) {
            letters[used++] = o.letter;
            if (o.kind != CLI_FLAG)
                letters[used++] = ':';
            if (o.kind != CLI_FLAG && (o.flags & CLI_OPTIONAL))
                letters[used++] = ':';
        }
    }
    letters[used] = '\0';
    longopts[rows] = {"help", no_argument, nullptr, KEY_HELP};
    longopts[rows + 1] = {"version", no_argument, nullptr, KEY_VERSION};
    memset(&longopts[rows + 2], 0, sizeof longopts[rows + 2]);

    if (apply_defaults(prog, name, record, err, errlen) != 0)
        return CLI_REFUSED;

    char q[QUOTE_MAX + 4];
    opterr = 0; /* refusals are worded here, not printed by getopt */
    optind = 0; /* start afresh: callers (and fuzzers) parse many times */
    for (;;) {
        int at = optind == 0 ? 1 : optind;
        const char *typed = at < argc ? argv[at] : nullptr;
        int c = getopt_long(argc, argv, letters, longopts, nullptr);
        if (c == -1)
            break;
        if (c == 1) {
            if (take_operand(prog, name, optarg, record, err, errlen) != 0)
                return CLI_REFUSED;
            continue;
        }
        if ((c == KEY_HELP && spelled_out(typed, "help")) || c == 'h')
            return CLI_HELP;
        if (c == KEY_VERSION && spelled_out(typed, "version"))
            return CLI_VERSION;
        int row = c >= KEY_BASE ? c - KEY_BASE : -1;
        int letter = c == ':' ? optopt : c;
        for (int k = 0; row < 0 && k < rows && letter != '?'; k++)
            if (prog->opts[k].letter == letter)
                row = k;
        if (c == ':') {
            row = optopt >= KEY_BASE ? optopt - KEY_BASE : row;
            char words[256];
            if (row >= 0)
                return refuse(name, err, errlen, "--%s needs a value (%s)", prog->opts[row].name,
                              arg_name(prog->opts[row], words, sizeof words));
            return refuse(name, err, errlen, "%s needs a value", quoted(typed, q));
        }
        if (row < 0 || !spelled_out(typed, prog->opts[row].name))
            return refuse(name, err, errlen, "unknown option '%s' (try --help)", quoted(typed, q));
        const cli_opt &o = prog->opts[row];
        const char *value = optarg;
        if ((o.flags & CLI_OPTIONAL) && !value && optind < argc && argv[optind] &&
            argv[optind][0] != '-')
            value = argv[optind++];
        if (take(o, name, value, record, err, errlen) != 0)
            return CLI_REFUSED;
    }
    for (int i = optind; i < argc; i++)
        if (take_operand(prog, name, argv[i], record, err, errlen) != 0)
            return CLI_REFUSED;
    return CLI_RUN;
}

int cli_usage(const struct cli_program *prog, char *buf, size_t size)
{
    size_t n = 0;
    if (size)
        buf[0] = '\0';
    put(buf, size, &n, "Usage: %s %s\n", name_of(prog),
        prog->synopsis ? prog->synopsis : "[options]");
    if (prog->about)
        put(buf, size, &n, "%s", prog->about);
    static const cli_opt builtin[] = {
        {.name = "help", .letter = 'h', .kind = CLI_FLAG, .help = "this text"},
        {.name = "version", .kind = CLI_FLAG, .help = "the program's name and version"},
    };
    int column = 0;
    char left[128];
    for (const cli_opt *o = prog->opts; o && o->name; o++) {
        left_part(*o, left, sizeof left);
        if ((int)strlen(left) + 2 > column && (int)strlen(left) + 2 <= COLUMN_MAX)
            column = (int)strlen(left) + 2;
    }
    if (column < 14)
        column = 14;
    put(buf, size, &n, "Options:\n");
    for (const cli_opt *o = prog->opts; o && o->name; o++)
        put_option(buf, size, &n, *o, column);
    for (const cli_opt &o : builtin)
        put_option(buf, size, &n, o, column);
    if (prog->footer)
        put(buf, size, &n, "%s", prog->footer);
    return (int)n;
}

int cli_refuse(const struct cli_program *prog, char *err, size_t errlen, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    refuse_v(name_of(prog), err, errlen, format, ap);
    va_end(ap);
    return CLI_REFUSED;
}

int cli_settle(const struct cli_program *prog, int parsed, const char *err)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (parsed == CLI_REFUSED) {
        fprintf(stderr, "%s\n", err);
        return 2;
    }
    if (parsed == CLI_HELP) {
        static char text[16384];
        cli_usage(prog, text, sizeof text);
        fputs(text, stdout);
        return 0;
    }
    if (parsed == CLI_VERSION) {
        printf("%s (hallway-lights) %s\n", name_of(prog), HALL_VERSION);
        return 0;
    }
    return CLI_GO_ON;
}


int cli_read_secret(const char *path, const char *what, unsigned forbidden, char *buf,
                    size_t size, size_t *len, unsigned *mode, char *err, size_t errlen)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        snprintf(err, errlen, "open(%s): %s", path, strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        snprintf(err, errlen, "%s: not a regular file", path);
        close(fd);
        return -1;
    }
    if (st.st_mode & forbidden) {
        *mode = (unsigned)(st.st_mode & 07777);
        close(fd);
        return -2;
    }
    *len = 0;
    for (;;) {
        ssize_t n = read(fd, buf + *len, size - *len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            snprintf(err, errlen, "read(%s): %s", path, strerror(errno));
            close(fd);
            return -1;
        }
        if (n == 0 || (*len += (size_t)n) == size)
            break;
    }
    close(fd);
    if (*len >= size) {
        snprintf(err, errlen, "%s: more than %zu bytes; a %s file holds one line", path, size - 1,
                 what);
        return -1;
    }
    buf[*len] = '\0';
    return 0;
}

} // extern "C"
