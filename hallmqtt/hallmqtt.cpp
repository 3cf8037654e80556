/* hallmqtt.cpp -- the MQTT bridge: the box driver's lamps and the light
 * show in a home-automation hub (Home Assistant's discovery).
 *
 * One thread and one poll loop: the broker's socket, the control sockets
 * of the driver and the show, and the stop signal; every wait ends at the
 * next question to a control socket, the broker's housekeeping or the
 * state's refresh. Commands from the hub become the driver's keys or the
 * show's commands at once; the newest command wins, and level keys are
 * worked out only from an answer that shows the keys before them. State:
 * the options and topics, and one record per control socket below. */
#include <poll.h>
#include <stdio.h>
#include <string.h>

#include "cli/cli.h"
#include "hallmqtt/mqtt_broker.h"
#include "hallmqtt/mqtt_home.h"
#include "hallmqtt/mqtt_options.h"
#include "loop/loop.h"
#include "loop/loop_health.h"
#include "wire/control_link.h"
#include "wire/feeds.h"

namespace {

const double REFRESH_SECONDS = 30.0;   /* state published again at least this often */
const double REFUSALS_SECONDS = 1.0;   /* refused commands: one line a second at most */

/* What a control socket last said, as published. */
struct side {
    const char *what;                  /* "the box driver", for messages */
    control_link link;
    int said;                          /* -1 nothing yet, 1 "answers", 0 "does not" */
    int unreadable_said;               /* an unreadable answer was reported */
    char state[HOME_PAYLOAD_MAX];      /* the state message last made */
    char names[HOME_PAYLOAD_MAX];      /* the names last put in its discovery */
};

mqtt_options options;
home_topics topics;
char password[MQTT_PASSWORD_MAX + 1];
double started_at;
loop_every refresh;

side driver = {"the box driver", {}, -1, 0, "", ""};
control_answer heard;                  /* the driver's newest answer */
int heard_known = 0;
int want_level = -1;                   /* the level to reach, -1 none */
int want_feed = -1;                    /* the feed to pick, -1 none */
int restore_level = CONTROL_LEVEL_MAX; /* what "ON" brings back after "OFF" */

side show = {"the light show", {}, -1, 0, "", ""};
show_answer seen;                      /* the show's newest answer */
int seen_known = 0;

double refused_at = -1e9;              /* when a refusal was last said */
int refused_since = 0;                 /* refusals not said since */

void publish(const char *topic, const char *payload)
{
    broker_publish(topic, payload, strlen(payload), 1);
}

/* A command that changes nothing: said once, at most a line a second. */
void refuse(const char *topic, const char *why)
{
    double now = loop_now();
    if (now - refused_at < REFUSALS_SECONDS) {
        refused_since++;
        return;
    }
    if (refused_since)
        fprintf(stderr, "hallmqtt: %s: %s; nothing changed (and %d more refused before it)\n",
                topic, why, refused_since);
    else
        fprintf(stderr, "hallmqtt: %s: %s; nothing changed\n", topic, why);
    refused_at = now;
    refused_since = 0;
}

bool wanted(home_entity e)
{
    return home_of_driver(e) ? options.has_driver : options.has_show;
}

/* The names an entity's discovery lists: the feeds as the driver told
 * them (its built-in ones until it has answered), the show's patterns. */
int names_of(home_entity e, const char **names)
{
    int n = 0;
    if (e == HOME_LAMPS && heard_known)
        for (; n < heard.num_feeds; n++)
            names[n] = heard.names[n];
    else if (e == HOME_LAMPS)
        for (; n < WIRE_BUILTIN_FEEDS; n++)
            names[n] = wire_builtin_feeds[n].name;
    else if (e == HOME_PATTERN && seen_known)
        for (; n < seen.num_patterns; n++)
            names[n] = seen.patterns[n];
    return n;
}

void publish_config(home_entity e)
{
    static char topic[HOME_TOPIC_MAX], config[HOME_PAYLOAD_MAX];
    const char *names[SHOW_MAX_PATTERNS];
    if (home_config_topic(&topics, e, topic, sizeof topic) < 0)
        return;
    /* An entity of a program not bridged now is taken away, in case an
     * earlier run left it. */
    if (!wanted(e))
        config[0] = '\0';
    else if (home_config(&topics, e, names, names_of(e, names), config, sizeof config) < 0)
        return;
    publish(topic, config);
}

/* The names an entity offers (the driver's feeds, the show's patterns):
 * its discovery is sent again when they change. */
template <size_t N>
void follow_names(side *d, const char (*names)[N], int count, home_entity e)
{
    char joined[HOME_PAYLOAD_MAX] = "";
    for (int i = 0; i < count; i++)
        snprintf(joined + strlen(joined), sizeof joined - strlen(joined), "%s\n", names[i]);
    if (strcmp(joined, d->names) != 0) {
        snprintf(d->names, sizeof d->names, "%s", joined);
        publish_config(e);
    }
}

void publish_discovery()
{
    for (int e = 0; e < HOME_ENTITIES; e++)
        publish_config((home_entity)e);
}

/* A side's availability and state, as they are now. */
void publish_side(side *s, const char *status_topic, const char *state_topic)
{
    if (!(s == &driver ? options.has_driver : options.has_show))
        return;
    publish(status_topic, s->said == 1 ? BROKER_ONLINE : BROKER_OFFLINE);
    if (s->state[0])
        publish(state_topic, s->state);
}

void publish_everything()
{
    publish(topics.status, BROKER_ONLINE);
    publish_discovery();
    publish_side(&driver, topics.driver_status, topics.light_state);
    publish_side(&show, topics.show_status, topics.show_state);
}

void on_connected()
{
    broker_subscribe(topics.hub_status);
    if (options.has_driver)
        broker_subscribe(topics.light_set);
    const char *show_commands[] = {topics.pattern_set, topics.delay_set, topics.next_set};
    for (const char *topic : show_commands)
        if (options.has_show)
            broker_subscribe(topic);
    publish_everything();
}

/* The driver's keys for what the hub wants, once the keys before them
 * have been answered. */
void steer_driver(double now)
{
    if ((want_level < 0 && want_feed < 0) || !control_link_reachable(&driver.link, now) ||
        !control_link_settled(&driver.link, now))
        return;
    if (want_feed >= 0 && want_feed != heard.feed) {
        char key = (char)('0' + want_feed);
        control_link_send(&driver.link, &key, 1, now);
    }
    char keys[CONTROL_LEVEL_MAX / CONTROL_LEVEL_STEP + 1];
    int n = want_level >= 0 ? control_level_keys(heard.level, want_level, keys, sizeof keys) : 0;
    for (int i = 0; i < n; i++)
        control_link_send(&driver.link, &keys[i], 1, now);
    want_level = want_feed = -1;
}

void light_command(const char *payload, size_t len)
{
    home_light_command c;
    char why[200];
    double now = loop_now();
    if (home_parse_light(payload, len, &heard, &c, why, sizeof why) != 0) {
        refuse(topics.light_set, why);
        return;
    }
    if (!heard_known || !control_link_reachable(&driver.link, now)) {
        refuse(topics.light_set, "the box driver does not answer");
        return;
    }
    int target = want_level >= 0 ? want_level : heard.level;
    if (!c.on)
        want_level = 0;
    else if (c.brightness >= 0)
        want_level = home_level_of(c.brightness);
    else if (target == 0)
        want_level = restore_level;
    if (want_level > 0)
        restore_level = want_level;
    if (c.on && c.feed >= 0)
        want_feed = c.feed;
    steer_driver(now);
}

void show_request(const char *topic, const char *payload, size_t len)
{
    show_command command;
    char why[200];
    int r = -1;
    if (strcmp(topic, topics.pattern_set) == 0)
        r = home_parse_pattern(payload, len, &seen, &command, why, sizeof why);
    else if (strcmp(topic, topics.delay_set) == 0)
        r = home_parse_delay(payload, len, &command, why, sizeof why);
    else if (strcmp(topic, topics.next_set) == 0)
        r = home_parse_next(payload, len, &command, why, sizeof why);
    else
        return;
    double now = loop_now();
    if (r != 0) {
        refuse(topic, why);
        return;
    }
    if (!control_link_reachable(&show.link, now)) {
        refuse(topic, "the light show does not answer");
        return;
    }
    char datagram[SHOW_COMMAND_MAX + 1];
    int n = show_format_command(datagram, sizeof datagram, &command);
    if (n > 0)
        control_link_send(&show.link, datagram, (size_t)n, now);
}

void on_message(const char *topic, const char *payload, size_t len)
{
    if (strcmp(topic, topics.hub_status) == 0) {
        /* The hub has started again: it forgets what it was told. */
        if (len == strlen(BROKER_ONLINE) && memcmp(payload, BROKER_ONLINE, len) == 0)
            publish_everything();
    } else if (strcmp(topic, topics.light_set) == 0) {
        light_command(payload, len);
    } else {
        show_request(topic, payload, len);
    }
}

/* Say whether a control socket answers, once each way. */
bool note_reachable(side *s, double now)
{
    int reachable = control_link_reachable(&s->link, now);
    if (reachable == s->said || (s->said < 0 && !reachable && now - started_at < s->link.lost_seconds))
        return false;
    if (reachable)
        printf("hallmqtt: %s at %s:%u answers\n", s->what, s->link.host, s->link.port);
    else
        fprintf(stderr, "hallmqtt: %s at %s:%u does not answer; its entities are unavailable\n",
                s->what, s->link.host, s->link.port);
    s->said = reachable;
    return true;
}

/* A state message, published when it differs from the one before. */
void new_state(side *s, const char *state, const char *topic)
{
    if (strcmp(state, s->state) == 0)
        return;
    snprintf(s->state, sizeof s->state, "%s", state);
    publish(topic, s->state);
}

void unreadable(side *s)
{
    if (!s->unreadable_said)
        fprintf(stderr, "hallmqtt: %s at %s:%u sends answers that cannot be read\n", s->what,
                s->link.host, s->link.port);
    s->unreadable_said = 1;
}

void driver_turn(double now)
{
    if (control_link_turn(&driver.link, now) || driver.said < 0) {
        if (note_reachable(&driver, now))
            publish(topics.driver_status, driver.said == 1 ? BROKER_ONLINE : BROKER_OFFLINE);
        control_answer a;
        if (driver.link.answer_len &&
            control_parse_answer(driver.link.answer, driver.link.answer_len, &a) != 0) {
            unreadable(&driver);
        } else if (driver.link.answer_len) {
            heard = a;
            heard_known = 1;
            /* "ON" brings back the level the lamps last rested at, not
             * one passed on the way to "OFF". */
            if (heard.level > 0 && want_level < 0 && control_link_settled(&driver.link, now))
                restore_level = heard.level;
            /* The effects follow the driver's feeds. */
            follow_names(&driver, heard.names, heard.num_feeds, HOME_LAMPS);
            char state[HOME_PAYLOAD_MAX];
            if (home_light_state(&heard, state, sizeof state) > 0)
                new_state(&driver, state, topics.light_state);
        }
    }
    steer_driver(now);
}

void show_turn(double now)
{
    if (!control_link_turn(&show.link, now) && show.said >= 0)
        return;
    if (note_reachable(&show, now))
        publish(topics.show_status, show.said == 1 ? BROKER_ONLINE : BROKER_OFFLINE);
    if (!show.link.answer_len)
        return;
    if (show_parse_answer(show.link.answer, show.link.answer_len, &seen) != 0) {
        unreadable(&show);
        return;
    }
    seen_known = 1;
    if (seen.has_error)
        fprintf(stderr, "hallmqtt: %s refused a command: %s\n", show.what, seen.error);
    follow_names(&show, seen.patterns, seen.num_patterns, HOME_PATTERN);
    char state[HOME_PAYLOAD_MAX];
    if (home_show_state(&seen, state, sizeof state) > 0)
        new_state(&show, state, topics.show_state);
}

int open_links()
{
    control_link_init(&driver.link, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    control_link_init(&show.link, CONTROL_LINK_ASK_SECONDS, CONTROL_LINK_LOST_SECONDS);
    if (options.has_driver &&
        control_link_open(&driver.link, options.driver_host, options.driver_port) != 0)
        return -1;
    if (options.has_show && control_link_open(&show.link, options.show_host, options.show_port) != 0)
        return -1;
    return 0;
}

/* The one-line state the service manager shows. */
const char *describe_health(char *buf, size_t size, double now)
{
    auto side_state = [now](const side &d) {
        return control_link_reachable(&d.link, now) ? "answers" : "does not answer";
    };
    int n = snprintf(buf, size, "broker %s", broker_connected() ? "connected" : "not connected");
    if (options.has_driver && n > 0 && (size_t)n < size)
        n += snprintf(buf + n, size - (size_t)n, "; driver %s", side_state(driver));
    if (options.has_show && n > 0 && (size_t)n < size)
        snprintf(buf + n, size - (size_t)n, "; show %s", side_state(show));
    return buf;
}

void run()
{
    char health[128];
    loop_health_ready(describe_health(health, sizeof health, loop_now()));
    loop_every_start(&refresh, REFRESH_SECONDS, loop_now());
    while (!loop_stop_signal()) {
        pollfd fds[4];
        int n = 0, at_broker = -1;
        fds[n++] = {loop_signal_fd(), POLLIN, 0};
        if (broker_pollfd(&fds[n]))
            at_broker = n++;
        if (options.has_driver)
            fds[n++] = {driver.link.sock, POLLIN, 0};
        if (options.has_show)
            fds[n++] = {show.link.sock, POLLIN, 0};
        double due[] = {broker_due(), options.has_driver ? control_link_due(&driver.link) : 0,
                        options.has_show ? control_link_due(&show.link) : 0, refresh.next};
        double now = loop_now();
        if (poll(fds, (nfds_t)n, loop_ms_until(loop_soonest(due, 4), now)) < 0)
            for (int i = 0; i < n; i++)
                fds[i].revents = 0;   /* a signal: the loop's condition says */
        now = loop_now();
        broker_turn(at_broker >= 0 ? fds[at_broker].revents : 0, now);
        if (options.has_driver)
            driver_turn(now);
        if (options.has_show)
            show_turn(now);
        if (loop_health_due(now))
            loop_health_alive(describe_health(health, sizeof health, now));
        if (loop_every_due(&refresh, now) && broker_connected()) {
            publish(topics.status, BROKER_ONLINE);
            publish_side(&driver, topics.driver_status, topics.light_state);
            publish_side(&show, topics.show_status, topics.show_state);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    char err[400];
    int settled = cli_settle(&mqtt_cli, mqtt_parse_options(argc, argv, &options, err, sizeof err),
                             err);
    if (settled != CLI_GO_ON)
        return settled;
    if (options.password_file &&
        mqtt_password_load(options.password_file, password, err, sizeof err) != 0) {
        fprintf(stderr, "hallmqtt: %s\n", err);
        return 1;
    }
    home_topics_make(&topics, options.prefix, options.discovery_prefix);
    char client_id[HOME_TOPIC_MAX + 16];
    snprintf(client_id, sizeof client_id, "hallmqtt-%s", topics.node);
    broker_settings settings = {options.broker_host, options.broker_port, options.username,
                                options.password_file ? password : nullptr, options.tls_ca,
                                client_id, topics.status};
    broker_hooks hooks = {on_connected, on_message};
    if (loop_catch_signals(LOOP_IGNORE_PIPE) != 0 || open_links() != 0 ||
        broker_start(&settings, &hooks) != 0)
        return 1;
    started_at = loop_now();
    printf("hallmqtt: broker %s:%u%s, topics under %s/, discovery under %s/\n",
           options.broker_host, options.broker_port, options.tls_ca ? " (TLS)" : "",
           options.prefix, options.discovery_prefix);
    if (options.has_driver)
        printf("hallmqtt: box driver at %s:%u\n", options.driver_host, options.driver_port);
    if (options.has_show)
        printf("hallmqtt: light show at %s:%u\n", options.show_host, options.show_port);

    run();

    printf("hallmqtt: stopping\n");
    broker_stop(BROKER_OFFLINE);
    control_link_close(&driver.link);
    control_link_close(&show.link);
    memset(password, 0, sizeof password);
    return 0;
}
