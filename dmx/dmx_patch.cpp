/* dmx_patch.cpp -- start addresses, patch files and the frame-to-slots
 * step of dmxout. See dmx_patch.h. */
#include "dmx/dmx_patch.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t MAX_FILE = 64 * 1024; /* a patch is 60 numbers; this is plenty */

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
           c == ',';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/* The word at text[at..] up to the next separator or comment, for a
 * refusal, cut to fit and with unprintable bytes shown as '?'. */
void quote_word(const char *text, size_t len, size_t at, char *out, size_t outlen)
{
    size_t n = 0;
    for (; at < len && !is_space(text[at]) && text[at] != '#' && n + 1 < outlen; at++, n++) {
        unsigned char c = (unsigned char)text[at];
        out[n] = c >= 0x20 && c < 0x7f ? (char)c : '?';
    }
    out[n] = '\0';
}

} // namespace

extern "C" {

int dmx_patch_from_start(struct dmx_patch *p, long start, char *err, size_t errlen)
{
    if (start < 1 || start > DMX_LAST_START) {
        snprintf(err, errlen,
                 "start address %ld leaves no room for 60 channels (DMX has 512 slots: "
                 "1..%d)",
                 start, DMX_LAST_START);
        return -1;
    }
    for (int i = 0; i < LIGHT_CHANNELS; i++)
        p->address[i] = (int)start + i;
    p->slots = (int)start + LIGHT_CHANNELS - 1;
    return 0;
}

int dmx_patch_parse(struct dmx_patch *p, const char *text, size_t len, const char *name,
                    char *err, size_t errlen)
{
    struct dmx_patch got;
    int count = 0;
    int line = 1;
    got.slots = 0;
    size_t at = 0;
    while (at < len) {
        char c = text[at];
        if (c == '\n') {
            line++;
            at++;
        } else if (is_space(c)) {
            at++;
        } else if (c == '#') {
            while (at < len && text[at] != '\n')
                at++;
        } else {
            /* a number: digits only, up to the next separator or comment */
            size_t start = at;
            long v = 0;
            bool ok = true;
            for (; at < len && !is_space(text[at]) && text[at] != '#'; at++) {
                if (!is_digit(text[at]) || v > DMX_SLOTS)
                    ok = false;
                else
                    v = v * 10 + (text[at] - '0');
            }
            if (!ok || v > DMX_SLOTS) {
                char word[24];
                quote_word(text, len, start, word, sizeof word);
                snprintf(err, errlen,
                         "%s:%d: \"%s\" is not a DMX address (a whole number 1..512, or 0 to "
                         "leave the channel out)",
                         name, line, word);
                return -1;
            }
            if (count == LIGHT_CHANNELS) {
                snprintf(err, errlen,
                         "%s:%d: more than 60 addresses (one for each channel of the frame)",
                         name, line);
                return -1;
            }
            got.address[count++] = (int)v;
            if (v > got.slots)
                got.slots = (int)v;
        }
    }
    if (count < LIGHT_CHANNELS) {
        snprintf(err, errlen,
                 "%s:%d: %d addresses; a patch gives each of the 60 channels one (0 leaves "
                 "it out)",
                 name, line, count);
        return -1;
    }
    if (got.slots == 0) {
        snprintf(err, errlen, "%s:%d: every channel is left out (all 60 addresses are 0)", name,
                 line);
        return -1;
    }
    *p = got;
    return 0;
}

int dmx_patch_load(struct dmx_patch *p, const char *path, char *err, size_t errlen)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        snprintf(err, errlen, "cannot open patch file %s: %s", path, strerror(errno));
        return -1;
    }
    static char text[MAX_FILE + 1];
    size_t len = fread(text, 1, sizeof text, f);
    bool failed = ferror(f);
    int saved = errno;
    fclose(f);
    if (failed) {
        snprintf(err, errlen, "cannot read patch file %s: %s", path, strerror(saved));
        return -1;
    }
    if (len > MAX_FILE) {
        snprintf(err, errlen, "patch file %s is larger than %zu KiB; a patch is 60 numbers",
                 path, MAX_FILE / 1024);
        return -1;
    }
    return dmx_patch_parse(p, text, len, path, err, errlen);
}

void dmx_patch_apply(const struct dmx_patch *p, const int values[LIGHT_CHANNELS], int level,
                     unsigned char slots[DMX_SLOTS])
{
    memset(slots, 0, DMX_SLOTS);
    for (int i = 0; i < LIGHT_CHANNELS; i++) {
        int a = p->address[i];
        if (a < 1 || a > DMX_SLOTS)
            continue;
        int v = values[i] < 0 ? 0 : values[i] > 255 ? 255 : values[i];
        v = v * level / 256;
        if (v > slots[a - 1])
            slots[a - 1] = (unsigned char)v;
    }
}

} // extern "C"
