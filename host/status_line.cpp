/* status_line.cpp -- see status_line.h. The pipe's writing end does not
 * block: a rendering thread that prints while the main loop is stuck
 * loses its words rather than its frames. */
#include "host/status_line.h"

#include <fcntl.h>
#include <glib.h>
#include <glib-unix.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

bool shown = false;
int terminal_out = -1;          /* standard output as it was, while piped */
int pipe_in = -1;
guint watch = 0;
char text_now[512];
char pending[4096];             /* the start of a line not yet ended */
size_t pending_len = 0;

void put(int fd, const char *s, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, s, n);
        if (w <= 0)
            return;
        s += w;
        n -= (size_t)w;
    }
}

/* Lines read from the pipe go above the status line. */
void take_output(bool all)
{
    char *start = pending;
    char *end = pending + pending_len;
    bool wrote = false;
    for (char *nl; (nl = (char *)memchr(start, '\n', (size_t)(end - start))) != nullptr;
         start = nl + 1) {
        put(terminal_out, "\r\033[K", 4);
        put(terminal_out, start, (size_t)(nl + 1 - start));
        wrote = true;
    }
    size_t left = (size_t)(end - start);
    if (left > 0 && (all || left == sizeof pending)) {
        put(terminal_out, "\r\033[K", 4);
        put(terminal_out, start, left);
        put(terminal_out, "\n", 1);
        left = 0;
        wrote = true;
    }
    memmove(pending, end - left, left);
    pending_len = left;
    if (wrote && !all && text_now[0])
        fprintf(stderr, "\r%s", text_now);
}

gboolean on_output(gint fd, GIOCondition, gpointer)
{
    ssize_t n = read(fd, pending + pending_len, sizeof pending - pending_len);
    if (n <= 0) {
        watch = 0;
        return G_SOURCE_REMOVE;
    }
    pending_len += (size_t)n;
    take_output(false);
    return G_SOURCE_CONTINUE;
}

} // namespace

int status_line_start(void)
{
    if (!isatty(2))
        return 0;
    shown = true;
    int fds[2];
    if (!isatty(1) || pipe2(fds, O_CLOEXEC) != 0)
        return 1;
    fflush(stdout);
    terminal_out = fcntl(1, F_DUPFD_CLOEXEC, 3);
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    if (terminal_out < 0 || dup2(fds[1], 1) < 0) {
        close(fds[0]);
        close(fds[1]);
        if (terminal_out >= 0)
            close(terminal_out);
        terminal_out = -1;
        return 1;
    }
    close(fds[1]);
    pipe_in = fds[0];
    watch = g_unix_fd_add(pipe_in, G_IO_IN, on_output, nullptr);
    return 1;
}

void status_line_show(const char *text)
{
    snprintf(text_now, sizeof text_now, "%s", text);
    fprintf(stderr, "\r\033[K%s", text_now);
}

void status_line_end(void)
{
    if (!shown)
        return;
    shown = false;
    if (terminal_out >= 0) {
        fflush(stdout);
        if (watch)
            g_source_remove(watch);
        watch = 0;
        dup2(terminal_out, 1);
        ssize_t n;
        while ((n = read(pipe_in, pending + pending_len, sizeof pending - pending_len)) > 0) {
            pending_len += (size_t)n;
            take_output(false);
        }
        take_output(true);
        close(pipe_in);
        close(terminal_out);
        pipe_in = terminal_out = -1;
    }
    fputc('\n', stderr);
}
