/* show_log.cpp -- the beat and pattern logs. Written on the rendering
 * thread as the callbacks run, a line at a time (line-buffered, so a
 * reader sees each as it happens); the plug-in's beat is read through its
 * host API after each callback. */
#include "host/show_log.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "host/plugin.h"

namespace {

FILE *beat_log = nullptr;
FILE *pattern_log = nullptr;
long beats_logged = 0;             /* the plug-in's beat count at the last line */
const char *last_seen = nullptr;   /* pattern name after the previous callback */

FILE *open_log(const char *path, const char *option, char *err, size_t err_len)
{
    FILE *f = fopen(path, "w");
    if (!f) {
        snprintf(err, err_len, "cannot write %s %s: %s", option, path, strerror(errno));
        return nullptr;
    }
    setvbuf(f, nullptr, _IOLBF, 0);
    return f;
}

} // namespace

int show_log_open(const char *beat_path, const char *pattern_path, char *err, size_t err_len)
{
    if (beat_path && !plugin_api2()) {
        snprintf(err, err_len, "the plug-in tells no beat (host API version 2), so --beat-log "
                               "has nothing to write");
        return -1;
    }
    if (beat_path && !(beat_log = open_log(beat_path, "--beat-log", err, err_len)))
        return -1;
    if (pattern_path && !(pattern_log = open_log(pattern_path, "--pattern-log", err, err_len)))
        return -1;
    return 0;
}

void show_log_after_callback(double music_time)
{
    if (beat_log) {
        glim_beat_state s;
        plugin_api2()->beat_state(&s);
        if (s.beat_count < beats_logged)  /* the plug-in started afresh */
            beats_logged = 0;
        if (s.beat_count > beats_logged)
            fprintf(beat_log, "%.6f %.2f %.3f %d\n", music_time, s.bpm, s.confidence,
                    s.beat_in_bar);
        beats_logged = s.beat_count;
    }
    if (pattern_log) {
        /* A name after none, or another name: a pattern has started. */
        const char *now = plugin_current_pattern();
        if (now && now != last_seen)
            fprintf(pattern_log, "%.6f %s\n", music_time, now);
        last_seen = now;
    }
}

void show_log_close(void)
{
    if (beat_log)
        fclose(beat_log);
    if (pattern_log)
        fclose(pattern_log);
    beat_log = pattern_log = nullptr;
}

void show_log_beat_label(char *buf, size_t len)
{
    const glim_host_api2 *api = plugin_api2();
    if (!api) {
        snprintf(buf, len, "%s", "");
        return;
    }
    glim_beat_state s;
    api->beat_state(&s);
    if (s.locked)
        snprintf(buf, len, " | %.1f BPM %s", s.bpm, s.from_grid ? "from the grid" : "locked");
    else if (s.bpm > 0)
        snprintf(buf, len, " | %.1f BPM? unlocked", s.bpm);
    else
        snprintf(buf, len, " | no beat yet");
}
