/* host_options.cpp -- parse glimhost's command line into a host_options
 * record. Numbers are read whole and range-checked, so "--rate 3x" or
 * "--port 70000" is refused instead of being half-read. */
#include "host/host_options.h"
#include "cli/cli_legacy.h"
#include "wire/wire.h"

#include <stdio.h>
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
    "  --plugin PATH           plug-in to load (default: lib/libglim.so beside the\n"
    "                          directory of this program, else the installed one\n"
    "                          in lib/hallway-lights there)\n"
    "  --pattern NAME[:OPTS]   run only pattern NAME, its init getting the option\n"
    "                          string OPTS, e.g. --pattern \"rise:center=4 speed=2\"\n"
    "  --port N                the plug-in's light server port (default " WIRE_TEXT(WIRE_PORT_MUSIC) ")\n"
    "  --rate HZ               spectrum callbacks a second (default: one per 512\n"
    "                          samples played, about 86 at 44.1 kHz); the music\n"
    "                          still plays in real time, each callback analyses\n"
    "                          the newest 512 samples played\n"
    "  --frames N              stop after N callbacks\n"
    "  --light-delay MS        the lights MS milliseconds later than the sound\n"
    "                          (-2000..2000, default 0), for a sound path slower\n"
    "                          than the lamps; negative: earlier, each callback\n"
    "                          analysing what will be heard -MS from now, to make\n"
    "                          up for the lamps' own path (not with --capture)\n"
    "  --keep-playing          go on playing when the plug-in asks to be disabled\n"
    "  --headless              without a usable X display, give the preview window a\n"
    "                          private one (Xvfb), stopped when glimhost ends\n"
    "  --list-patterns         list the patterns the plug-in exports, then exit\n"
    "  --help                  show this text\n"
    "Needs an X display for the plug-in's preview window, or --headless (except\n"
    "for --help and --list-patterns). Ends with 0 at the end of FILE, after\n"
    "--frames, on SIGINT/SIGTERM, or when the plug-in disables itself; 1 on an\n"
    "error (one line on standard error), 2 on a bad command line.\n";

namespace {

enum {
    KEY_HELP, KEY_LIST, KEY_DEMO, KEY_MUTE, KEY_KEEP, KEY_CAPTURE,
    KEY_PLUGIN, KEY_PATTERN, KEY_PORT, KEY_RATE, KEY_FRAMES, KEY_HEADLESS, KEY_LIGHT_DELAY
};

const char LIGHT_DELAY_REFUSAL[] =
    "--light-delay needs whole milliseconds, -2000..2000, not \"%s\"";

const char PATTERN_REFUSAL[] =
    "--pattern needs NAME[:OPTIONS] (NAME of letters, digits and '_'), not \"%s\"";

const cli_option options[] = {
    {"help", 'h', CLI_NO_VALUE, KEY_HELP, nullptr},
    {"list-patterns", 0, CLI_NO_VALUE, KEY_LIST, nullptr},
    {"demo", 0, CLI_NO_VALUE, KEY_DEMO, nullptr},
    {"mute", 0, CLI_NO_VALUE, KEY_MUTE, nullptr},
    {"keep-playing", 0, CLI_NO_VALUE, KEY_KEEP, nullptr},
    {"headless", 0, CLI_NO_VALUE, KEY_HEADLESS, nullptr},
    {"capture", 0, CLI_MAYBE_VALUE, KEY_CAPTURE, nullptr},
    {"plugin", 0, CLI_VALUE, KEY_PLUGIN, "--plugin needs a path"},
    {"pattern", 0, CLI_VALUE, KEY_PATTERN,
     "--pattern needs NAME[:OPTIONS] (NAME of letters, digits and '_'), not \"\""},
    {"port", 0, CLI_VALUE, KEY_PORT, "--port needs a number 1..65535, not \"\""},
    {"rate", 0, CLI_VALUE, KEY_RATE, "--rate needs callbacks a second, 0.1..20000, not \"\""},
    {"frames", 0, CLI_VALUE, KEY_FRAMES, "--frames needs a number 1..2147483647, not \"\""},
    {"light-delay", 0, CLI_VALUE, KEY_LIGHT_DELAY,
     "--light-delay needs whole milliseconds, -2000..2000, not \"\""},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {"unknown option %s (try --help)", "%s needs a value"};

/* What the walk fills: the options, and how many of --demo, --capture and
 * FILE were given. */
struct parse_state {
    host_options *o;
    int sources;
};

int refuse(char *err, size_t err_len, const char *fmt, const char *what)
{
    snprintf(err, err_len, fmt, what);
    return -1;
}

/* One option or operand (the FILE) into the record. */
int take(void *record, int key, const char *v, char *err, size_t err_len)
{
    parse_state *st = (parse_state *)record;
    host_options *o = st->o;
    long p;
    switch (key) {
    case CLI_OPERAND:
        if (o->file)
            return refuse(err, err_len, "more than one file: %s", v);
        o->file = v;
        o->source = HOST_SOURCE_FILE;
        st->sources++;
        return 0;
    case KEY_HELP:
        o->action = HOST_HELP;
        return 1;
    case KEY_LIST:
        o->action = HOST_LIST_PATTERNS;
        return 0;
    case KEY_DEMO:
        o->source = HOST_SOURCE_DEMO;
        st->sources++;
        return 0;
    case KEY_MUTE:
        o->mute = 1;
        return 0;
    case KEY_KEEP:
        o->keep_playing = 1;
        return 0;
    case KEY_HEADLESS:
        o->headless = 1;
        return 0;
    case KEY_CAPTURE:
        o->source = HOST_SOURCE_CAPTURE;
        st->sources++;
        if (v && !*v)
            return refuse(err, err_len, "%s", "--capture= needs a source name");
        o->capture_source = v;
        return 0;
    case KEY_PLUGIN:
        if (!*v)
            return refuse(err, err_len, "%s", "--plugin needs a path");
        o->plugin = v;
        return 0;
    case KEY_PATTERN:
        if (host_split_pattern(v, o->pattern_name, &o->pattern_options) != 0)
            return refuse(err, err_len, PATTERN_REFUSAL, v);
        o->has_pattern = 1;
        return 0;
    case KEY_PORT:
        if (cli_parse_long(v, 1, 65535, &p) != 0)
            return refuse(err, err_len, "--port needs a number 1..65535, not \"%s\"", v);
        o->port = (int)p;
        return 0;
    case KEY_RATE:
        if (cli_parse_double(v, 0.1, 20000.0, &o->rate) != 0)
            return refuse(err, err_len, "--rate needs callbacks a second, 0.1..20000, not \"%s\"",
                          v);
        return 0;
    case KEY_LIGHT_DELAY:
        if (cli_parse_long(v, -HOST_LIGHT_DELAY_MAX_MS, HOST_LIGHT_DELAY_MAX_MS, &p) != 0)
            return refuse(err, err_len, LIGHT_DELAY_REFUSAL, v);
        o->light_delay_ms = (int)p;
        return 0;
    default:
        if (cli_parse_long(v, 1, 0x7fffffffL, &o->frames) != 0)
            return refuse(err, err_len, "--frames needs a number 1..2147483647, not \"%s\"", v);
        return 0;
    }
}

/* The reason quotes the user's text: keep it on one line. */
int one_line(char *err, size_t err_len)
{
    if (err && err_len)
        for (char *c = err; *c; c++)
            if ((unsigned char)*c < 0x20)
                *c = '?';
    return -1;
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
    for (int i = 1; i < argc; i++)
        if (!argv[i]) {
            snprintf(err, err_len, "%s", "empty argument");
            return -1;
        }
    /* After "--" every argument is a FILE: the parser hands them over as
     * operands. */
    parse_state st = {o, 0};
    if (cli_legacy_parse(argc, argv, options, &wording, take, &st, err, err_len) != 0)
        return one_line(err, err_len);
    if (o->action == HOST_HELP)
        return 0;
    if (st.sources > 1) {
        snprintf(err, err_len, "%s", "give only one of --demo, --capture and FILE");
        return -1;
    }
    if (o->source == HOST_SOURCE_CAPTURE && o->light_delay_ms < 0) {
        snprintf(err, err_len, "%s",
                 "a negative --light-delay looks ahead in the music: live --capture "
                 "cannot be seen ahead");
        return -1;
    }
    return 0;
}
