/* host_options.cpp -- glimhost's options, one row each. What to play is
 * chosen by three rows (--demo, --capture, FILE) that count themselves,
 * so that giving two of them is refused after the walk. */
#include "host/host_options.h"

#include <stdio.h>
#include <string.h>

#include "wire/wire.h"

namespace {

int set_demo(void *record, const char *, char *, size_t)
{
    host_options *o = (host_options *)record;
    o->source = HOST_SOURCE_DEMO;
    o->sources_given++;
    return 0;
}

/* --capture alone is the default output's monitor; "--capture=" names
 * nothing and is refused. */
int set_capture(void *record, const char *value, char *err, size_t errlen)
{
    host_options *o = (host_options *)record;
    o->source = HOST_SOURCE_CAPTURE;
    o->sources_given++;
    if (value && !*value) {
        snprintf(err, errlen, "expected a source name, got ''");
        return -1;
    }
    o->capture_source = value;
    return 0;
}

int set_file(void *record, const char *value, char *err, size_t errlen)
{
    host_options *o = (host_options *)record;
    if (o->file) {
        snprintf(err, errlen, "more than one file: '%.60s'", value);
        return -1;
    }
    o->file = value;
    o->source = HOST_SOURCE_FILE;
    o->sources_given++;
    return 0;
}

int set_pattern(void *record, const char *value, char *err, size_t errlen)
{
    host_options *o = (host_options *)record;
    if (host_split_pattern(value, o->pattern_name, &o->pattern_options) != 0) {
        snprintf(err, errlen, "expected NAME[:OPTIONS], NAME of letters, digits and '_', got '%.60s'",
                 value);
        return -1;
    }
    o->has_pattern = 1;
    return 0;
}

int set_list(void *record, const char *, char *, size_t)
{
    ((host_options *)record)->action = HOST_LIST_PATTERNS;
    return 0;
}

int set_analyse(void *record, const char *, char *, size_t)
{
    ((host_options *)record)->action = HOST_ANALYSE;
    return 0;
}

const cli_opt rows[] = {
    {.name = "demo", .help = "play the built-in music, synthesised as it plays (the default)",
     .set = set_demo},
    {.name = "capture", .kind = CLI_TEXT, .arg = "SOURCE",
     .help = "play live input from the sound server: SOURCE, by default the monitor of the "
             "default output (what this computer plays)",
     .set = set_capture, .flags = CLI_OPTIONAL},
    {.name = "mute",
     .help = "play silently in real time; without it the music goes to the sound server "
             "(PulseAudio, PipeWire) when one answers, and plays silently when none does",
     CLI_INTO(host_options, mute)},
    {.name = "plugin", .kind = CLI_PATH, .help = "plug-in to load",
     .dflt = "lib/libglim.so beside the folder of this program, else the installed one in "
             "lib/hallway-lights there",
     CLI_INTO(host_options, plugin), .flags = CLI_SHOWN},
    {.name = "pattern", .kind = CLI_TEXT, .arg = "NAME[:OPTS]",
     .help = "run only pattern NAME, its init getting the option string OPTS, e.g. "
             "--pattern \"rise:center=4 speed=2\"",
     .set = set_pattern},
    {.name = "port", .kind = CLI_INT, .help = "the plug-in's light server port",
     .dflt = WIRE_TEXT(WIRE_PORT_MUSIC), .min = 1, .max = 65535, CLI_INTO(host_options, port),
     .flags = CLI_SHOWN},
    {.name = "rate", .kind = CLI_DOUBLE, .arg = "HZ",
     .help = "spectrum callbacks a second; the music still plays in real time, each callback "
             "analyses the newest 512 samples played",
     .dflt = "one per block of 512 samples, each block analysed once as it is heard, about 86 "
             "at 44.1 kHz", .min = 0.1, .max = 20000,
     CLI_INTO(host_options, rate), .flags = CLI_SHOWN},
    {.name = "frames", .kind = CLI_INT, .help = "stop after N callbacks", .dflt = "no limit",
     .min = 1, .max = 2147483647, CLI_INTO(host_options, frames), .flags = CLI_SHOWN},
    {.name = "light-delay", .kind = CLI_INT, .arg = "MS",
     .help = "the lights MS milliseconds later than the sound, for a sound path slower than "
             "the lamps; negative (not with --capture): earlier, each callback analysing what "
             "will be heard -MS from now, to make up for the lamps' own path",
     .dflt = "0", .min = -HOST_LIGHT_DELAY_MAX_MS, .max = HOST_LIGHT_DELAY_MAX_MS,
     CLI_INTO(host_options, light_delay_ms)},
    {.name = "control", .kind = CLI_INT, .arg = "PORT",
     .help = "take the show's commands (?, pattern NAME[:OPTS], auto, next, delay MS) as "
             "UDP datagrams on 127.0.0.1:PORT, answering each with the pattern, the light "
             "delay and the tempo as a line of JSON (for hallmqtt and hallweb --show)",
     .dflt = "none", .min = 1, .max = 65535, CLI_INTO(host_options, control_port),
     .flags = CLI_SHOWN},
    {.name = "beat-log", .kind = CLI_PATH,
     .help = "write a line for every beat the plug-in signals: the music time in seconds, the "
             "tempo, the confidence and the beat's place in the bar",
     CLI_INTO(host_options, beat_log)},
    {.name = "pattern-log", .kind = CLI_PATH,
     .help = "write a line for every pattern change: the music time in seconds and the "
             "pattern's name",
     CLI_INTO(host_options, pattern_log)},
    {.name = "fast",
     .help = "with --mute and a FILE: run the callbacks back to back as fast as they compute, "
             "with the same results as in real time (to check the beat with --beat-log)",
     CLI_INTO(host_options, fast)},
    {.name = "keep-playing", .help = "go on playing when the plug-in asks to be disabled",
     CLI_INTO(host_options, keep_playing)},
    {.name = "headless",
     .help = "without a usable X display, give the preview window a private one (Xvfb), "
             "stopped when glimhost ends",
     CLI_INTO(host_options, headless)},
    {.name = "no-analysis",
     .help = "play without analysing the music ahead: the plug-in follows the beat by itself "
             "(by default a file or the built-in music is analysed, or its analysis taken "
             "from the cache, and the plug-in given its beats, bars and sections)",
     CLI_INTO(host_options, no_analysis)},
    {.name = "analyse",
     .help = "print the analysis of FILE (or of the built-in music) as JSON -- tempo, beats, "
             "downbeats, sections with their loudness, drops -- and exit",
     .set = set_analyse},
    {.name = "list-patterns", .help = "list the patterns the plug-in exports, then exit",
     .set = set_list},
    {},
};

} // namespace

const cli_program host_cli = {
    .name = "glimhost",
    .synopsis = "[options] [FILE]",
    .about = "Load the light-show plug-in, play music to it the way an audio player does\n"
             "and run the light show: frames go to the plug-in's network light server.\n"
             "What to play is one of --demo (the default), FILE (any sound file libsndfile\n"
             "reads: WAV, FLAC, OGG, ...) and --capture.\n",
    .opts = rows,
    .footer = "Needs an X display for the plug-in's preview window, or --headless (except\n"
              "for --help, --list-patterns and --analyse). Ends with 0 at the end of FILE, after\n"
              "--frames, on SIGINT/SIGTERM, or when the plug-in disables itself; 1 on an\n"
              "error (one line on standard error), 2 on a bad command line.\n"
              "Analyses are kept in $XDG_CACHE_HOME/hallway-lights (else\n"
              "~/.cache/hallway-lights), a file per piece of music; removing the folder\n"
              "clears them.\n"
              "Examples:\n"
              "  glimhost --mute song.flac\n"
              "  glimhost --analyse song.flac\n"
              "  glimhost --capture\n"
              "  glimhost --pattern \"rise:center=4 speed=2\"\n"
              "  glimhost --mute --fast --beat-log beats.txt song.flac\n",
    .operand = set_file,
};

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
    memset(o, 0, sizeof *o); /* HOST_RUN, HOST_SOURCE_DEMO */
    o->port = -1;            /* the plug-in's own */
    int parsed = cli_parse(&host_cli, argc, argv, o, err, err_len);
    if (parsed != CLI_RUN)
        return parsed;
    if (o->sources_given > 1)
        return cli_refuse(&host_cli, err, err_len, "give only one of --demo, --capture and FILE");
    if (o->action == HOST_ANALYSE && o->source == HOST_SOURCE_CAPTURE)
        return cli_refuse(&host_cli, err, err_len,
                          "--analyse takes a file or the built-in music, not --capture");
    if (o->fast && (!o->mute || o->source != HOST_SOURCE_FILE))
        return cli_refuse(&host_cli, err, err_len,
                          "--fast needs --mute and a FILE: it plays no sound and reads the music "
                          "as fast as the callbacks run");
    if (o->source == HOST_SOURCE_CAPTURE && o->light_delay_ms < 0)
        return cli_refuse(&host_cli, err, err_len,
                          "a negative --light-delay looks ahead in the music: live --capture "
                          "cannot be seen ahead");
    return CLI_RUN;
}
