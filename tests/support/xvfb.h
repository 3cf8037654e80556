/* xvfb.h -- a private X server for a test. Xvfb picks a free display
 * itself (-displayfd), so parallel tests never race for a number. */
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testing_xvfb {

struct Server {
    pid_t pid = -1;
    std::string display;  /* ":N", also put into DISPLAY */
};

/* Start Xvfb (640x480x24 by default, GLX on) and set DISPLAY; an empty
 * display string when it did not come up within 10 s. */
inline Server start(const char *screen = "640x480x24")
{
    Server s;
    int fds[2];
    if (pipe(fds) != 0)
        return s;
    s.pid = fork();
    if (s.pid == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen,
               "+extension", "GLX", "-nolisten", "tcp", "-noreset", (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string num;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        num += c;
    close(fds[0]);
    if (!num.empty()) {
        s.display = ":" + num;
        setenv("DISPLAY", s.display.c_str(), 1);
    }
    return s;
}

inline void stop(Server &s)
{
    if (s.pid > 0) {
        kill(s.pid, SIGTERM);
        waitpid(s.pid, nullptr, 0);
        s.pid = -1;
    }
}

} // namespace testing_xvfb
