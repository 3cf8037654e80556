/* mqtt_broker.cpp -- the connection to the MQTT broker (mqtt_broker.h).
 *
 * libmosquitto without its thread: the loop hands the socket's events to
 * mosquitto_loop_read and _write, and calls mosquitto_loop_misc for the
 * keep-alive. An attempt goes: (a name: look it up in the background) ->
 * mosquitto_connect_async -> CONNACK. A failure at any step leaves a
 * reason, said once until the next success, and the next attempt waits. */
#include "hallmqtt/mqtt_broker.h"

#include <errno.h>
#include <mosquitto.h>
#include <netdb.h>
#include <stdio.h>
#include <string.h>

#include "cli/cli.h"
#include "loop/loop.h"

namespace {

const int KEEPALIVE_SECONDS = 20;      /* a silent broker is noticed within 1.5x this */
const double FIRST_PAUSE = 1.0;        /* before the first retry; doubling ... */
const double LONGEST_PAUSE = 10.0;     /* ... up to this */
const double CONNACK_SECONDS = 10.0;   /* an attempt unanswered this long has failed */
const double LOOKUP_POLL = 0.05;       /* how often a lookup under way is looked at */
const double MISC_SECONDS = 1.0;       /* keep-alive housekeeping at least this often */

enum phase { IDLE, LOOKING_UP, CONNECTING, UP, STOPPING };

mosquitto *mosq = nullptr;
broker_settings settings;
broker_hooks hooks;
char where[300];                /* "HOST:PORT", for messages */
bool named = false;             /* the host is a name, looked up before each attempt */
phase now_phase = IDLE;
double turn_now = 0;            /* the turn's time, for the callbacks */
double attempt_at = 0;          /* IDLE: when the next attempt is due */
double started_at = 0;          /* CONNECTING: when the attempt began */
double misc_at = 0;             /* when mosquitto_loop_misc is due */
double pause_seconds = FIRST_PAUSE;
char reason[256];               /* why this attempt failed, from a callback */
char told[256];                 /* the failure last said, "" after a success */
bool ever_up = false;
gaicb lookup;                   /* the name's lookup under way */
gaicb *lookups[1] = {&lookup};

/* An attempt, or the connection, has failed: say why unless that was
 * said already, and wait before the next. */
void failed(const char *why)
{
    if (strcmp(why, told) != 0) {
        fprintf(stderr, "hallmqtt: broker %s: %s; trying again, less often as time goes by\n",
                where, why);
        snprintf(told, sizeof told, "%s", why);
    }
    now_phase = IDLE;
    attempt_at = turn_now + pause_seconds;
    pause_seconds = pause_seconds * 2 < LONGEST_PAUSE ? pause_seconds * 2 : LONGEST_PAUSE;
}

void describe(int rc, char *out, size_t size)
{
    if (rc == MOSQ_ERR_ERRNO)
        snprintf(out, size, "%s", strerror(errno));
    else if (rc == MOSQ_ERR_EAI)
        snprintf(out, size, "cannot look up the name");
    else if (rc == MOSQ_ERR_TLS)
        snprintf(out, size, "the TLS handshake failed (is the broker's certificate signed by the "
                            "--tls-ca authorities, for this name?)");
    else if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN)
        snprintf(out, size, "the connection closed before the login was taken");
    else
        snprintf(out, size, "%s", mosquitto_strerror(rc));
}

/* The connection is gone (rc: the library's reason): say why. */
void gone(int rc)
{
    char why[256];
    if (now_phase == CONNECTING) {
        describe(rc, why, sizeof why);
        failed(reason[0] ? reason : why);
    } else if (now_phase == UP) {
        failed(rc == MOSQ_ERR_SUCCESS ? "the broker closed the connection" : "lost the connection");
    }
}

void connect_now()
{
    reason[0] = '\0';
    int rc = mosquitto_connect_async(mosq, settings.host, settings.port, KEEPALIVE_SECONDS);
    if (rc != MOSQ_ERR_SUCCESS) {
        char why[256];
        describe(rc, why, sizeof why);
        failed(why);
        return;
    }
    now_phase = CONNECTING;
    started_at = misc_at = turn_now;
}

void attempt()
{
    if (!named) {
        connect_now();
        return;
    }
    /* A name's lookup may take seconds: it runs in the background, and
     * the library's own lookup then finds the answer fresh. */
    static addrinfo hints;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    memset(&lookup, 0, sizeof lookup);
    lookup.ar_name = settings.host;
    lookup.ar_request = &hints;
    int rc = getaddrinfo_a(GAI_NOWAIT, lookups, 1, nullptr);
    if (rc != 0) {
        char why[256];
        snprintf(why, sizeof why, "looking up %s: %s", settings.host, gai_strerror(rc));
        failed(why);
        return;
    }
    now_phase = LOOKING_UP;
}

void look_at_lookup()
{
    int rc = gai_error(&lookup);
    if (rc == EAI_INPROGRESS)
        return;
    if (lookup.ar_result)
        freeaddrinfo(lookup.ar_result);
    lookup.ar_result = nullptr;
    if (rc != 0) {
        char why[256];
        snprintf(why, sizeof why, "cannot look up %s: %s", settings.host, gai_strerror(rc));
        failed(why);
        return;
    }
    connect_now();
}

void on_connect(mosquitto *, void *, int rc)
{
    if (rc != 0) {
        /* The broker answers, and says no: the reason outlives the
         * connection, which the library closes next. */
        snprintf(reason, sizeof reason, "refused the login: %s", mosquitto_connack_string(rc));
        return;
    }
    now_phase = UP;
    pause_seconds = FIRST_PAUSE;
    printf("hallmqtt: %s the broker at %s\n", ever_up ? "connected again to" : "connected to",
           where);
    ever_up = true;
    told[0] = '\0';
    hooks.connected();
}

void on_disconnect(mosquitto *, void *, int rc)
{
    gone(rc);
}

void on_message(mosquitto *, void *, const mosquitto_message *m)
{
    hooks.message(m->topic, (const char *)m->payload, m->payloadlen > 0 ? (size_t)m->payloadlen : 0);
}

} // namespace

int broker_start(const broker_settings *s, const broker_hooks *h)
{
    settings = *s;
    hooks = *h;
    snprintf(where, sizeof where, "%s:%u", s->host, s->port);
    named = !cli_is_ipv4(s->host);
    mosquitto_lib_init();
    mosq = mosquitto_new(s->client_id, true, nullptr);
    if (!mosq) {
        perror("hallmqtt: mosquitto_new");
        return -1;
    }
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    int rc = mosquitto_will_set(mosq, s->will_topic, (int)strlen(BROKER_OFFLINE), BROKER_OFFLINE,
                                1, true);
    if (rc == MOSQ_ERR_SUCCESS && s->username)
        rc = mosquitto_username_pw_set(mosq, s->username, s->password);
    if (rc != MOSQ_ERR_SUCCESS) {
        fprintf(stderr, "hallmqtt: setting up the login: %s\n", mosquitto_strerror(rc));
        return -1;
    }
    if (s->tls_ca) {
        rc = mosquitto_tls_set(mosq, s->tls_ca, nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            fprintf(stderr, "hallmqtt: --tls-ca %s: %s\n", s->tls_ca,
                    rc == MOSQ_ERR_INVAL ? "cannot read it" : mosquitto_strerror(rc));
            return -1;
        }
    }
    mosquitto_connect_callback_set(mosq, on_connect);
    mosquitto_disconnect_callback_set(mosq, on_disconnect);
    mosquitto_message_callback_set(mosq, on_message);
    now_phase = IDLE;
    attempt_at = turn_now = loop_now();
    return 0;
}

int broker_pollfd(struct pollfd *p)
{
    int fd = mosq ? mosquitto_socket(mosq) : -1;
    if ((now_phase != CONNECTING && now_phase != UP) || fd < 0)
        return 0;
    *p = {fd, (short)(POLLIN | (mosquitto_want_write(mosq) ? POLLOUT : 0)), 0};
    return 1;
}

void broker_turn(short revents, double now)
{
    turn_now = now;
    if (now_phase == IDLE && now >= attempt_at) {
        attempt();
    } else if (now_phase == LOOKING_UP) {
        look_at_lookup();
    }
    if (now_phase != CONNECTING && now_phase != UP)
        return;
    /* The library closes the socket on an error, not always with a
     * callback (a TLS handshake failing midway): its code says why. */
    int rc = MOSQ_ERR_SUCCESS;
    if (revents & (POLLIN | POLLERR | POLLHUP))
        rc = mosquitto_loop_read(mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && (now_phase == CONNECTING || now_phase == UP) &&
        (revents & POLLOUT))
        rc = mosquitto_loop_write(mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && (now_phase == CONNECTING || now_phase == UP) && now >= misc_at) {
        rc = mosquitto_loop_misc(mosq);
        misc_at = now + MISC_SECONDS;
    }
    if (rc != MOSQ_ERR_SUCCESS)
        gone(rc);
    if (now_phase == CONNECTING && now - started_at >= CONNACK_SECONDS) {
        char why[100];
        snprintf(why, sizeof why, "no answer within %.0f s", CONNACK_SECONDS);
        failed(why);  /* the next attempt closes the socket */
    } else if (mosquitto_socket(mosq) < 0) {
        gone(MOSQ_ERR_CONN_LOST);  /* closed without a word from the library */
    }
}

double broker_due(void)
{
    switch (now_phase) {
    case IDLE:
        return attempt_at;
    case LOOKING_UP:
        return turn_now + LOOKUP_POLL;
    case CONNECTING:
        return misc_at < started_at + CONNACK_SECONDS ? misc_at : started_at + CONNACK_SECONDS;
    default:
        return misc_at;
    }
}

int broker_connected(void)
{
    return now_phase == UP;
}

int broker_publish(const char *topic, const char *payload, size_t len, int retain)
{
    if (now_phase != UP)
        return -1;
    int rc = mosquitto_publish(mosq, nullptr, topic, (int)len, payload, 1, retain != 0);
    return rc == MOSQ_ERR_SUCCESS ? 0 : -1;
}

int broker_subscribe(const char *topic)
{
    return mosquitto_subscribe(mosq, nullptr, topic, 1) == MOSQ_ERR_SUCCESS ? 0 : -1;
}

void broker_stop(const char *payload)
{
    if (!mosq)
        return;
    if (now_phase == LOOKING_UP)
        gai_cancel(&lookup);
    if (now_phase == UP) {
        broker_publish(settings.will_topic, payload, strlen(payload), 1);
        now_phase = STOPPING;
        mosquitto_disconnect(mosq);
        /* Bounded: a broker that stopped reading must not hold the end. */
        for (int waited = 0; waited < 1000 && mosquitto_socket(mosq) >= 0; waited += 10) {
            pollfd p = {mosquitto_socket(mosq), (short)(POLLIN | POLLOUT), 0};
            if (poll(&p, 1, 10) > 0) {
                if (p.revents & POLLOUT)
                    mosquitto_loop_write(mosq, 1);
                if (mosquitto_socket(mosq) >= 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)))
                    mosquitto_loop_read(mosq, 1);
            }
        }
    }
    now_phase = STOPPING;
    mosquitto_destroy(mosq);
    mosq = nullptr;
    mosquitto_lib_cleanup();
}
