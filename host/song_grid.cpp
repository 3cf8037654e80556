/* song_grid.cpp -- the analysis job and the grid handed to the plug-in. */
#include "host/song_grid.h"

#include <math.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "host/demo_music.h"
#include "host/song_cache.h"

namespace {

/* One pass of the built-in music as a song_read_fn. */
struct demo_reader {
    long at, end;
};

int read_demo(void *ctx, float *out, int frames)
{
    demo_reader *d = (demo_reader *)ctx;
    if (frames > d->end - d->at)
        frames = (int)(d->end - d->at);
    int16_t stereo[2 * 1024];
    for (int done = 0; done < frames;) {
        int n = frames - done < 1024 ? frames - done : 1024;
        demo_music_render(d->at, stereo, n);
        for (int i = 0; i < n; i++)
            out[done + i] = (float)(stereo[2 * i] + stereo[2 * i + 1]) / 65536.0f;
        d->at += n;
        done += n;
    }
    return frames;
}

double cpu_seconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* The job: its thread, its stop flag, what it found. */
pthread_t job_thread;
bool job_running = false;
int job_stop = 0;
char *job_path = nullptr;
void (*job_ready)(void) = nullptr;
song_analysis job_result;
bool job_ok = false;
char job_note[512];

void *job_main(void *)
{
    /* Behind the music: the rendering thread must never wait for it. */
    setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), 5);
    char note[256], err[256];
    job_ok = song_grid_obtain(job_path, &job_stop, &job_result, note, sizeof note, err,
                              sizeof err) == 0;
    snprintf(job_note, sizeof job_note, "%s", job_ok ? note : err);
    if (job_ready)
        job_ready();
    return nullptr;
}

} // namespace

int song_grid_obtain(const char *path, const int *stop, song_analysis *out, char *note,
                     size_t note_len, char *err, size_t err_len)
{
    memset(out, 0, sizeof *out);
    if (err_len)
        err[0] = '\0';
    /* The music is read twice (for its key, then for the analysis) and
     * apart from playback: only a file that stays where it is, not a
     * pipe that playback reads too. */
    struct stat st;
    if (path && (stat(path, &st) != 0 || !S_ISREG(st.st_mode))) {
        snprintf(err, err_len, "cannot analyse \"%s\": not a regular file", path);
        return -1;
    }
    double began = cpu_seconds();
    song_key key;
    demo_reader demo = {0, demo_music_length()};
    int rc = path ? song_key_of_file(path, stop, &key, err, err_len)
                  : song_key_of_stream(read_demo, &demo, DEMO_MUSIC_RATE, stop, &key);
    if (rc != 0)
        return -1;
    enum song_cache_state state = song_cache_load(&key, out);
    if (state == SONG_CACHE_HIT) {
        snprintf(note, note_len, "from the cache");
        return 0;
    }
    demo.at = 0;
    rc = path ? song_analyse_file(path, stop, out, err, err_len)
              : song_analyse(read_demo, &demo, DEMO_MUSIC_RATE, stop, out, err, err_len);
    if (rc != 0)
        return -1;
    char why[256];
    int kept = song_cache_store(&key, out, why, sizeof why);
    snprintf(note, note_len, "analysed in %.1f s%s%s%s", cpu_seconds() - began,
             state == SONG_CACHE_DAMAGED ? ", a damaged cache file replaced" : "",
             kept != 0 ? ", not kept: " : "", kept != 0 ? why : "");
    return 0;
}

int song_grid_start(const char *path, void (*ready)(void))
{
    if (job_running)
        return -1;
    free(job_path);
    job_path = path ? strdup(path) : nullptr;
    if (path && !job_path)
        return -1;
    job_ready = ready;
    job_ok = false;
    job_note[0] = '\0';
    __atomic_store_n(&job_stop, 0, __ATOMIC_RELAXED);
    if (pthread_create(&job_thread, nullptr, job_main, nullptr) != 0)
        return -1;
    job_running = true;
    return 0;
}

void song_grid_stop(void)
{
    if (!job_running)
        return;
    __atomic_store_n(&job_stop, 1, __ATOMIC_RELAXED);
    pthread_join(job_thread, nullptr);
    job_running = false;
    song_analysis_free(&job_result);
    job_ok = false;
    free(job_path);
    job_path = nullptr;
}

const song_analysis *song_grid_result(void)
{
    return job_ok ? &job_result : nullptr;
}

const char *song_grid_note(void)
{
    return job_note;
}

int song_grid_hand_over(const glim_host_api2 *api, const song_analysis *a, double loop_seconds,
                        double now)
{
    if (!api || !api->set_beat_grid || !a || a->num_beats == 0)
        return -1;
    long first = 0, passes = 1;
    if (loop_seconds > 0) {
        first = now > loop_seconds ? (long)floor(now / loop_seconds) : 0;
        passes = (long)ceil(SONG_GRID_AHEAD_SECONDS / loop_seconds) + 1;
    }
    std::vector<glim_grid_beat> beats;
    std::vector<glim_grid_section> sections;
    for (long k = first; k < first + passes; k++) {
        double at = (double)k * loop_seconds;
        for (int i = 0; i < a->num_beats; i++)
            beats.push_back({at + a->beats[i].time, a->beats[i].beat_in_bar});
        for (int i = 0; i < a->num_sections; i++)
            sections.push_back({at + a->sections[i].start, a->sections[i].loudness,
                                a->sections[i].drop});
    }
    return api->set_beat_grid(beats.data(), (int)beats.size(), sections.data(),
                              (int)sections.size());
}
