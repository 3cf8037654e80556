/* mqtt_home.h -- the bridge's topics and payloads, in the forms Home
 * Assistant expects: the discovery configuration of each entity, the
 * state messages, and the commands read back from the command topics.
 * Under the prefix P (--prefix) and the discovery prefix D:
 *   P/status            "online" / "offline" (retained, the last will)
 *   P/light/state       {"state":"ON","brightness":255,"color_mode":
 *                       "brightness","effect":FEED,"level":256,"live":true}
 *   P/light/set         {"state":"ON"|"OFF","brightness":0..255,"effect":FEED}
 *   P/driver/status     "online" / "offline": the box driver answers
 *   P/show/state        {"pattern":NAME|"Automatic","running":NAME|null,
 *                       "delay":MS,"tempo":BPM|null,"locked":B|null}
 *   P/show/status       "online" / "offline": the light show answers
 *   P/show/pattern/set  a pattern's name, or "Automatic"
 *   P/show/delay/set    whole milliseconds
 *   P/show/next/set     "PRESS"
 *   D/<component>/<node>/<entity>/config   the discovery (retained)
 * No state: every function works on what it is given. */
#ifndef HALLMQTT_MQTT_HOME_H
#define HALLMQTT_MQTT_HOME_H

#include <stddef.h>

#include "wire/control.h"
#include "wire/show_control.h"

#define HOME_DEVICE_NAME "Hallway lights"
#define HOME_AUTOMATIC "Automatic"      /* the pattern select's scheduler */
#define HOME_PRESS "PRESS"              /* the next-pattern button's payload */
#define HOME_TOPIC_MAX 256
#define HOME_PAYLOAD_MAX 8192           /* a discovery configuration at most */
#define HOME_COMMAND_MAX 1024           /* a command's payload at most */

/* The topics of one bridge. */
struct home_topics {
    char node[HOME_TOPIC_MAX];          /* P with anything but [A-Za-z0-9_-] as "_" */
    char discovery[HOME_TOPIC_MAX];     /* D */
    char status[HOME_TOPIC_MAX];
    char light_state[HOME_TOPIC_MAX];
    char light_set[HOME_TOPIC_MAX];
    char driver_status[HOME_TOPIC_MAX];
    char show_state[HOME_TOPIC_MAX];
    char show_status[HOME_TOPIC_MAX];
    char pattern_set[HOME_TOPIC_MAX];
    char delay_set[HOME_TOPIC_MAX];
    char next_set[HOME_TOPIC_MAX];
    char hub_status[HOME_TOPIC_MAX];    /* D/status: Home Assistant says "online" */
};

void home_topics_make(struct home_topics *t, const char *prefix, const char *discovery_prefix);

/* The entities: the driver's, then the show's. */
enum home_entity {
    HOME_LAMPS,       /* light: on/off, brightness, the feed as effect */
    HOME_LIVE,        /* binary sensor: the feed on the lamps is live */
    HOME_PATTERN,     /* select: the show's pattern, or Automatic */
    HOME_DELAY,       /* number: the show's light delay */
    HOME_TEMPO,       /* sensor: the show's tempo (with its lock) */
    HOME_NEXT,        /* button: the next pattern now */
    HOME_ENTITIES
};

/* 1 for the entities the box driver's socket feeds, 0 for the show's. */
int home_of_driver(enum home_entity e);

/* The discovery topic of an entity, in buf. Its length, or -1. */
int home_config_topic(const struct home_topics *t, enum home_entity e, char *buf, size_t size);

/* The discovery configuration of an entity, in buf: for the lamps `names`
 * are the effects (the feeds), for the pattern select the show's patterns
 * ("Automatic" is added). Its length, or -1 when it does not fit. */
int home_config(const struct home_topics *t, enum home_entity e, const char *const *names,
                int num_names, char *buf, size_t size);

/* The driver's master level (0..256) for a brightness (0..255), and back. */
int home_level_of(int brightness);
int home_brightness_of(int level);

/* The state messages, in buf. Their length, or -1. */
int home_light_state(const struct control_answer *driver, char *buf, size_t size);
int home_show_state(const struct show_answer *show, char *buf, size_t size);

/* A light command, as Home Assistant sends it in the JSON schema. */
struct home_light_command {
    int on;              /* "state": 1 "ON", 0 "OFF" */
    int brightness;      /* 0..255, -1 when not given */
    int feed;            /* the effect's feed, -1 when not given */
};

/* Read a light command; effects are looked up among the driver's feeds.
 * 0 with *out filled; -1 with a one-line reason in err. */
int home_parse_light(const char *payload, size_t len, const struct control_answer *driver,
                     struct home_light_command *out, char *err, size_t errlen);

/* Read the pattern select's command ("Automatic" or one of the show's
 * patterns), the light delay's (whole milliseconds in range; "45.0" too),
 * or the button's ("PRESS") into the show's command. 0, or -1 with a
 * one-line reason in err. */
int home_parse_pattern(const char *payload, size_t len, const struct show_answer *show,
                       struct show_command *out, char *err, size_t errlen);
int home_parse_delay(const char *payload, size_t len, struct show_command *out, char *err,
                     size_t errlen);
int home_parse_next(const char *payload, size_t len, struct show_command *out, char *err,
                    size_t errlen);

#endif
