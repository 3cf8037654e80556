/* installdirs.cpp -- paths of installed files, from the folder of the
 * running program. No state. */
#include "installdirs/installdirs.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern "C" {

const char *installdirs_beside_program(char *buf, size_t len, const char *relative)
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        snprintf(buf, len, "%s", relative);
        return buf;
    }
    exe[n] = '\0';
    char *slash = strrchr(exe, '/');
    if (slash)
        *slash = '\0';
    snprintf(buf, len, "%s/%s", exe, relative);
    return buf;
}

const char *installdirs_plugin(char *buf, size_t len, const char *name)
{
    char relative[PATH_MAX];
    snprintf(relative, sizeof relative, "%s/%s", HALL_PLUGINDIR_FROM_BIN, name);
    return installdirs_beside_program(buf, len, relative);
}

const char *installdirs_data(char *buf, size_t len, const char *name)
{
    char relative[PATH_MAX];
    snprintf(relative, sizeof relative, "%s/%s", HALL_DATADIR_FROM_BIN, name);
    return installdirs_beside_program(buf, len, relative);
}

} // extern "C"
