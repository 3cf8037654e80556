/* song_cache.cpp -- the analysis cache: content keys (SHA-256 through
 * GLib's checksums), the stored form and its checked reader, and the
 * files under the user's cache folder. */
#include "host/song_cache.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char MAGIC[8] = {'H', 'L', 'S', 'O', 'N', 'G', '\r', '\n'};
const uint32_t FORMAT_VERSION = 1;
const size_t HEAD = 8 + 4 + 4 + SONG_KEY_BYTES + 4 * 4 + 8 * 2;
const size_t BEAT = 8 + 4;
const size_t SECTION = 8 * 4 + 4;
const size_t SUM = 32;
const size_t LARGEST = HEAD + BEAT * SONG_MAX_BEATS + SECTION * SONG_MAX_SECTIONS + SUM;

bool stopped(const int *stop)
{
    return stop && __atomic_load_n(stop, __ATOMIC_RELAXED);
}

void sha256(const unsigned char *data, size_t len, unsigned char out[32])
{
    GChecksum *c = g_checksum_new(G_CHECKSUM_SHA256);
    g_checksum_update(c, data, (gssize)len);
    gsize n = 32;
    g_checksum_get_digest(c, out, &n);
    g_checksum_free(c);
}

/* Little-endian writing and reading, whatever the machine. */
struct writer {
    unsigned char *p;
    void u32(uint32_t v)
    {
        for (int i = 0; i < 4; i++)
            *p++ = (unsigned char)(v >> (8 * i));
    }
    void f64(double d)
    {
        uint64_t v;
        memcpy(&v, &d, 8);
        for (int i = 0; i < 8; i++)
            *p++ = (unsigned char)(v >> (8 * i));
    }
    void bytes(const void *b, size_t n)
    {
        memcpy(p, b, n);
        p += n;
    }
};

struct reader {
    const unsigned char *p;
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v |= (uint32_t)*p++ << (8 * i);
        return v;
    }
    double f64()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; i++)
            v |= (uint64_t)*p++ << (8 * i);
        double d;
        memcpy(&d, &v, 8);
        return d;
    }
};

bool in_range(double v, double lo, double hi)
{
    return isfinite(v) && v >= lo && v <= hi;
}

/* The cache folder, created (private to the user) when it is missing. */
int cache_dir(char *buf, size_t len)
{
    const char *xdg = getenv("XDG_CACHE_HOME");
    const char *home = getenv("HOME");
    int n;
    /* A relative XDG_CACHE_HOME is to be ignored. */
    if (xdg && xdg[0] == '/')
        n = snprintf(buf, len, "%s/hallway-lights", xdg);
    else if (home && home[0] == '/')
        n = snprintf(buf, len, "%s/.cache/hallway-lights", home);
    else
        return -1;
    return n > 0 && (size_t)n < len ? 0 : -1;
}

int make_dirs(char *path)
{
    for (char *s = strchr(path + 1, '/');; s = strchr(s + 1, '/')) {
        if (s)
            *s = '\0';
        int rc = mkdir(path, 0700);
        if (s)
            *s = '/';
        if (rc != 0 && errno != EEXIST)
            return -1;
        if (!s)
            return 0;
    }
}

} // namespace

int song_key_of_file(const char *path, const int *stop, song_key *key, char *err,
                     size_t err_len)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        snprintf(err, err_len, "cannot read \"%s\": %s", path, strerror(errno));
        return -1;
    }
    GChecksum *c = g_checksum_new(G_CHECKSUM_SHA256);
    static thread_local unsigned char buf[1 << 16];
    size_t n;
    int rc = 0;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
        g_checksum_update(c, buf, (gssize)n);
        if (stopped(stop)) {
            rc = -1;
            if (err_len)
                err[0] = '\0';
            break;
        }
    }
    if (rc == 0 && ferror(f)) {
        snprintf(err, err_len, "cannot read \"%s\"", path);
        rc = -1;
    }
    gsize len = SONG_KEY_BYTES;
    g_checksum_get_digest(c, key->bytes, &len);
    g_checksum_free(c);
    fclose(f);
    return rc;
}

int song_key_of_stream(song_read_fn read, void *ctx, int rate, const int *stop, song_key *key)
{
    GChecksum *c = g_checksum_new(G_CHECKSUM_SHA256);
    uint32_t r = (uint32_t)rate;
    g_checksum_update(c, (const guchar *)&r, sizeof r);
    float buf[4096];
    int n, rc = 0;
    while ((n = read(ctx, buf, 4096)) > 0) {
        g_checksum_update(c, (const guchar *)buf, (gssize)(sizeof(float) * (size_t)n));
        if (stopped(stop)) {
            rc = -1;
            break;
        }
    }
    if (n < 0)
        rc = -1;
    gsize len = SONG_KEY_BYTES;
    g_checksum_get_digest(c, key->bytes, &len);
    g_checksum_free(c);
    return rc;
}

int song_cache_path(const song_key *key, char *buf, size_t len)
{
    char dir[4096];
    if (cache_dir(dir, sizeof dir) != 0)
        return -1;
    char hex[2 * SONG_KEY_BYTES + 1];
    for (int i = 0; i < SONG_KEY_BYTES; i++)
        snprintf(hex + 2 * i, 3, "%02x", key->bytes[i]);
    int n = snprintf(buf, len, "%s/%s.analysis", dir, hex);
    return n > 0 && (size_t)n < len ? 0 : -1;
}

int song_cache_encode(const song_analysis *a, const song_key *key, unsigned char **data,
                      size_t *len)
{
    size_t size = HEAD + BEAT * (size_t)a->num_beats + SECTION * (size_t)a->num_sections + SUM;
    unsigned char *buf = (unsigned char *)malloc(size);
    if (!buf)
        return -1;
    writer w{buf};
    w.bytes(MAGIC, sizeof MAGIC);
    w.u32(FORMAT_VERSION);
    w.u32(SONG_ANALYSIS_VERSION);
    w.bytes(key->bytes, SONG_KEY_BYTES);
    w.u32((uint32_t)a->verdict);
    w.u32((uint32_t)a->beats_per_bar);
    w.u32((uint32_t)a->num_beats);
    w.u32((uint32_t)a->num_sections);
    w.f64(a->duration);
    w.f64(a->tempo);
    for (int i = 0; i < a->num_beats; i++) {
        w.f64(a->beats[i].time);
        w.u32((uint32_t)a->beats[i].beat_in_bar);
    }
    for (int i = 0; i < a->num_sections; i++) {
        const song_section *s = &a->sections[i];
        w.f64(s->start);
        w.f64(s->end);
        w.f64(s->loudness);
        w.f64(s->level_db);
        w.u32((uint32_t)s->drop);
    }
    sha256(buf, size - SUM, w.p);
    *data = buf;
    *len = size;
    return 0;
}

int song_cache_decode(const unsigned char *data, size_t len, const song_key *key,
                      song_analysis *out)
{
    memset(out, 0, sizeof *out);
    if (len < HEAD + SUM || len > LARGEST || memcmp(data, MAGIC, sizeof MAGIC) != 0)
        return -1;
    unsigned char sum[32];
    sha256(data, len - SUM, sum);
    if (memcmp(sum, data + len - SUM, SUM) != 0)
        return -1;
    reader r{data + sizeof MAGIC};
    if (r.u32() != FORMAT_VERSION || r.u32() != SONG_ANALYSIS_VERSION)
        return -1;
    if (memcmp(r.p, key->bytes, SONG_KEY_BYTES) != 0)
        return -1;
    r.p += SONG_KEY_BYTES;
    uint32_t verdict = r.u32(), bpb = r.u32(), beats = r.u32(), sections = r.u32();
    double duration = r.f64(), tempo = r.f64();
    if (beats > SONG_MAX_BEATS || sections > SONG_MAX_SECTIONS ||
        len != HEAD + BEAT * beats + SECTION * sections + SUM)
        return -1;
    /* What an analysis can hold: with beats a metre and a tempo, without
     * them neither, nor sections. */
    bool have = verdict == SONG_BEATS;
    if (verdict > SONG_NO_BEAT || have != (beats > 0) || (!have && sections > 0) ||
        (have && bpb != 3 && bpb != 4) || (!have && bpb != 0) ||
        !in_range(duration, 0, SONG_MAX_SECONDS + 1) || !in_range(tempo, 0, 1000) ||
        have != (tempo > 0))
        return -1;
    out->verdict = (enum song_verdict)verdict;
    out->beats_per_bar = (int)bpb;
    out->duration = duration;
    out->tempo = tempo;
    out->beats = (song_beat *)calloc(beats + 1, sizeof(song_beat));
    out->sections = (song_section *)calloc(sections + 1, sizeof(song_section));
    if (!out->beats || !out->sections) {
        song_analysis_free(out);
        return -1;
    }
    double last = 0;
    for (uint32_t i = 0; i < beats; i++) {
        song_beat *b = &out->beats[i];
        b->time = r.f64();
        uint32_t place = r.u32();
        if (!in_range(b->time, last, duration) || place < 1 || place > bpb) {
            song_analysis_free(out);
            return -1;
        }
        b->beat_in_bar = (int)place;
        last = b->time;
        out->num_beats++;
    }
    /* Sections follow one another from the start to the end. */
    double end = 0;
    for (uint32_t i = 0; i < sections; i++) {
        song_section *s = &out->sections[i];
        s->start = r.f64();
        s->end = r.f64();
        s->loudness = r.f64();
        s->level_db = r.f64();
        uint32_t drop = r.u32();
        if (s->start != end || !in_range(s->end, s->start, duration) ||
            !in_range(s->loudness, 0, 1) || !in_range(s->level_db, -400, 100) || drop > 1) {
            song_analysis_free(out);
            return -1;
        }
        s->drop = (int)drop;
        end = s->end;
        out->num_sections++;
    }
    return 0;
}

enum song_cache_state song_cache_load(const song_key *key, song_analysis *out)
{
    memset(out, 0, sizeof *out);
    char path[4200];
    if (song_cache_path(key, path, sizeof path) != 0)
        return SONG_CACHE_MISSING;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return SONG_CACHE_MISSING;
    struct stat st;
    enum song_cache_state state = SONG_CACHE_DAMAGED;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        (size_t)st.st_size <= LARGEST) {
        size_t len = (size_t)st.st_size;
        unsigned char *buf = (unsigned char *)malloc(len);
        size_t got = 0;
        while (buf && got < len) {
            ssize_t n = read(fd, buf + got, len - got);
            if (n <= 0)
                break;
            got += (size_t)n;
        }
        if (buf && got == len && song_cache_decode(buf, len, key, out) == 0)
            state = SONG_CACHE_HIT;
        free(buf);
    }
    close(fd);
    return state;
}

int song_cache_store(const song_key *key, const song_analysis *a, char *err, size_t err_len)
{
    char path[4200], dir[4096], temp[4300];
    if (song_cache_path(key, path, sizeof path) != 0 || cache_dir(dir, sizeof dir) != 0) {
        snprintf(err, err_len, "no cache folder (neither XDG_CACHE_HOME nor HOME is set)");
        return -1;
    }
    if (make_dirs(dir) != 0) {
        snprintf(err, err_len, "cannot make %s: %s", dir, strerror(errno));
        return -1;
    }
    unsigned char *data;
    size_t len;
    if (song_cache_encode(a, key, &data, &len) != 0) {
        snprintf(err, err_len, "out of memory");
        return -1;
    }
    snprintf(temp, sizeof temp, "%s.%ld.new", path, (long)getpid());
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int rc = fd < 0 ? -1 : 0;
    for (size_t done = 0; rc == 0 && done < len;) {
        ssize_t n = write(fd, data + done, len - done);
        if (n <= 0)
            rc = -1;
        else
            done += (size_t)n;
    }
    if (fd >= 0 && close(fd) != 0)
        rc = -1;
    if (rc == 0 && rename(temp, path) != 0)
        rc = -1;
    if (rc != 0) {
        snprintf(err, err_len, "cannot write %s: %s", path, strerror(errno));
        unlink(temp);
    }
    free(data);
    return rc;
}
