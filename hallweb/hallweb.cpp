/* hallweb.cpp -- the web console: light feeds live in any browser, and
 * the operator's controls of the box driver and the light show from a
 * phone.
 *
 * The main thread is the frame loop: it waits on the feeds' sockets and
 * the control sockets' links, takes the newest frame of each feed, hands
 * it to the pages at most 30 times a second, and sends everyone the feeds'
 * figures and the driver's and the show's state once a second and on
 * every change. CivetWeb's
 * threads serve the page and the WebSockets (web_server.cpp); each page
 * has a sender thread of its own (web_clients.cpp). The frame loop tells
 * the service manager that it is alive. */
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "hallweb/web_clients.h"
#include "hallweb/web_driver.h"
#include "hallweb/web_feeds.h"
#include "hallweb/web_guard.h"
#include "hallweb/web_options.h"
#include "hallweb/web_server.h"
#include "hallweb/web_show.h"
#include "hallweb/web_token.h"
#include "loop/loop.h"
#include "loop/loop_health.h"

namespace {

const double STATUS_SECONDS = 1.0;   /* between status messages */

web_options options;
web_server_setup setup;              /* kept by the server for its whole life */
char token[WEB_TOKEN_MAX + 1];
char status_text[WEB_STATUS_MAX];
web_feed_status figures[WEB_MAX_FEEDS];  /* the feeds' figures of the last second */

/* Who may use the controls, and a line saying so. */
web_controls decide_controls(const char **why)
{
    if (!options.has_driver && !options.has_show) {
        *why = "off (no --driver or --show)";
        return WEB_CONTROLS_OFF;
    }
    if (options.token_file) {
        *why = "for pages that give the token";
        return WEB_CONTROLS_TOKEN;
    }
    if (strcmp(options.listen_host, "127.0.0.1") == 0) {
        *why = "open to pages on this machine (127.0.0.1)";
        return WEB_CONTROLS_OPEN;
    }
    *why = "off: give --token-file to offer them on another address than 127.0.0.1";
    return WEB_CONTROLS_OFF;
}

/* The status to every page: the feeds' figures, worked out afresh once a
 * second (a status sent in between for the driver's sake repeats them,
 * so that the frames a second always count over a whole second). */
void send_status(double now, bool new_second)
{
    web_driver_state driver;
    web_show_state show;
    if (new_second)
        web_feeds_status(now, figures);
    web_driver_latest(&driver);
    web_show_latest(&show);
    int n = web_message_status(status_text, sizeof status_text, figures, options.num_feeds,
                               options.has_driver ? &driver : nullptr,
                               options.has_show ? &show : nullptr);
    if (n > 0)
        web_clients_post_status(status_text, (size_t)n);
}

/* The one-line state for the service manager: pages, feeds, driver. */
const char *describe_health(char *buf, size_t size)
{
    int live = 0;
    for (int i = 0; i < options.num_feeds; i++)
        live += figures[i].live != 0;
    web_driver_state driver;
    web_driver_latest(&driver);
    snprintf(buf, size, "%d pages; %d of %d feeds live%s", web_clients_count(), live,
             options.num_feeds,
             !options.has_driver ? ""
             : driver.reachable  ? "; box driver answering"
                                 : "; box driver not answering");
    return buf;
}

/* The stop signals are the frame loop's: held back while the server's
 * threads start, those threads never take them (and never see a call cut
 * short by one). */
void hold_stop_signals(int how)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(how, &stops, nullptr);
}

/* Everything before the frame loop: the token, the feeds, the driver's
 * socket and the server, then a line on each. 0, or the exit status. */
int start_console()
{
    char err[300];
    if (options.token_file && web_token_load(options.token_file, token, err, sizeof err) != 0) {
        fprintf(stderr, "hallweb: %s\n", err);
        return 1;
    }
    const char *controls_why;
    setup = {&options, decide_controls(&controls_why), token};

    loop_catch_signals(LOOP_HUP);
    hold_stop_signals(SIG_BLOCK);
    if (web_feeds_open(&options) != 0)
        return 1;
    if (options.has_driver && web_driver_open(options.driver_host, options.driver_port) != 0)
        return 1;
    if (options.has_show && web_show_open(options.show_host, options.show_port) != 0)
        return 1;
    int port = web_server_start(&setup, err, sizeof err);
    if (port < 0) {
        fprintf(stderr, "%s\n", err);
        return 1;
    }
    hold_stop_signals(SIG_UNBLOCK);
    for (int i = 0; i < options.num_feeds; i++)
        printf("hallweb: feed %d \"%s\" from %s:%u\n", i, options.feeds[i].name,
               options.feeds[i].host, options.feeds[i].port);
    if (options.has_driver)
        printf("hallweb: box driver at %s:%u\n", options.driver_host, options.driver_port);
    if (options.has_show)
        printf("hallweb: light show at %s:%u\n", options.show_host, options.show_port);
    printf("hallweb: controls %s\n", controls_why);
    printf("hallweb: serving http://%s:%d/\n", options.listen_host, port);
    loop_health_ready(describe_health(status_text, sizeof status_text));
    return 0;
}

/* The frame loop, until a stop signal: it wakes the wait through the
 * floor's descriptor, the last one polled. */
void run_loop()
{
    struct pollfd fds[WEB_MAX_FEEDS + 5];
    double next_status = loop_now() + STATUS_SECONDS;
    double wait = 0;
    while (!loop_stop_signal()) {
        int n = web_feeds_pollfds(fds);
        if (options.has_driver) {
            fds[n] = {web_driver_fd(), POLLIN, 0};
            fds[n + 1] = {web_driver_wake_fd(), POLLIN, 0};
            n += 2;
        }
        if (options.has_show) {
            fds[n] = {web_show_fd(), POLLIN, 0};
            fds[n + 1] = {web_show_wake_fd(), POLLIN, 0};
            n += 2;
        }
        fds[n] = {loop_signal_fd(), POLLIN, 0};
        double now = loop_now();
        if (next_status - now < wait)
            wait = next_status - now;
        if (wait < 0)
            wait = 0;
        struct timespec ts = {(time_t)wait, (long)((wait - (time_t)wait) * 1e9)};
        if (ppoll(fds, (nfds_t)n + 1, &ts, nullptr) < 0)
            for (int i = 0; i < n; i++)
                fds[i].revents = 0;   /* another signal: nothing is ready */
        now = loop_now();
        wait = web_feeds_turn(fds, now);
        bool changed = web_driver_turn(now, &wait) != 0;
        changed = web_show_turn(now, &wait) != 0 || changed;
        bool new_second = now >= next_status;
        if (changed || new_second)
            send_status(now, new_second);
        if (new_second) {
            web_guard_tick(now);
            next_status = now + STATUS_SECONDS;
        }
        if (loop_health_due(now)) {
            char health[256];
            loop_health_alive(describe_health(health, sizeof health));
        }
    }
}

void stop_console()
{
    printf("hallweb: stopping\n");
    web_server_stop();
    web_driver_close();
    web_show_close();
    web_feeds_close();
}

} // namespace

int main(int argc, char **argv)
{
    char err[300];
    int settled = cli_settle(&web_cli, web_parse_options(argc, argv, &options, err, sizeof err),
                             err);
    if (settled != CLI_GO_ON)
        return settled;
    int failed = start_console();
    if (failed)
        return failed;
    run_loop();
    stop_console();
    return 0;
}
