/* mqtt_options.h -- the MQTT bridge's command line: the broker and the
 * login, the topics' prefixes, and the control sockets it bridges (the box
 * driver's, the light show's); and the password file. Kept apart from the
 * program for its tests and fuzz target. */
#ifndef HALLMQTT_MQTT_OPTIONS_H
#define HALLMQTT_MQTT_OPTIONS_H

#include <stddef.h>

#include "cli/cli.h"

#define MQTT_DEFAULT_PORT 1883
#define MQTT_DEFAULT_TLS_PORT 8883
#define MQTT_HOST_MAX 253           /* a DNS name at most */
#define MQTT_PREFIX_MAX 100         /* bytes of a topic prefix */
#define MQTT_USERNAME_MAX 256
#define MQTT_PASSWORD_MAX 1024

struct mqtt_options {
    char broker_host[MQTT_HOST_MAX + 1]; /* dotted-decimal IPv4 or a host name */
    unsigned short broker_port;          /* as given; the default once parsed */
    const char *username;                /* NULL without --username (into argv) */
    const char *password_file;           /* NULL without one (into argv) */
    const char *tls_ca;                  /* NULL: no TLS (into argv) */
    char prefix[MQTT_PREFIX_MAX + 1];
    char discovery_prefix[MQTT_PREFIX_MAX + 1];
    int has_driver;
    char driver_host[16];
    unsigned short driver_port;
    int has_show;
    char show_host[16];
    unsigned short show_port;
};

/* Fill *o from the arguments (defaults first): cli_parse's answer, with a
 * one-line reason starting "hallmqtt: " in err when it is CLI_REFUSED
 * (also when neither --driver nor --show is given, or a password file
 * comes without a user name). */
int mqtt_parse_options(int argc, char **argv, struct mqtt_options *o, char *err, size_t errlen);

/* The password in a password file's bytes: the first line, without its
 * line end; 1..MQTT_PASSWORD_MAX bytes, no control characters. 0 with the
 * password in out; -1 with a one-line reason in err. */
int mqtt_password_parse(const char *bytes, size_t len, char out[MQTT_PASSWORD_MAX + 1], char *err,
                        size_t errlen);

/* Read the password file at path: a regular file that no one but its
 * owner may read. 0, or -1 with a one-line reason (naming the file) in
 * err. */
int mqtt_password_load(const char *path, char out[MQTT_PASSWORD_MAX + 1], char *err,
                       size_t errlen);

extern cli_program mqtt_cli;

#endif
