/* show_control.h -- the light show's control socket (glimhost --control
 * PORT), written down once for the show that answers and the consumers
 * that ask (the MQTT bridge, the web console). Commands are short text,
 * one a datagram, a single trailing newline allowed:
 *   ?                       only asks
 *   pattern NAME[:OPTIONS]  fix one pattern, with its option string
 *   auto                    back to the scheduler's rotation
 *   next                    the next pattern now
 *   delay MS                the light delay, whole milliseconds
 * Every datagram from 127.0.0.1 is answered with one line of JSON:
 *   {"pattern":NAME or null,"fixed":B,"delay":MS,"patterns":[NAME,...],
 *    "tempo":BPM,"locked":B,"error":TEXT}
 * "tempo" and "locked" only when the plug-in reports them; "error" only
 * when the command was not understood, and then it changed nothing.
 * Plain C. */
#ifndef WIRE_SHOW_CONTROL_H
#define WIRE_SHOW_CONTROL_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* No default port: the show opens the socket only when asked to. */
#define SHOW_PORT_NONE 0

#define SHOW_COMMAND_MAX 256       /* bytes of a command datagram */
#define SHOW_NAME_MAX 40           /* bytes of a pattern name */
#define SHOW_OPTIONS_MAX 200       /* bytes of a pattern's option string */
#define SHOW_MAX_PATTERNS 64       /* patterns an answer lists at most */
#define SHOW_ERROR_MAX 120         /* bytes of an answer's error kept */
#define SHOW_ANSWER_MAX 8192       /* bytes of an answer line, with "\n" */

/* The light delay's range, as the show's --light-delay takes it. */
#define SHOW_DELAY_MIN (-2000)
#define SHOW_DELAY_MAX 2000

/* The words of the commands. */
#define SHOW_WORD_ASK "?"
#define SHOW_WORD_PATTERN "pattern"
#define SHOW_WORD_AUTO "auto"
#define SHOW_WORD_NEXT "next"
#define SHOW_WORD_DELAY "delay"

/* The answer's fields. */
#define SHOW_FIELD_PATTERN "pattern"
#define SHOW_FIELD_FIXED "fixed"
#define SHOW_FIELD_DELAY "delay"
#define SHOW_FIELD_PATTERNS "patterns"
#define SHOW_FIELD_TEMPO "tempo"
#define SHOW_FIELD_LOCKED "locked"
#define SHOW_FIELD_ERROR "error"

enum show_command_kind { SHOW_ASK, SHOW_PATTERN, SHOW_AUTO, SHOW_NEXT, SHOW_DELAY };

/* A command. A pattern's name is 1..SHOW_NAME_MAX letters, digits, "_",
 * "-" or "."; its options are printable text. */
struct show_command {
    enum show_command_kind kind;
    char pattern[SHOW_NAME_MAX + 1];      /* SHOW_PATTERN */
    int has_options;                      /* SHOW_PATTERN: a ":" followed */
    char options[SHOW_OPTIONS_MAX + 1];   /* ... and these came after it */
    int delay_ms;                         /* SHOW_DELAY: SHOW_DELAY_MIN..MAX */
};

/* Read a command datagram. 0 with *out filled; -1 with a one-line reason
 * in err (for the answer's error field) when it is no command. */
int show_parse_command(const void *datagram, size_t len, struct show_command *out, char *err,
                       size_t errlen);

/* Write the datagram of a command into buf (NUL-ended, no newline). Its
 * length, or -1 when it does not fit or the command is not one
 * show_parse_command would take. */
int show_format_command(char *buf, size_t size, const struct show_command *cmd);

/* What the show's answer describes. */
struct show_state {
    const char *pattern;             /* running now; NULL when none runs */
    int fixed;                       /* fixed by a command or an option */
    int delay_ms;
    const char *const *patterns;     /* every pattern a command may name */
    int num_patterns;                /* only SHOW_MAX_PATTERNS are written */
    int has_tempo;                   /* the plug-in reports a tempo ... */
    double tempo;                    /* ... in beats a minute */
    int has_locked;                  /* the plug-in reports a beat lock ... */
    int locked;                      /* ... and whether it holds */
    const char *error;               /* NULL, or why the command changed nothing */
};

/* Write the answer line for *s into buf (with "\n" and a NUL). Its length,
 * or -1 (buf holding an empty string) when it does not fit. */
int show_format_answer(char *buf, size_t size, const struct show_state *s);

/* An answer as a consumer reads it back. */
struct show_answer {
    int has_pattern;
    char pattern[SHOW_NAME_MAX + 1];
    int fixed;
    int delay_ms;
    int num_patterns;
    char patterns[SHOW_MAX_PATTERNS][SHOW_NAME_MAX + 1];
    int has_tempo;
    double tempo;                    /* 0..SHOW_TEMPO_MAX */
    int has_locked;
    int locked;
    int has_error;
    char error[SHOW_ERROR_MAX + 1];
};

#define SHOW_TEMPO_MAX 1000.0

/* Read an answer line into *out. 0, or -1 (*out untouched) when it is not
 * such a line. Names and the error are cut at a character boundary to
 * fit; patterns past SHOW_MAX_PATTERNS are left out. Needs the JSON
 * reader: link wire_json. */
int show_parse_answer(const char *text, size_t len, struct show_answer *out);

#ifdef __cplusplus
}
#endif

#endif
