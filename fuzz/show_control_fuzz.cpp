/* show_control_fuzz.cpp -- the light show's control words from outside.
 * The first byte picks the reader: even, a command datagram as the show
 * reads it; odd, an answer line as its consumers read it. An accepted
 * command is written back by the consumers' writer to the same command; a
 * refused one gets a one-line reason. An accepted answer is in range, and
 * written out by the show's writer reads back the same. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "wire/show_control.h"

namespace {

void command(const char *text, size_t len)
{
    show_command c;
    char err[200] = "";
    if (show_parse_command(text, len, &c, err, sizeof err) != 0) {
        if (!err[0] || strchr(err, '\n'))
            abort();
        return;
    }
    if (c.kind == SHOW_DELAY && (c.delay_ms < SHOW_DELAY_MIN || c.delay_ms > SHOW_DELAY_MAX))
        abort();
    char datagram[SHOW_COMMAND_MAX + 1];
    int n = show_format_command(datagram, sizeof datagram, &c);
    show_command back;
    if (n <= 0 || show_parse_command(datagram, (size_t)n, &back, nullptr, 0) != 0 ||
        memcmp(&back, &c, sizeof c) != 0)
        abort();
}

/* The answer for `a`, written by the show's writer. */
int write_back(const show_answer &a, char *line, size_t size)
{
    static const char *names[SHOW_MAX_PATTERNS];
    for (int i = 0; i < a.num_patterns; i++)
        names[i] = a.patterns[i];
    show_state s = {a.has_pattern ? a.pattern : nullptr, a.fixed, a.delay_ms, names,
                    a.num_patterns, a.has_tempo, a.tempo, a.has_locked, a.locked,
                    a.has_error ? a.error : nullptr};
    return show_format_answer(line, size, &s);
}

void answer(const char *text, size_t len)
{
    static show_answer a, again, third;
    if (show_parse_answer(text, len, &a) != 0)
        return;
    if (a.num_patterns < 0 || a.num_patterns > SHOW_MAX_PATTERNS || a.delay_ms < SHOW_DELAY_MIN ||
        a.delay_ms > SHOW_DELAY_MAX || !(a.tempo >= 0 && a.tempo <= SHOW_TEMPO_MAX))
        abort();
    /* The tempo is written to a tenth: compare from the first rewrite on. */
    static char line[SHOW_ANSWER_MAX], line2[SHOW_ANSWER_MAX];
    int n = write_back(a, line, sizeof line);
    if (n <= 0 || show_parse_answer(line, (size_t)n, &again) != 0)
        abort();
    int n2 = write_back(again, line2, sizeof line2);
    if (n2 != n || memcmp(line, line2, (size_t)n) != 0 ||
        show_parse_answer(line2, (size_t)n2, &third) != 0 || memcmp(&third, &again, sizeof again) != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        command((const char *)data + 1, size - 1);
    else
        answer((const char *)data + 1, size - 1);
    return 0;
}
