/* web_show.cpp -- the light show's control socket as the web console
 * uses it (web_show.h).
 *
 * State: the link, the state heard and the page's pending request under
 * one lock, with an eventfd that wakes the frame loop. */
#include "hallweb/web_show.h"

#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>

#include "wire/control_link.h"

namespace {

/* Closed until opened (a turn before that does nothing). */
control_link show_link = [] {
    control_link l;
    control_link_init(&l, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    return l;
}();
int wake = -1;                      /* eventfd: a page left a request */
std::mutex request_lock;            /* what the pages' threads read or leave: */
web_show_state heard;               /* the newest answer, and reachable */
int wanted = -1;                    /* a show_command_kind to send, -1 none */

} // namespace

int web_show_open(const char *host, unsigned short port)
{
    control_link_init(&show_link, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    if (control_link_open(&show_link, host, port) != 0)
        return -1;
    wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        perror("hallweb: eventfd");
        web_show_close();
        return -1;
    }
    memset(&heard, 0, sizeof heard);
    return 0;
}

void web_show_close(void)
{
    control_link_close(&show_link);
    if (wake >= 0)
        close(wake);
    wake = -1;
}

int web_show_fd(void)
{
    return show_link.sock;
}

int web_show_wake_fd(void)
{
    return wake;
}

int web_show_turn(double now, double *wait)
{
    if (show_link.sock < 0)
        return 0;
    uint64_t woken;
    while (read(wake, &woken, sizeof woken) > 0) {
    }
    int changed = control_link_turn(&show_link, now);
    bool reachable = control_link_reachable(&show_link, now);
    int kind;
    {
        std::lock_guard<std::mutex> g(request_lock);
        if (changed) {
            /* An answer that cannot be read is as good as silence. */
            bool readable =
                show_parse_answer(show_link.answer, show_link.answer_len, &heard.heard) == 0;
            heard.reachable = reachable && readable;
        }
        kind = wanted;
        wanted = -1;
    }
    show_command c;
    memset(&c, 0, sizeof c);
    c.kind = (show_command_kind)kind;
    char datagram[SHOW_COMMAND_MAX + 1];
    int n = kind >= 0 && reachable ? show_format_command(datagram, sizeof datagram, &c) : -1;
    if (n > 0)
        control_link_send(&show_link, datagram, (size_t)n, now);
    double next = control_link_due(&show_link) - now;
    if (next < *wait)
        *wait = next;
    return changed;
}

void web_show_latest(web_show_state *out)
{
    std::lock_guard<std::mutex> g(request_lock);
    *out = heard;
}

int web_show_request(show_command_kind kind)
{
    std::lock_guard<std::mutex> g(request_lock);
    if (!heard.reachable)
        return -1;
    wanted = kind;
    uint64_t one = 1;
    if (write(wake, &one, sizeof one) < 0) {
        /* the counter is already set: the loop wakes all the same */
    }
    return 0;
}
