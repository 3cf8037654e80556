/* web_server.cpp -- the HTTP and WebSocket server (web_server.h), on
 * CivetWeb: it serves the page from memory and runs each WebSocket
 * connection on a worker thread of its own, calling the handlers below.
 *
 * State: the CivetWeb context, the setup, and per client slot the message
 * being put together from its frames. Connections past the limit are
 * marked with `overflow` and closed with a reason as soon as they open. */
#include "hallweb/web_server.h"

#include <civetweb.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "hallweb/web_clients.h"
#include "hallweb/web_driver.h"
#include "hallweb/web_page_files.h"
#include "hallweb/web_show.h"
#include "hallweb/web_token.h"

namespace {

/* A wrong token costs its connection this long, so guessing is slow. */
const useconds_t WRONG_TOKEN_DELAY_US = 500000;
/* A page that reads nothing for this long is dropped (CivetWeb pings
 * idle connections at the same interval). */
const char WEBSOCKET_TIMEOUT_MS[] = "10000";
/* WebSocket close code for "try again later". */
const unsigned CLOSE_TRY_LATER = 1013;

/* One page's incoming message, put together from its WebSocket frames. */
struct inbox {
    char text[WEB_MESSAGE_MAX];
    size_t len;
    bool oversized;              /* longer than WEB_MESSAGE_MAX: thrown away */
    bool binary;
};

mg_context *ctx = nullptr;
const web_server_setup *setup = nullptr;
inbox inboxes[WEB_MAX_CLIENTS];
int slot_ids[WEB_MAX_CLIENTS];   /* connection data: points at its slot number */
int overflow;                    /* connection data of a refused connection */

const char *content_type(const char *name)
{
    const char *dot = strrchr(name, '.');
    if (dot && strcmp(dot, ".html") == 0)
        return "text/html; charset=utf-8";
    if (dot && strcmp(dot, ".css") == 0)
        return "text/css; charset=utf-8";
    if (dot && strcmp(dot, ".js") == 0)
        return "text/javascript; charset=utf-8";
    if (dot && strcmp(dot, ".svg") == 0)
        return "image/svg+xml";
    return "application/octet-stream";
}

/* GET or HEAD of a file built into the program; "/" is the page. */
int serve_file(mg_connection *conn, void *)
{
    const mg_request_info *ri = mg_get_request_info(conn);
    bool head = strcmp(ri->request_method, "HEAD") == 0;
    if (!head && strcmp(ri->request_method, "GET") != 0) {
        mg_send_http_error(conn, 405, "Only GET and HEAD are served here.\n");
        return 405;
    }
    const char *name = strcmp(ri->local_uri, "/") == 0 ? "index.html" : ri->local_uri + 1;
    const embedded_file *f = embedded_files;
    while (f->name && strcmp(f->name, name) != 0)
        f++;
    if (!f->name) {
        mg_send_http_error(conn, 404, "Not found.\n");
        return 404;
    }
    /* The page talks to its own server only, and is never framed by
     * another site (the controls must not be clicked through one). */
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: %s\r\n"
              "Content-Length: %zu\r\n"
              "Cache-Control: no-cache\r\n"
              "X-Content-Type-Options: nosniff\r\n"
              "X-Frame-Options: DENY\r\n"
              "Content-Security-Policy: default-src 'self'; connect-src 'self'; "
              "frame-ancestors 'none'\r\n"
              "Connection: close\r\n\r\n",
              content_type(f->name), f->size);
    if (!head)
        mg_write(conn, f->bytes, f->size);
    return 200;
}

int write_text(void *conn, const char *text, size_t len)
{
    return mg_websocket_write((mg_connection *)conn, MG_WEBSOCKET_OPCODE_TEXT, text, len) > 0
               ? 0
               : -1;
}

int write_binary(void *conn, const unsigned char *bytes, size_t len)
{
    return mg_websocket_write((mg_connection *)conn, MG_WEBSOCKET_OPCODE_BINARY,
                              (const char *)bytes, len) > 0
               ? 0
               : -1;
}

const web_writer civet_writer = {write_text, write_binary};

/* The slot of a connection, -1 for a refused one. */
int slot_of(const mg_connection *conn)
{
    int *id = (int *)mg_get_user_connection_data(conn);
    return id && id != &overflow ? *id : -1;
}

/* The host part of a "Host" header value. */
bool host_is(const char *host_header, const char *name)
{
    size_t n = strlen(name);
    return host_header && strncmp(host_header, name, n) == 0 &&
           (host_header[n] == '\0' || host_header[n] == ':');
}

/* A browser names the page's site in Origin: a page from any other site
 * must not reach the controls through the operator's browser. */
bool same_origin(const mg_connection *conn)
{
    const char *origin = mg_get_header(conn, "Origin");
    const char *host = mg_get_header(conn, "Host");
    if (!origin)
        return true;             /* not a browser */
    if (!host)
        return false;
    const char *rest = strncmp(origin, "http://", 7) == 0    ? origin + 7
                       : strncmp(origin, "https://", 8) == 0 ? origin + 8
                                                             : nullptr;
    return rest && strcmp(rest, host) == 0;
}

/* What this connection is offered. Open controls need the page to have
 * been reached by the loopback name itself, so that a site whose name
 * is made to point at 127.0.0.1 gains nothing. */
web_controls controls_for(const mg_connection *conn)
{
    if (!setup->options->has_driver && !setup->options->has_show)
        return WEB_CONTROLS_OFF;
    if (setup->controls == WEB_CONTROLS_OPEN) {
        const char *host = mg_get_header(conn, "Host");
        return host_is(host, "127.0.0.1") || host_is(host, "localhost") ? WEB_CONTROLS_OPEN
                                                                         : WEB_CONTROLS_OFF;
    }
    return setup->controls;
}

int on_connect(const mg_connection *conn, void *)
{
    if (!same_origin(conn)) {
        fprintf(stderr, "hallweb: refused a page from another site (Origin %.80s)\n",
                mg_get_header(conn, "Origin"));
        return 1;
    }
    int slot = web_clients_attach((void *)conn);
    if (slot < 0) {
        mg_set_user_connection_data(conn, &overflow);
        return 0;
    }
    inboxes[slot].len = 0;
    inboxes[slot].oversized = false;
    mg_set_user_connection_data(conn, &slot_ids[slot]);
    web_clients_set_control(slot, controls_for(conn) == WEB_CONTROLS_OPEN);
    return 0;
}

void on_ready(mg_connection *conn, void *)
{
    char text[WEB_STATUS_MAX];
    int slot = slot_of(conn);
    if (slot < 0) {
        /* Over the limit: say why, then close with "try again later". */
        char reason[128];
        snprintf(reason, sizeof reason, "too many pages open (at most %d)", WEB_MAX_CLIENTS);
        int n = web_message_error(text, sizeof text, reason);
        if (n > 0)
            mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, text, (size_t)n);
        char close_frame[2 + sizeof reason];
        close_frame[0] = (char)(CLOSE_TRY_LATER >> 8);
        close_frame[1] = (char)(CLOSE_TRY_LATER & 0xff);
        size_t len = strlen(reason);
        memcpy(close_frame + 2, reason, len);
        mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, close_frame, 2 + len);
        return;
    }
    const web_options *o = setup->options;
    int n = web_message_hello(text, sizeof text, o->feeds, o->num_feeds, o->has_driver,
                              o->has_show, controls_for(conn));
    web_clients_ready(slot, text, n > 0 ? (size_t)n : 0);
}

void reply_error(int slot, const char *reason)
{
    char text[WEB_STATUS_MAX];
    int n = web_message_error(text, sizeof text, reason);
    if (n > 0)
        web_clients_reply(slot, text, (size_t)n);
}

/* Act on one whole message from a page. */
void take_message(int slot, const char *text, size_t len)
{
    web_message m;
    char err[160];
    if (web_message_parse(text, len, &m, err, sizeof err) != 0) {
        reply_error(slot, err);
        return;
    }
    const web_options *o = setup->options;
    switch (m.kind) {
    case WEB_MSG_VIEW:
        if (m.feed >= o->num_feeds) {
            snprintf(err, sizeof err, "no feed %d here; there are %d", m.feed, o->num_feeds);
            reply_error(slot, err);
        } else {
            web_clients_set_view(slot, m.feed);
        }
        return;
    case WEB_MSG_AUTH: {
        if (setup->controls != WEB_CONTROLS_TOKEN) {
            reply_error(slot, "this server takes no token");
            return;
        }
        int ok = web_token_equal(setup->token, m.token, m.token_len);
        if (!ok)
            usleep(WRONG_TOKEN_DELAY_US);
        web_clients_set_control(slot, ok);
        char reply[64];
        int n = web_message_auth(reply, sizeof reply, ok);
        if (n > 0)
            web_clients_reply(slot, reply, (size_t)n);
        return;
    }
    case WEB_MSG_SELECT:
    case WEB_MSG_LEVEL:
    case WEB_MSG_NEXT:
    case WEB_MSG_AUTO:
        if (!web_clients_may_control(slot)) {
            reply_error(slot, setup->controls == WEB_CONTROLS_TOKEN
                                  ? "the controls need the token"
                                  : "the controls are off on this server");
            return;
        }
        if (m.kind == WEB_MSG_NEXT || m.kind == WEB_MSG_AUTO) {
            if (web_show_request(m.kind == WEB_MSG_NEXT ? SHOW_NEXT : SHOW_AUTO) != 0)
                reply_error(slot, "the light show is not answering");
        } else if ((m.kind == WEB_MSG_SELECT ? web_driver_request_feed(m.feed)
                                             : web_driver_request_level(m.level)) != 0) {
            reply_error(slot, m.kind == WEB_MSG_SELECT
                                  ? "the box driver is not answering or has no such feed"
                                  : "the box driver is not answering");
        }
        return;
    }
}

int on_data(mg_connection *conn, int bits, char *data, size_t len, void *)
{
    int opcode = bits & 0x0f;
    bool last = bits & 0x80;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE)
        return 0;
    int slot = slot_of(conn);
    if (slot < 0 || opcode == MG_WEBSOCKET_OPCODE_PING || opcode == MG_WEBSOCKET_OPCODE_PONG)
        return 1;
    inbox *in = &inboxes[slot];
    if (opcode != MG_WEBSOCKET_OPCODE_CONTINUATION) {
        in->len = 0;
        in->oversized = false;
        in->binary = opcode != MG_WEBSOCKET_OPCODE_TEXT;
    }
    if (!in->oversized && len <= sizeof in->text - in->len) {
        memcpy(in->text + in->len, data, len);
        in->len += len;
    } else {
        in->oversized = true;
    }
    if (!last)
        return 1;
    if (in->oversized) {
        char err[96];
        snprintf(err, sizeof err, "message too long: at most %d bytes", WEB_MESSAGE_MAX);
        reply_error(slot, err);
    } else if (in->binary) {
        reply_error(slot, "binary messages are not understood here; send JSON text");
    } else {
        take_message(slot, in->text, in->len);
    }
    in->len = 0;
    in->oversized = false;
    return 1;
}

void on_close(const mg_connection *conn, void *)
{
    int slot = slot_of(conn);
    if (slot >= 0)
        web_clients_detach(slot);
}

int log_message(const mg_connection *, const char *message)
{
    fprintf(stderr, "hallweb: %s\n", message);
    return 1;
}

} // namespace

int web_server_start(const web_server_setup *s, char *err, size_t errlen)
{
    setup = s;
    for (int i = 0; i < WEB_MAX_CLIENTS; i++)
        slot_ids[i] = i;
    if (!mg_check_feature(16)) {
        snprintf(err, errlen, "hallweb: this CivetWeb library has no WebSocket support");
        return -1;
    }
    if (web_clients_start(&civet_writer) != 0) {
        snprintf(err, errlen, "hallweb: cannot start the senders");
        return -1;
    }
    mg_init_library(0);
    char listen[32];
    snprintf(listen, sizeof listen, "%s:%u", s->options->listen_host, s->options->listen_port);
    char threads[16];
    /* One worker per open WebSocket, and some for page loads and for the
     * connections turned away. */
    snprintf(threads, sizeof threads, "%d", WEB_MAX_CLIENTS + 8);
    const char *config[] = {
        "listening_ports", listen,
        "num_threads", threads,
        "request_timeout_ms", WEBSOCKET_TIMEOUT_MS,
        "websocket_timeout_ms", WEBSOCKET_TIMEOUT_MS,
        "enable_websocket_ping_pong", "yes",
        "tcp_nodelay", "1",
        "enable_keep_alive", "no",
        nullptr,
    };
    mg_callbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.log_message = log_message;
    char why[256] = "";
    unsigned code = 0;
    mg_error_data error = {&code, why, sizeof why};
    mg_init_data init = {&callbacks, nullptr, config};
    ctx = mg_start2(&init, &error);
    if (!ctx) {
        snprintf(err, errlen, "hallweb: cannot listen on %s: %s", listen,
                 why[0] ? why : "CivetWeb did not start");
        web_clients_stop();
        return -1;
    }
    mg_set_request_handler(ctx, "/**", serve_file, nullptr);
    mg_set_websocket_handler(ctx, "/ws", on_connect, on_ready, on_data, on_close, nullptr);
    mg_server_port ports[1];
    if (mg_get_server_ports(ctx, 1, ports) != 1) {
        snprintf(err, errlen, "hallweb: no port bound for %s", listen);
        web_server_stop();
        return -1;
    }
    return ports[0].port;
}

void web_server_stop(void)
{
    if (ctx) {
        mg_stop(ctx);
        mg_exit_library();
    }
    ctx = nullptr;
    web_clients_stop();
}
