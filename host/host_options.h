/* host_options.h -- glimhost's command line: what to play, which plug-in,
 * which pattern, how fast. Parsing only; nothing is opened here, so tests
 * and the fuzz target can call it freely. */
#ifndef HOST_HOST_OPTIONS_H
#define HOST_HOST_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

#ifdef __cplusplus
extern "C" {
#endif

enum host_source_kind { HOST_SOURCE_DEMO, HOST_SOURCE_FILE, HOST_SOURCE_CAPTURE };

enum host_action { HOST_RUN, HOST_LIST_PATTERNS, HOST_ANALYSE };

/* Longest pattern name accepted by --pattern (the known ones are far shorter). */
#define HOST_PATTERN_NAME_MAX 64

typedef struct {
    enum host_action action;
    enum host_source_kind source;
    int sources_given;           /* how many of --demo, --capture and FILE */
    const char *file;            /* FILE argument, points into argv */
    const char *capture_source;  /* NULL = monitor of the default output */
    const char *plugin;          /* --plugin PATH, NULL = beside the program */
    int has_pattern;             /* --pattern given */
    char pattern_name[HOST_PATTERN_NAME_MAX + 1];
    const char *pattern_options; /* text after ':' (points into argv), or NULL */
    int port;                    /* --port, -1 = the plug-in's own default */
    double rate;                 /* --rate callbacks a second, 0 = one per 512 samples */
    long frames;                 /* --frames, 0 = no limit */
    int mute;                    /* --mute */
    int keep_playing;            /* --keep-playing */
    int headless;                /* --headless */
    int light_delay_ms;          /* --light-delay: lights this much later than
                                    the sound (negative: earlier) */
    int no_analysis;             /* --no-analysis: no beat grid from the music */
    int control_port;            /* --control, 0 (SHOW_PORT_NONE) = no socket */
    const char *beat_log;        /* --beat-log PATH, or NULL */
    const char *pattern_log;     /* --pattern-log PATH, or NULL */
    int fast;                    /* --fast: callbacks back to back */
} host_options;

/* The largest --light-delay either way, in milliseconds. */
#define HOST_LIGHT_DELAY_MAX_MS 2000

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason in err when it is CLI_REFUSED (a bad value, --demo,
 * --capture and FILE together, --analyse of --capture, or --fast without
 * --mute and a FILE). */
int host_parse_options(int argc, char **argv, host_options *o, char *err, size_t err_len);

/* Split "NAME[:OPTIONS]": NAME into name (at most HOST_PATTERN_NAME_MAX
 * characters of [A-Za-z0-9_]), *options to the text after the first ':'
 * or NULL when there is none. 0, or -1 when NAME is empty, too long or
 * holds another character. */
int host_split_pattern(const char *arg, char name[HOST_PATTERN_NAME_MAX + 1],
                       const char **options);

/* The command line as --help describes it. */
extern const cli_program host_cli;

#ifdef __cplusplus
}
#endif

#endif
