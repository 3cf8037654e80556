/* private_display.cpp -- Xvfb for glimhost --headless, started only when
 * no display answers. State: the server's process id. */
#include "host/private_display.h"

#include <X11/Xlib.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int START_TIMEOUT_MS = 10000;

pid_t server = -1; /* the Xvfb started here, or -1 */

bool display_answers()
{
    const char *name = getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display *d = XOpenDisplay(name);
    if (!d)
        return false;
    XCloseDisplay(d);
    return true;
}

/* In the child: become Xvfb, writing the display number to fd. */
[[noreturn]] void run_server(int fd, pid_t parent)
{
    /* End with glimhost even when it is killed outright. */
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    /* Nothing of glimhost's but the pipe (sockets, the sound server's). */
    if (fd > 3)
        close_range(3, fd - 1, 0);
    close_range(fd + 1, ~0U, 0);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2); /* its warnings mean nothing to the journal */
    }
    char fd_text[16];
    snprintf(fd_text, sizeof fd_text, "%d", fd);
    execlp("Xvfb", "Xvfb", "-displayfd", fd_text, "-screen", "0", "640x480x24",
           "-nolisten", "tcp", "-noreset", (char *)nullptr);
    _exit(127);
}

/* The display number Xvfb writes, or an empty string when none came in time. */
void read_number(int fd, char *number, size_t len)
{
    size_t used = 0;
    pollfd p = {fd, POLLIN, 0};
    char c;
    while (used + 1 < len && poll(&p, 1, START_TIMEOUT_MS) > 0 && read(fd, &c, 1) == 1 &&
           c >= '0' && c <= '9')
        number[used++] = c;
    number[used] = '\0';
}

} // namespace

extern "C" {

int private_display_ensure(char *err, size_t err_len)
{
    if (display_answers())
        return 0;
    int fds[2];
    if (pipe(fds) != 0) {
        snprintf(err, err_len, "pipe: %s", strerror(errno));
        return -1;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        snprintf(err, err_len, "fork: %s", strerror(errno));
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        close(fds[0]);
        run_server(fds[1], parent);
    }
    close(fds[1]);
    char number[16];
    read_number(fds[0], number, sizeof number);
    close(fds[0]);
    if (!number[0]) {
        int status = 0;
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            snprintf(err, err_len, "no X display, and Xvfb cannot be run for a private one "
                                   "(the xvfb package)");
        else
            snprintf(err, err_len, "no X display, and Xvfb did not start a private one");
        return -1;
    }
    server = pid;
    atexit(private_display_stop);
    char display[32];
    snprintf(display, sizeof display, ":%s", number);
    setenv("DISPLAY", display, 1);
    printf("glimhost: no X display; the preview window goes to a private one, %s (Xvfb)\n",
           display);
    return 0;
}

void private_display_stop(void)
{
    if (server <= 0)
        return;
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    server = -1;
}

} // extern "C"
