/* host_control_fuzz.cpp -- a datagram on glimhost's control socket, the
 * way the show's server takes it, before a plug-in's host API of the
 * target's own. The first byte picks the sender (bit 0 set: not
 * 127.0.0.1), the plug-in's version (bit 1: version 1) and whether it
 * reports a beat (bit 2); the rest is the datagram. Only 127.0.0.1 gets
 * an answer: one line that reads back, with an error exactly when the
 * command changed nothing, and otherwise showing what it changed. */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host/host_control.h"
#include "wire/control_server.h"
#include "wire/show_control.h"

namespace {

int no_init(char *) { return 0; }
int no_frame(double *, int16_t *, int *, int16_t (*)[256], int) { return 0; }
int no_deinit(void) { return 0; }

const glim_named_pattern patterns[] = {{"rise", no_init, no_frame, no_deinit},
                                       {"sine_wave", no_init, no_frame, no_deinit},
                                       {nullptr, nullptr, nullptr, nullptr}};

int steered;       /* fix_pattern and next_pattern calls */
int fixed;
int delay_ms;
bool beat;

const glim_named_pattern *find(const char *name)
{
    for (const glim_named_pattern *p = patterns; p->name; p++)
        if (strcmp(p->name, name) == 0)
            return p;
    return nullptr;
}
int set_fixed(const pattern_info *, const char *) { return 0; }
const char *current(void) { return patterns[1].name; }
int set_port(int) { return 0; }
void beat_state(glim_beat_state *out)
{
    memset(out, 0, sizeof *out);
    out->bpm = beat ? 120.5 : 0;
    out->locked = beat;
}
int fix(const char *name, const char *)
{
    steered++;
    fixed = name != nullptr;
    return name && !find(name) ? -1 : 0;
}
void next(void) { steered++; }
int is_fixed(void) { return fixed; }

const glim_host_api2 api2 = {{patterns, find, set_fixed, current, set_port},
                             nullptr, beat_state, nullptr, nullptr, fix, next, is_fixed};

long callbacks(void) { return 1000; }
int delay(void) { return delay_ms; }
int set_delay(int ms, char *err, size_t errlen)
{
    if (ms < -500) {
        snprintf(err, errlen, "not that far ahead");
        return -1;
    }
    delay_ms = ms;
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    bool local = !(data[0] & 1), v1 = data[0] & 2;
    beat = data[0] & 4;
    bool beat_told = beat && !v1;   /* version 1 has no beat to tell */
    steered = fixed = delay_ms = 0;
    host_control_setup setup = {&api2.v1, v1 ? nullptr : &api2, 0, callbacks, delay, set_delay, 0};
    control_server server = {-1, host_control_answer, &setup};
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(local ? INADDR_LOOPBACK : INADDR_LOOPBACK + 1);
    static char answer[CONTROL_SERVER_ANSWER_MAX];
    int len = -1;
    if (control_server_take(&server, data + 1, size - 1, &from, answer, sizeof answer, &len) != 0)
        abort();
    if (!local) {
        if (len != 0 || steered || delay_ms)
            abort();
        return 0;
    }
    static show_answer a;
    if (len <= 0 || answer[len - 1] != '\n' || memchr(answer, '\n', (size_t)len - 1) ||
        show_parse_answer(answer, (size_t)len, &a) != 0 || a.num_patterns != 2 ||
        a.has_tempo != beat_told || a.has_locked != beat_told)
        abort();
    show_command c;
    bool taken = show_parse_command(data + 1, size - 1, &c, nullptr, 0) == 0;
    bool changed = steered || delay_ms;
    if (a.has_error ? changed : !taken)
        abort();
    if (!a.has_error && c.kind == SHOW_PATTERN && (!a.fixed || strcmp(a.pattern, c.pattern)))
        abort();
    if (!a.has_error && c.kind == SHOW_DELAY && a.delay_ms != c.delay_ms)
        abort();
    return 0;
}
