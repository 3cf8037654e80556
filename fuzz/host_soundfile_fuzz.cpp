/* host_soundfile_fuzz.cpp -- a sound file of arbitrary bytes, opened and
 * read to the end the way glimhost plays a FILE. The bytes sit in a
 * memory file reached through /proc/self/fd, so the real open path runs. */
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include "host/audio_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int fd = memfd_create("soundfile", 0);
    if (fd < 0)
        return 0;
    if (size && write(fd, data, size) != (ssize_t)size) {
        close(fd);
        return 0;
    }
    char path[64], err[512];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    audio_source s;
    if (source_open_file(&s, path, err, sizeof err) == 0) {
        if (s.rate < 1000 || !s.read)
            __builtin_trap();
        int16_t chunk[SOURCE_CHUNK * 2];
        /* a header may claim hours of sound: read a bounded amount */
        for (int i = 0; i < 4096; i++) {
            int n = s.read(chunk, SOURCE_CHUNK);
            if (n <= 0)
                break;
            if (n > SOURCE_CHUNK)
                __builtin_trap();
        }
        source_close();
    }
    close(fd);
    return 0;
}
