/* web_driver.cpp -- the box driver's control socket as the web console
 * uses it (web_driver.h).
 *
 * State: the socket (connected, so only the driver's answers come in),
 * the newest state heard, the keys in flight, and the pages' pending
 * requests under one lock with an eventfd that wakes the frame loop. */
#include "hallweb/web_driver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "wire/control.h"

namespace {

/* A request is worked out only once every datagram up to the keys of
 * the one before has been answered, so that a level is never computed
 * from a state those keys are still changing; after this long without
 * them (a datagram can be lost) the rest are given up on. */
const double IN_FLIGHT_SECONDS = 0.5;

int sock = -1;
int wake = -1;                      /* eventfd: a page left a request */
double asked_at = -1e9;             /* when "?" last went */
double answered_at = -1e9;          /* when the newest answer came */
long sent = 0;                      /* datagrams sent */
long answered = 0;                  /* answers taken */
long keys_upto = 0;                 /* `sent` just after the newest keys */
double keys_at = -1e9;              /* when the newest keys went */
std::mutex request_lock;            /* what the pages' threads read or leave: */
web_driver_state heard;             /* the newest answer (reachable 1) */
bool was_reachable = false;         /* as the pages last saw it */
int want_feed = -1;                 /* feed key to send, -1 none */
int want_level = -1;                /* level to reach, -1 none */

void send_key(char key, double now)
{
    if (send(sock, &key, 1, 0) == 1) {
        sent++;
        if (key != CONTROL_KEY_ASK) {
            keys_upto = sent;
            keys_at = now;
        }
    } else if (errno != EAGAIN && errno != ECONNREFUSED) {
        perror("hallweb: send to the box driver");
    }
}

/* Take every answer waiting; 1 when the state changed. */
int read_answers(double now)
{
    int changed = 0;
    char line[CONTROL_ANSWER_MAX + 1];
    for (;;) {
        ssize_t n = recv(sock, line, sizeof line, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;                   /* EAGAIN, or refused while the driver is down */
        web_driver_state s;
        if (web_driver_parse(line, (size_t)n, &s) != 0)
            continue;
        answered++;
        answered_at = now;
        std::lock_guard<std::mutex> g(request_lock);
        if (memcmp(&s, &heard, sizeof s) != 0)
            changed = 1;
        heard = s;
    }
    return changed;
}

/* Send what the pages asked for, once the keys before it are answered. */
void send_requests(double now)
{
    if (answered < keys_upto && now - keys_at < IN_FLIGHT_SECONDS)
        return;
    if (answered < keys_upto)
        answered = keys_upto;
    int feed, level;
    {
        std::lock_guard<std::mutex> g(request_lock);
        feed = want_feed;
        level = want_level;
        want_feed = want_level = -1;
    }
    if (feed >= 0)
        send_key((char)('0' + feed), now);
    if (level >= 0) {
        int steps = (level - heard.level) / CONTROL_LEVEL_STEP;
        for (; steps > 0; steps--)
            send_key(CONTROL_KEY_UP, now);
        for (; steps < 0; steps++)
            send_key(CONTROL_KEY_DOWN, now);
    }
}

} // namespace

int web_driver_open(const char *host, unsigned short port)
{
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, host, &to.sin_addr) != 1) {
        fprintf(stderr, "hallweb: bad box driver address %s\n", host);
        return -1;
    }
    sock = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        perror("hallweb: socket for the box driver");
        return -1;
    }
    if (connect(sock, (sockaddr *)&to, sizeof to) < 0) {
        fprintf(stderr, "hallweb: connect(%s:%u): %s\n", host, port, strerror(errno));
        web_driver_close();
        return -1;
    }
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
    if (sock >= 0)
        close(sock);
    if (wake >= 0)
        close(wake);
    sock = wake = -1;
}

int web_driver_fd(void)
{
    return sock;
}

int web_driver_wake_fd(void)
{
    return wake;
}

int web_driver_turn(double now, double *wait)
{
    if (sock < 0)
        return 0;
    uint64_t woken;
    while (read(wake, &woken, sizeof woken) > 0) {
    }
    int changed = read_answers(now);
    bool reachable = now - answered_at < WEB_DRIVER_LOST_SECONDS;
    if (reachable != was_reachable) {
        std::lock_guard<std::mutex> g(request_lock);
        was_reachable = reachable;
        changed = 1;
    }
    if (reachable)
        send_requests(now);
    if (now - asked_at >= WEB_DRIVER_ASK_SECONDS) {
        send_key(CONTROL_KEY_ASK, now);
        asked_at = now;
    }
    double next = asked_at + WEB_DRIVER_ASK_SECONDS - now;
    if (next < *wait)
        *wait = next;
    return changed;
}

void web_driver_latest(web_driver_state *out)
{
    std::lock_guard<std::mutex> g(request_lock);
    *out = heard;
    out->reachable = was_reachable;
}

int web_driver_request_feed(int feed)
{
    std::lock_guard<std::mutex> g(request_lock);
    if (!was_reachable || feed < 0 || feed >= heard.num_feeds)
        return -1;
    want_feed = feed;
    uint64_t one = 1;
    if (write(wake, &one, sizeof one) < 0) {
        /* the counter is already set: the loop wakes all the same */
    }
    return 0;
}

int web_driver_request_level(int level)
{
    std::lock_guard<std::mutex> g(request_lock);
    if (!was_reachable || level < 0 || level > CONTROL_LEVEL_MAX)
        return -1;
    want_level = level;
    uint64_t one = 1;
    if (write(wake, &one, sizeof one) < 0) {
        /* as above */
    }
    return 0;
}
