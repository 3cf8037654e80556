/* song_cache.h -- analyses kept between plays, one file each under the
 * user's cache folder ($XDG_CACHE_HOME/hallway-lights, else
 * ~/.cache/hallway-lights), named by the SHA-256 of the music's content:
 * a renamed or copied file finds its analysis, an edited one does not.
 *
 * A cache file is little-endian binary:
 *   "HLSONG\r\n"                 8 bytes
 *   format version, analysis version   u32 each
 *   the content key              32 bytes (the name, repeated inside)
 *   verdict, beats a bar, beats, sections   u32 each
 *   duration, tempo              f64 each
 *   each beat: time f64, place in the bar u32
 *   each section: start, end, loudness, level f64; drop u32
 *   SHA-256 of all the above     32 bytes
 * Anything else -- another size, version or key, a wrong sum, a value out
 * of its range -- is not trusted: the music is analysed again and the
 * file written anew. */
#ifndef HOST_SONG_CACHE_H
#define HOST_SONG_CACHE_H

#include <stddef.h>

#include "host/song_analysis.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SONG_KEY_BYTES 32

/* What the cache is looked up by: the SHA-256 of the music. */
typedef struct {
    unsigned char bytes[SONG_KEY_BYTES];
} song_key;

/* The key of a file's bytes. 0, or -1 with a one-line reason in err
 * (or after a stop: `stop` is polled as by song_analyse). */
int song_key_of_file(const char *path, const int *stop, song_key *key, char *err,
                     size_t err_len);

/* The key of music read from `read` (its samples' bytes) at `rate`, to
 * the end. 0, or -1 on a read error or a stop. */
int song_key_of_stream(song_read_fn read, void *ctx, int rate, const int *stop, song_key *key);

/* The cache file of a key: written into buf. 0, or -1 when there is no
 * cache folder to name (neither XDG_CACHE_HOME nor HOME usable). */
int song_cache_path(const song_key *key, char *buf, size_t len);

/* The stored form of an analysis: a malloc'ed buffer (free it) and its
 * length. 0, or -1 when out of memory. */
int song_cache_encode(const song_analysis *a, const song_key *key, unsigned char **data,
                      size_t *len);

/* Read a stored analysis for `key` from `data`. 0 with *out filled
 * (song_analysis_free it), or -1 when it is not a sound analysis of that
 * music (*out empty). */
int song_cache_decode(const unsigned char *data, size_t len, const song_key *key,
                      song_analysis *out);

enum song_cache_state { SONG_CACHE_HIT, SONG_CACHE_MISSING, SONG_CACHE_DAMAGED };

/* Look the key up. SONG_CACHE_HIT with *out filled, SONG_CACHE_MISSING
 * (no file, or no cache folder), or SONG_CACHE_DAMAGED (a file that is
 * not to be trusted; *out empty). */
enum song_cache_state song_cache_load(const song_key *key, song_analysis *out);

/* Keep an analysis under its key, replacing what was there (written
 * aside, then renamed into place). 0, or -1 with a one-line reason. */
int song_cache_store(const song_key *key, const song_analysis *a, char *err, size_t err_len);

#ifdef __cplusplus
}
#endif

#endif
