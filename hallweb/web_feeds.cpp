/* web_feeds.cpp -- the watched feeds (web_feeds.h). State: one record per
 * feed, filled by web_feeds_open and turned by the frame loop only. */
#include "hallweb/web_feeds.h"

#include <stdio.h>
#include <string.h>

#include "hallweb/web_clients.h"
#include "loop/loop.h"
#include "wire/feed_sub.h"
#include "wire/wire.h"

namespace {

/* Datagrams taken per feed and turn at most, so a flood cannot hold the
 * loop; the newest of them wins. */
const int READ_LIMIT = 64;
const double PUBLISH_GAP = 1.0 / WEB_PUBLISH_RATE;
/* How early a frame may go against the steady rate: a producer at the
 * rate itself, with jitter, is never held back, while a faster one is
 * smoothed to the rate rather than sent in bursts. */
const double PUBLISH_SLACK = PUBLISH_GAP / 4;

struct watched {
    feed_sub sub;
    int values[LIGHT_CHANNELS];        /* the newest frame read */
    unsigned char bytes[LIGHT_CHANNELS];
    bool held;                         /* read but not yet sent to the pages */
    double due;                        /* when the next frame is due at the rate */
    long frames_counted;               /* sub.frames at the last status */
    double counted_at;
};

watched feeds[WEB_MAX_FEEDS];
int num_feeds = 0;

void publish(int i, watched *f, double now)
{
    for (int k = 0; k < LIGHT_CHANNELS; k++)
        f->bytes[k] = (unsigned char)f->values[k];
    web_clients_post_frame(i, f->bytes);
    f->held = false;
    f->due = (f->due > now ? f->due : now) + PUBLISH_GAP;
}

} // namespace

int web_feeds_open(const web_options *o)
{
    double now = loop_now();
    for (int i = 0; i < o->num_feeds; i++) {
        watched *f = &feeds[i];
        memset(f, 0, sizeof *f);
        feed_sub_init(&f->sub);
        feed_sub_set_target(&f->sub, o->feeds[i].host, o->feeds[i].port);
        if (feed_sub_open(&f->sub, 0, 0) < 0) {
            fprintf(stderr, "hallweb: no socket for feed \"%s\"\n", o->feeds[i].name);
            num_feeds = i;
            web_feeds_close();
            return -1;
        }
        feed_sub_request(&f->sub);
        f->counted_at = now;
    }
    num_feeds = o->num_feeds;
    return 0;
}

void web_feeds_close(void)
{
    for (int i = 0; i < num_feeds; i++)
        feed_sub_close(&feeds[i].sub);
    num_feeds = 0;
}

int web_feeds_pollfds(struct pollfd *p)
{
    for (int i = 0; i < num_feeds; i++) {
        p[i].fd = feeds[i].sub.sock;
        p[i].events = POLLIN;
        p[i].revents = 0;
    }
    return num_feeds;
}

double web_feeds_turn(const struct pollfd *p, double now)
{
    double wait = 1.0;
    for (int i = 0; i < num_feeds; i++) {
        watched *f = &feeds[i];
        if ((p[i].revents & POLLIN) && feed_sub_read_newest(&f->sub, f->values, READ_LIMIT) > 0)
            f->held = true;
        feed_sub_turn(&f->sub);
        double from = f->due - PUBLISH_SLACK;
        if (f->held && now >= from)
            publish(i, f, now);
        else if (f->held && from - now < wait)
            wait = from - now;
    }
    return wait;
}

void web_feeds_status(double now, web_feed_status out[WEB_MAX_FEEDS])
{
    for (int i = 0; i < num_feeds; i++) {
        watched *f = &feeds[i];
        double span = now - f->counted_at;
        out[i].fps = span > 0 ? (double)(f->sub.frames - f->frames_counted) / span : 0;
        out[i].live = feed_sub_live(&f->sub, now);
        f->frames_counted = f->sub.frames;
        f->counted_at = now;
    }
}
