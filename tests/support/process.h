/* process.h -- run a program of ours from a test: start it with its
 * standard output and error going to files, wait for it with a deadline,
 * read what it printed. */
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_process {

struct Child {
    pid_t pid = -1;
    std::string out_path, err_path;
    int status = -1;      /* wait status once reaped */
    bool reaped = false;  /* wait_for saw it end */
};

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/* The output files of every child this test process started, removed
 * when it ends (a test reads them until then). */
inline std::vector<std::string> &output_files()
{
    static std::vector<std::string> files;
    static bool cleaned = (atexit([] {
                               for (auto &f : output_files())
                                   unlink(f.c_str());
                           }),
                           true);
    (void)cleaned;
    return files;
}

/* Start argv[0] with the given arguments; stdin from /dev/null unless
 * stdin_fd >= 0. Output goes to temporary files. */
inline Child start(const std::vector<std::string> &argv, int stdin_fd = -1,
                   const char *workdir = nullptr)
{
    Child c;
    char out_t[] = "/tmp/hallproc_outXXXXXX", err_t[] = "/tmp/hallproc_errXXXXXX";
    int out = mkstemp(out_t), err = mkstemp(err_t);
    c.out_path = out_t;
    c.err_path = err_t;
    output_files().push_back(c.out_path);
    output_files().push_back(c.err_path);
    c.pid = fork();
    if (c.pid == 0) {
        int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (workdir && chdir(workdir) != 0)
            _exit(126);
        std::vector<char *> args;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out);
    close(err);
    return c;
}

/* Wait up to timeout_ms; true when it ended (status in c.status). */
inline bool wait_for(Child &c, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        pid_t r = waitpid(c.pid, &c.status, WNOHANG);
        if (r == c.pid) {
            c.reaped = true;
            return true;
        }
        usleep(10000);
    }
    return false;
}

/* Send a signal and reap it (SIGKILL after 2 s if it lingers). */
inline void stop(Child &c, int sig = SIGTERM)
{
    if (c.pid <= 0 || c.reaped)
        return;
    kill(c.pid, sig);
    if (!wait_for(c, 2000)) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, &c.status, 0);
    }
    c.pid = -1;
}

inline std::string out(const Child &c) { return read_file(c.out_path); }
inline std::string err(const Child &c) { return read_file(c.err_path); }

/* Wait up to timeout_ms until the child's standard output (or error, with
 * from_stderr) holds `text`; true when it does. */
inline bool wait_for_output(const Child &c, const std::string &text, int timeout_ms,
                            bool from_stderr = false)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        if ((from_stderr ? err(c) : out(c)).find(text) != std::string::npos)
            return true;
        usleep(10000);
    }
    return false;
}

inline int exit_code(const Child &c)
{
    return WIFEXITED(c.status) ? WEXITSTATUS(c.status) : -1;
}

} // namespace testing_process
