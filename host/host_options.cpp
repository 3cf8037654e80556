/* host_options.cpp -- parse glimhost's command line into a host_options
 * record. Numbers are read whole and range-checked, so "--rate 3x" or
 * "--port 70000" is refused instead of being half-read. */
#include "host/host_options.h"
#include "cli/cli.h"
#include "wire/wire.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char host_usage[] =
    "usage: glimhost [OPTIONS] [FILE]\n"
    "Load the light-show plug-in, play music to it the way an audio player does\n"
    "and run the light show: frames go to the plug-in's network light server.\n"
    "\n"
    "What to play (one of):\n"
    "  --demo                  built-in music, synthesised as it plays (the default)\n"
    "  FILE                    any sound file libsndfile reads (WAV, FLAC, OGG, ...)\n"
    "  --capture [SOURCE]      live input from the sound server; by default the\n"
    "                          monitor of the default output (what this computer plays)\n"
    "Options:\n"
    "  --mute                  play silently in real time; without it the music goes\n"
    "                          to the sound server (PulseAudio, PipeWire) when one\n"
    "                          answers, and plays silently when none does\n"
    "  --plugin PATH           plug-in to load (default: lib/libglim.so beside\n"
    "                          the directory of this program)\n"
    "  --pattern NAME[:OPTS]   run only pattern NAME, its init getting the option\n"
    "                          string OPTS, e.g. --pattern \"rise:center=4 speed=2\"\n"
    "  --port N                the plug-in's light server port (default " WIRE_TEXT(WIRE_PORT_MUSIC) ")\n"
    "  --rate HZ               spectrum callbacks a second (default: one per 512\n"
    "                          samples played, about 86 at 44.1 kHz); the music\n"
    "                          still plays in real time, each callback analyses\n"
    "                          the newest 512 samples played\n"
    "  --frames N              stop after N callbacks\n"
    "  --keep-playing          go on playing when the plug-in asks to be disabled\n"
    "  --list-patterns         list the patterns the plug-in exports, then exit\n"
    "  --help                  show this text\n"
    "Needs an X display for the plug-in's preview window (except --help and\n"
    "--list-patterns). Ends with 0 at the end of FILE, after --frames, on\n"
    "SIGINT/SIGTERM, or when the plug-in disables itself; 1 on an error (one\n"
    "line on standard error), 2 on a bad command line.\n";

namespace {

int fail(char *err, size_t err_len, const char *fmt, const char *what)
{
    if (err && err_len) {
        snprintf(err, err_len, fmt, what);
        /* the reason quotes the user's text: keep it on one line */
        for (char *c = err; *c; c++)
            if ((unsigned char)*c < 0x20)
                *c = '?';
    }
    return -1;
}

/* Whole finite decimal number in min..max. */
int parse_double(const char *text, double min, double max, double *out)
{
    if (!text || !*text)
        return -1;
    char *end;
    errno = 0;
    double v = strtod(text, &end);
    if (errno || *end || !isfinite(v) || v < min || v > max)
        return -1;
    *out = v;
    return 0;
}

/* "--name=value" or "--name value": the value, advancing *i in the second
 * form; NULL when the option is not `name` or the value is missing. */
const char *option_value(int argc, char **argv, int *i, const char *name, int *matched)
{
    const char *a = argv[*i];
    size_t n = strlen(name);
    *matched = 0;
    if (strncmp(a, name, n) != 0)
        return nullptr;
    if (a[n] == '=') {
        *matched = 1;
        return a + n + 1;
    }
    if (a[n] != '\0')
        return nullptr;
    *matched = 1;
    if (*i + 1 >= argc)
        return nullptr;
    return argv[++*i];
}

} // namespace

int host_split_pattern(const char *arg, char name[HOST_PATTERN_NAME_MAX + 1],
                       const char **options)
{
    if (!arg)
        return -1;
    const char *colon = strchr(arg, ':');
    size_t n = colon ? (size_t)(colon - arg) : strlen(arg);
    if (n == 0 || n > HOST_PATTERN_NAME_MAX)
        return -1;
    for (size_t i = 0; i < n; i++) {
        char c = arg[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return -1;
    }
    memcpy(name, arg, n);
    name[n] = '\0';
    *options = colon ? colon + 1 : nullptr;
    return 0;
}

int host_parse_options(int argc, char **argv, host_options *o, char *err, size_t err_len)
{
    memset(o, 0, sizeof *o);
    o->action = HOST_RUN;
    o->source = HOST_SOURCE_DEMO;
    o->port = -1;
    int sources = 0;  /* how many of --demo, --capture, FILE were given */
    bool only_files = false;  /* after "--" every argument is a FILE */

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (!a)
            return fail(err, err_len, "%s", "empty argument");
        int m;
        const char *v;
        if (only_files || a[0] != '-' || strcmp(a, "-") == 0) {
            if (o->file)
                return fail(err, err_len, "more than one file: %s", a);
            o->file = a;
            o->source = HOST_SOURCE_FILE;
            sources++;
        } else if (strcmp(a, "--") == 0) {
            only_files = true;
        } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            o->action = HOST_HELP;
            return 0;
        } else if (strcmp(a, "--list-patterns") == 0) {
            o->action = HOST_LIST_PATTERNS;
        } else if (strcmp(a, "--demo") == 0) {
            o->source = HOST_SOURCE_DEMO;
            sources++;
        } else if (strcmp(a, "--mute") == 0) {
            o->mute = 1;
        } else if (strcmp(a, "--keep-playing") == 0) {
            o->keep_playing = 1;
        } else if (strcmp(a, "--capture") == 0 || strncmp(a, "--capture=", 10) == 0) {
            o->source = HOST_SOURCE_CAPTURE;
            sources++;
            if (a[9] == '=') {
                if (!a[10])
                    return fail(err, err_len, "%s", "--capture= needs a source name");
                o->capture_source = a + 10;
            } else if (i + 1 < argc && argv[i + 1] && argv[i + 1][0] != '-') {
                o->capture_source = argv[++i];
            }
        } else if ((v = option_value(argc, argv, &i, "--plugin", &m)) || m) {
            if (!v || !*v)
                return fail(err, err_len, "%s", "--plugin needs a path");
            o->plugin = v;
        } else if ((v = option_value(argc, argv, &i, "--pattern", &m)) || m) {
            if (!v || host_split_pattern(v, o->pattern_name, &o->pattern_options) != 0)
                return fail(err, err_len, "--pattern needs NAME[:OPTIONS] (NAME of letters, "
                            "digits and '_'), not \"%s\"", v ? v : "");
            o->has_pattern = 1;
        } else if ((v = option_value(argc, argv, &i, "--port", &m)) || m) {
            long p;
            if (cli_parse_long(v, 1, 65535, &p) != 0)
                return fail(err, err_len, "--port needs a number 1..65535, not \"%s\"", v ? v : "");
            o->port = (int)p;
        } else if ((v = option_value(argc, argv, &i, "--rate", &m)) || m) {
            if (parse_double(v, 0.1, 20000.0, &o->rate) != 0)
                return fail(err, err_len, "--rate needs callbacks a second, 0.1..20000, not \"%s\"",
                            v ? v : "");
        } else if ((v = option_value(argc, argv, &i, "--frames", &m)) || m) {
            if (cli_parse_long(v, 1, 0x7fffffffL, &o->frames) != 0)
                return fail(err, err_len, "--frames needs a number 1..2147483647, not \"%s\"",
                            v ? v : "");
        } else {
            return fail(err, err_len, "unknown option %s (try --help)", a);
        }
    }
    if (sources > 1)
        return fail(err, err_len, "%s", "give only one of --demo, --capture and FILE");
    return 0;
}
