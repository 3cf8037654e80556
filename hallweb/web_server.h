/* web_server.h -- the HTTP and WebSocket server (CivetWeb): serves the
 * page built into the program at "/", and takes pages' WebSocket
 * connections at "/ws", handing their messages to the clients, driver and
 * message modules. */
#ifndef HALLWEB_WEB_SERVER_H
#define HALLWEB_WEB_SERVER_H

#include <stddef.h>

#include "hallweb/web_message.h"
#include "hallweb/web_options.h"

/* What the server needs to know; kept by pointer for its whole life. */
struct web_server_setup {
    const struct web_options *options;
    enum web_controls controls;
    const char *token;           /* WEB_CONTROLS_TOKEN: the token */
};

/* Listen and serve. The port bound (the one asked for, or the one taken
 * for port 0), or -1 with a one-line reason in err. */
int web_server_start(const struct web_server_setup *setup, char *err, size_t errlen);

/* Close every connection and stop serving. */
void web_server_stop(void);

#endif
