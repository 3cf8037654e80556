/* install_support.h -- for the install tests: shell commands with what
 * they print, the programs the build made, and the folders the fixtures
 * staged (stage.cmake). */
#pragma once

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace install_test {

const std::string TREE = STAGE_DIR "/tree/destdir/usr/local"; /* make install DESTDIR=... */
const std::string PREFIX = STAGE_DIR "/tree/prefix";          /* make install PREFIX=... */
const std::string PACKAGE_DIR = STAGE_DIR "/package";

struct Output {
    int status = -1; /* exit status, -1 when it did not exit */
    std::string out; /* standard output and error together */
};

/* Output a shell command line; its output and exit status. */
inline Output sh(const std::string &command)
{
    Output r;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

/* Single-quoted for the shell. */
inline std::string single_quoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

/* Names of the regular files in a folder, sorted; with `executable`, only
 * those that may be run. */
inline std::vector<std::string> files_in(const std::string &dir, bool executable = false)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string path = dir + "/" + e->d_name;
            struct stat st;
            if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                (!executable || (st.st_mode & S_IXUSR)))
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

/* Every program the build made (build/bin holds programs and textures). */
inline std::vector<std::string> built_programs()
{
    return files_in(HALL_BINARY_DIR "/bin", true);
}

/* Whether there is anything at path (a dangling link counts). */
inline bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

/* A fresh empty folder under /tmp. */
inline std::string temp_dir()
{
    char t[] = "/tmp/hall_installXXXXXX";
    return mkdtemp(t) ? std::string(t) : std::string();
}

} // namespace install_test
