/* web_driver.cpp -- the box driver's control socket as the web console
 * uses it (web_driver.h).
 *
 * State: the link (its record keeps the socket, the newest answer and the
 * keys in flight), the state heard and the pages' pending requests under
 * one lock, with an eventfd that wakes the frame loop. */
#include "hallweb/web_driver.h"

#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>

#include "wire/control_link.h"

namespace {

/* Closed until opened (a turn before that does nothing). */
control_link driver_link = [] {
    control_link l;
    control_link_init(&l, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    return l;
}();
int wake = -1;                      /* eventfd: a page left a request */
std::mutex request_lock;            /* what the pages' threads read or leave: */
web_driver_state heard;             /* the newest answer, and reachable */
int want_feed = -1;                 /* feed key to send, -1 none */
int want_level = -1;                /* level to reach, -1 none */

/* Send what the pages asked for, once the keys before it are answered:
 * a level is never worked out from a state those keys are still
 * changing. */
void send_requests(double now)
{
    if (!control_link_settled(&driver_link, now))
        return;
    int feed, level, from;
    {
        std::lock_guard<std::mutex> g(request_lock);
        feed = want_feed;
        level = want_level;
        from = heard.heard.level;
        want_feed = want_level = -1;
    }
    if (feed >= 0) {
        char key = (char)('0' + feed);
        control_link_send(&driver_link, &key, 1, now);
    }
    char keys[CONTROL_LEVEL_MAX / CONTROL_LEVEL_STEP + 1];
    int n = level >= 0 ? control_level_keys(from, level, keys, sizeof keys) : 0;
    for (int i = 0; i < n; i++)
        control_link_send(&driver_link, &keys[i], 1, now);
}

void wake_loop()
{
    uint64_t one = 1;
    if (write(wake, &one, sizeof one) < 0) {
        /* the counter is already set: the loop wakes all the same */
    }
}

} // namespace

int web_driver_open(const char *host, unsigned short port)
{
    control_link_init(&driver_link, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    if (control_link_open(&driver_link, host, port) != 0)
        return -1;
    wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        perror("hallweb: eventfd");
        web_driver_close();
        return -1;
    }
    memset(&heard, 0, sizeof heard);
    return 0;
}

void web_driver_close(void)
{
    control_link_close(&driver_link);
    if (wake >= 0)
        close(wake);
    wake = -1;
}

int web_driver_fd(void)
{
    return driver_link.sock;
}

int web_driver_wake_fd(void)
{
    return wake;
}

int web_driver_turn(double now, double *wait)
{
    if (driver_link.sock < 0)
        return 0;
    uint64_t woken;
    while (read(wake, &woken, sizeof woken) > 0) {
    }
    int changed = control_link_turn(&driver_link, now);
    bool reachable = control_link_reachable(&driver_link, now);
    if (changed) {
        /* An answer that cannot be read leaves the driver as unreachable
         * as silence does. */
        control_answer a;
        bool readable = control_parse_answer(driver_link.answer, driver_link.answer_len, &a) == 0;
        std::lock_guard<std::mutex> g(request_lock);
        if (readable)
            heard.heard = a;
        heard.reachable = reachable && readable;
    }
    if (reachable)
        send_requests(now);
    double next = control_link_due(&driver_link) - now;
    if (next < *wait)
        *wait = next;
    return changed;
}

void web_driver_latest(web_driver_state *out)
{
    std::lock_guard<std::mutex> g(request_lock);
    *out = heard;
}

int web_driver_request_feed(int feed)
{
    std::lock_guard<std::mutex> g(request_lock);
    if (!heard.reachable || feed < 0 || feed >= heard.heard.num_feeds)
        return -1;
    want_feed = feed;
    wake_loop();
    return 0;
}

int web_driver_request_level(int level)
{
    std::lock_guard<std::mutex> g(request_lock);
    if (!heard.reachable || level < 0 || level > CONTROL_LEVEL_MAX)
        return -1;
    want_level = level;
    wake_loop();
    return 0;
}
