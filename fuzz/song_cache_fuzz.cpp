/* song_cache_fuzz.cpp -- a cache file of arbitrary bytes, read as
 * glimhost reads one: as it is, and once more with its closing sum made
 * right, so that the checks behind the sum are reached too. The key
 * looked up is the one the bytes name (a file in its right place). What
 * is accepted must hold together, and stored again give the same bytes. */
#include <glib.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "host/song_cache.h"

namespace {

void check(const uint8_t *data, size_t size, const song_key *key)
{
    song_analysis a;
    if (song_cache_decode(data, size, key, &a) != 0) {
        if (a.beats || a.sections || a.num_beats || a.num_sections)
            __builtin_trap();
        return;
    }
    for (int i = 0; i < a.num_beats; i++)
        if (a.beats[i].beat_in_bar < 1 || a.beats[i].beat_in_bar > a.beats_per_bar ||
            (i > 0 && a.beats[i].time < a.beats[i - 1].time) || a.beats[i].time > a.duration)
            __builtin_trap();
    for (int i = 0; i < a.num_sections; i++)
        if (a.sections[i].end < a.sections[i].start || a.sections[i].loudness < 0 ||
            a.sections[i].loudness > 1)
            __builtin_trap();
    unsigned char *again;
    size_t len;
    if (song_cache_encode(&a, key, &again, &len) != 0)
        __builtin_trap();
    if (len != size || memcmp(again, data, size) != 0)
        __builtin_trap();
    free(again);
    song_analysis_free(&a);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    song_key key;
    memset(&key, 0, sizeof key);
    /* The key sits after the magic and the two versions. */
    if (size >= 16 + SONG_KEY_BYTES)
        memcpy(key.bytes, data + 16, SONG_KEY_BYTES);
    check(data, size, &key);
    if (size < 32)
        return 0;
    std::vector<uint8_t> fixed(data, data + size);
    GChecksum *c = g_checksum_new(G_CHECKSUM_SHA256);
    g_checksum_update(c, fixed.data(), (gssize)(size - 32));
    gsize n = 32;
    g_checksum_get_digest(c, fixed.data() + size - 32, &n);
    g_checksum_free(c);
    check(fixed.data(), size, &key);
    return 0;
}
