/* hallsim_loadbmp.cpp -- fuzz target: LoadBMP on arbitrary file contents
 * (texture files come from whoever fills the working directory). The
 * bytes are handed over as a file, the way the simulator reads them. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "hallsim/hall.h"
#include "quiet_stderr.h"

static volatile unsigned checksum; /* keeps the reads below */

static uint32_t le(const uint8_t *p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    /* SDL takes header fields that a short file lacks from uninitialised
     * memory: only a file that reaches the bit count gives a run decided
     * by the input (and a size this check can see). Pictures claiming
     * more than 4 megapixels only measure the allocator, not the
     * conversion. */
    if (size < 18)
        return 0;
    uint32_t header = le(data + 14, 4);
    long long w, h;
    if (header == 12) {
        if (size < 26)
            return 0;
        w = le(data + 18, 2);
        h = le(data + 20, 2);
    } else {
        if (size < 30)
            return 0;
        w = (int32_t)le(data + 18, 4);
        h = (int32_t)le(data + 22, 4);
    }
    if (llabs(w) * llabs(h) > (1LL << 22))
        return 0;
    int fd = memfd_create("bmp", 0);
    if (fd < 0)
        return 0;
    if (size > 0 && write(fd, data, size) != (ssize_t)size) {
        close(fd);
        return 0;
    }
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    /* The loader's complaints are expected; keep the run quiet. */
    fuzz_quiet_stderr();
    SDL_Surface *s = LoadBMP(path);
    if (s) {
        /* Touch every converted row as the mipmap builder would. */
        unsigned sum = 0;
        const unsigned char *p = (const unsigned char *)s->pixels;
        for (int r = 0; r < s->h; r++)
            for (int i = 0; i < 3 * s->w; i++)
                sum += p[(size_t)r * s->pitch + i];
        checksum = sum;
        SDL_FreeSurface(s);
    }
    close(fd);
    return 0;
}
