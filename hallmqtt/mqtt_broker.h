/* mqtt_broker.h -- the connection to the MQTT broker (libmosquitto),
 * driven from the program's own poll loop so that nothing waits: the
 * socket is connected without blocking, a host name is looked up in the
 * background, and the login carries a retained last will. When the broker
 * goes away, refuses the login or does not answer, the bridge says so
 * once and tries again, less often as time goes by (1 s, doubling, at
 * most 10 s), and tells its caller when it is back. State: the one
 * connection, in file-level variables; called from the loop only. */
#ifndef HALLMQTT_MQTT_BROKER_H
#define HALLMQTT_MQTT_BROKER_H

#include <poll.h>
#include <stddef.h>

struct broker_settings {
    const char *host;            /* dotted-decimal IPv4 or a host name */
    unsigned short port;
    const char *username;        /* NULL: no login */
    const char *password;        /* NULL: none */
    const char *tls_ca;          /* NULL: plain TCP */
    const char *client_id;
    const char *will_topic;      /* "offline" is left there, retained, when
                                    the connection drops unannounced */
};

struct broker_hooks {
    /* The broker took the login: subscribe, and publish everything. */
    void (*connected)(void);
    /* A message on a subscribed topic. */
    void (*message)(const char *topic, const char *payload, size_t len);
};

/* The word left on the will topic, and its opposite. */
#define BROKER_OFFLINE "offline"
#define BROKER_ONLINE "online"

/* Set up the client (the first attempt is made by the first turn). 0, or
 * -1 after a message (the TLS file cannot be read, ...). */
int broker_start(const struct broker_settings *settings, const struct broker_hooks *hooks);

/* The descriptor to wait on and the events to wait for, in *p. 0 when
 * there is none to wait on now (the next turn is due at broker_due). */
int broker_pollfd(struct pollfd *p);

/* After the poll (revents of broker_pollfd's descriptor, 0 when none):
 * read, write, keep the connection alive, or make the next attempt when
 * it is due. */
void broker_turn(short revents, double now);

/* When broker_turn must run at the latest (loop_now seconds). */
double broker_due(void);

/* 1 while the broker has taken the login. */
int broker_connected(void);

/* Publish at QoS 1. 0, or -1 when not connected (it is then dropped:
 * the caller publishes everything again on connecting). */
int broker_publish(const char *topic, const char *payload, size_t len, int retain);

/* Subscribe at QoS 1 (within the connected hook). 0, or -1. */
int broker_subscribe(const char *topic);

/* The end: leave `payload` retained on the will topic, disconnect, and
 * wait at most a second for it to go out. */
void broker_stop(const char *payload);

#endif
