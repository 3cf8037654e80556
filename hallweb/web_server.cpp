/* web_server.cpp -- the HTTP and WebSocket server (web_server.h), on
 * CivetWeb: it serves the page from memory and runs each WebSocket
 * connection on a worker thread of its own, calling the handlers below.
 *
 * Every request must name this server in its Host. A page's frames are
 * read here, from the connection's own socket, rather than by CivetWeb,
 * which would take a whole frame into memory, however long it says it
 * is, before handing it over: here a frame longer than a message may be
 * closes the connection after its header. The same reading pings the page
 * and closes it when it stops answering, that is, stops reading.
 *
 * State: the CivetWeb context, the setup, and per client slot the message
 * being put together from its frames and the socket being read.
 * Connections refused a slot are marked with the reason and closed as
 * soon as they open. */
#include "hallweb/web_server.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <civetweb.h>

#include <atomic>
#include <mutex>

#include "hallweb/web_clients.h"
#include "hallweb/web_driver.h"
#include "hallweb/web_frame.h"
#include "hallweb/web_guard.h"
#include "hallweb/web_page_files.h"
#include "hallweb/web_show.h"
#include "hallweb/web_token.h"
#include "loop/loop.h"

namespace {

/* A request's headers must be in, and a blocked write must go through,
 * within this long: slow clients hold a worker no longer. */
const char REQUEST_TIMEOUT_MS[] = "3000";
/* Workers besides the pages' own, for page loads and for connections
 * that are turned away or dawdle over their headers. */
const int SPARE_WORKERS = 64;
/* A page is pinged this often, and closed when it has answered none for
 * SILENT_SECONDS: a browser answers by itself, unless it stopped reading. */
const double PING_SECONDS = 2.0;
const double SILENT_SECONDS = 7.0;
/* A frame that has begun must be in within this long. */
const double FRAME_SECONDS = 3.0;

/* WebSocket close codes. */
const unsigned CLOSE_GOING_AWAY = 1001;
const unsigned CLOSE_PROTOCOL = 1002;
const unsigned CLOSE_TOO_BIG = 1009;
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
int refused_full, refused_host;  /* connection data of a refused connection */
std::mutex sockets_lock;         /* the pages' sockets, shut down at stop */
int sockets[WEB_MAX_CLIENTS];    /* -1 while the slot's page is not being read */
std::atomic<bool> stopping{false};

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


/* The slot of a connection, -1 for a refused one. */
int slot_of(const mg_connection *conn)
{
    int *id = (int *)mg_get_user_connection_data(conn);
    return id && id != &refused_full && id != &refused_host ? *id : -1;
}

/* The socket of a connection, found among the process's descriptors by
 * its two ends (CivetWeb does not hand it out); -1 when none matches,
 * as when the page has already gone. */
int socket_of(const mg_connection *conn)
{
    const mg_request_info *ri = mg_get_request_info(conn);
    in_addr peer;
    if (!ri || inet_pton(AF_INET, ri->remote_addr, &peer) != 1)
        return -1;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            perror("hallweb: opendir(/proc/self/fd), so pages cannot be read");
        return -1;
    }
    int found = -1;
    while (dirent *e = readdir(dir)) {
        if (!isdigit((unsigned char)e->d_name[0]))
            continue;
        int fd = atoi(e->d_name);
        sockaddr_in far{}, near{};
        socklen_t far_len = sizeof far, near_len = sizeof near;
        if (getpeername(fd, (sockaddr *)&far, &far_len) == 0 && far.sin_family == AF_INET &&
            far.sin_addr.s_addr == peer.s_addr && ntohs(far.sin_port) == ri->remote_port &&
            getsockname(fd, (sockaddr *)&near, &near_len) == 0 &&
            ntohs(near.sin_port) == ri->server_port) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

/* Bytes written to a page that it has not taken (acknowledged) yet; 0
 * while the page is not being read. */
long unsent_to(void *conn)
{
    int slot = slot_of((mg_connection *)conn);
    int queued = 0;
    std::lock_guard<std::mutex> g(sockets_lock);
    if (slot < 0 || sockets[slot] < 0 || ioctl(sockets[slot], SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

/* A page that takes nothing: end its connection from below, and its
 * reading ends as if the page had gone (it reconnects when it wakes). */
void drop_page(void *conn)
{
    int slot = slot_of((mg_connection *)conn);
    std::lock_guard<std::mutex> g(sockets_lock);
    if (slot < 0 || sockets[slot] < 0)
        return;
    const mg_request_info *ri = mg_get_request_info((mg_connection *)conn);
    fprintf(stderr, "hallweb: the page at %s:%d has taken nothing for %.0f s; closing it\n",
            ri->remote_addr, ri->remote_port, WEB_PAGE_GONE_SECONDS);
    shutdown(sockets[slot], SHUT_RDWR);
}

const web_writer civet_writer = {write_text, write_binary, unsent_to, drop_page};

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

/* Every request, before anything else: one naming another host may come
 * from a page whose site's name was made to point here. */
int check_host(mg_connection *conn)
{
    if (web_host_allowed(setup->options, mg_get_header(conn, "Host")))
        return 0;
    /* Written out whole: CivetWeb leaves the status line out of its own
     * error reply to a WebSocket handshake. */
    static const char why[] = "This server is not reached by that name.\n";
    mg_printf(conn,
              "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n"
              "Content-Length: %zu\r\nConnection: close\r\n\r\n%s",
              sizeof why - 1, why);
    return 403;
}

int on_connect(const mg_connection *conn, void *)
{
    if (!same_origin(conn)) {
        fprintf(stderr, "hallweb: refused a page from another site (Origin %.80s)\n",
                mg_get_header(conn, "Origin"));
        return 1;
    }
    int slot = web_clients_attach((void *)conn, mg_get_request_info(conn)->remote_addr);
    if (slot < 0) {
        mg_set_user_connection_data(conn, slot == WEB_CLIENTS_HOST_FULL ? &refused_host
                                                                         : &refused_full);
        return 0;
    }
    inboxes[slot].len = 0;
    inboxes[slot].oversized = false;
    mg_set_user_connection_data(conn, &slot_ids[slot]);
    web_clients_set_control(slot, controls_for(conn) == WEB_CONTROLS_OPEN);
    return 0;
}

/* Send a close frame with its code and reason. */
void send_close(mg_connection *conn, unsigned code, const char *reason)
{
    char frame[2 + 123];         /* a control frame holds 125 bytes */
    size_t len = strlen(reason);
    if (len > sizeof frame - 2)
        len = sizeof frame - 2;
    frame[0] = (char)(code >> 8);
    frame[1] = (char)(code & 0xff);
    memcpy(frame + 2, reason, len);
    mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, frame, 2 + len);
}

/* A connection turned away: say why, then close it with "try again
 * later" at once, without waiting for the page to answer. */
void refuse(mg_connection *conn, int fd)
{
    char reason[80], text[WEB_STATUS_MAX];
    if (mg_get_user_connection_data(conn) == &refused_host)
        snprintf(reason, sizeof reason, "too many pages open from your address (at most %d)",
                 WEB_MAX_PER_HOST);
    else
        snprintf(reason, sizeof reason, "too many pages open (at most %d)", WEB_MAX_CLIENTS);
    int n = web_message_error(text, sizeof text, reason);
    if (n > 0)
        mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, text, (size_t)n);
    send_close(conn, CLOSE_TRY_LATER, reason);
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void read_page(mg_connection *conn, int slot, int fd);

/* The handshake is done: a refused connection is closed, a page gets its
 * hello and is then read on this thread until it goes. */
void on_ready(mg_connection *conn, void *)
{
    int fd = socket_of(conn);
    int slot = slot_of(conn);
    if (slot < 0) {
        refuse(conn, fd);
        return;
    }
    if (fd < 0) {
        send_close(conn, CLOSE_TRY_LATER, "the server cannot read this page");
        return;
    }
    char text[WEB_STATUS_MAX];
    const web_options *o = setup->options;
    int n = web_message_hello(text, sizeof text, o->feeds, o->num_feeds, o->has_driver,
                              o->has_show, controls_for(conn));
    web_clients_ready(slot, text, n > 0 ? (size_t)n : 0);
    {
        std::lock_guard<std::mutex> g(sockets_lock);
        sockets[slot] = stopping ? -1 : fd;
    }
    if (!stopping)
        read_page(conn, slot, fd);
    std::lock_guard<std::mutex> g(sockets_lock);
    sockets[slot] = -1;
    shutdown(fd, SHUT_RDWR);   /* CivetWeb's own reading ends at once */
}

void reply_error(int slot, const char *reason)
{
    char text[WEB_STATUS_MAX];
    int n = web_message_error(text, sizeof text, reason);
    if (n > 0)
        web_clients_reply(slot, text, (size_t)n);
}

/* Act on one whole message from a page at address `addr`. */
void take_message(int slot, const char *addr, const char *text, size_t len)
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
        double now = loop_now();
        if (!web_guard_token_try(addr, now)) {
            web_guard_token_wrong(addr, now);
            reply_error(slot, "too many tokens tried from your address; wait a moment");
            return;
        }
        int ok = web_token_equal(setup->token, m.token, m.token_len);
        if (!ok)
            web_guard_token_wrong(addr, now);
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

/* One data frame of a page's message, at most WEB_MESSAGE_MAX bytes. */
void take_frame(int slot, const char *addr, const web_frame_head &h, const char *data)
{
    inbox *in = &inboxes[slot];
    if (h.opcode != WEB_OP_CONTINUATION) {
        in->len = 0;
        in->oversized = false;
        in->binary = h.opcode != WEB_OP_TEXT;
    }
    size_t len = (size_t)h.length;
    if (!in->oversized && len <= sizeof in->text - in->len) {
        memcpy(in->text + in->len, data, len);
        in->len += len;
    } else {
        in->oversized = true;
    }
    if (!h.fin)
        return;
    if (in->oversized) {
        char err[96];
        snprintf(err, sizeof err, "message too long: at most %d bytes", WEB_MESSAGE_MAX);
        reply_error(slot, err);
    } else if (in->binary) {
        reply_error(slot, "binary messages are not understood here; send JSON text");
    } else {
        take_message(slot, addr, in->text, in->len);
    }
    in->len = 0;
    in->oversized = false;
}

/* A page's frames, read one at a time off its socket (non-blocking, as
 * CivetWeb keeps it): the header first, judged before any payload is
 * read, then the payload, never more than one frame's worth. Returns
 * when the page closes, breaks a rule or stops answering pings, or at
 * stop (its socket shut down). */
void read_page(mg_connection *conn, int slot, int fd)
{
    const char *addr = mg_get_request_info(conn)->remote_addr;
    unsigned char buf[WEB_FRAME_HEAD_MAX + WEB_MESSAGE_MAX];
    web_frame_head h{};
    size_t have = 0, need = 2;
    bool head_done = false;
    double now = loop_now(), answered_at = now, ping_at = now + PING_SECONDS, begun_at = 0;
    for (;;) {
        double due = ping_at < answered_at + SILENT_SECONDS ? ping_at
                                                            : answered_at + SILENT_SECONDS;
        if (have > 0 && begun_at + FRAME_SECONDS < due)
            due = begun_at + FRAME_SECONDS;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, due > now ? (int)((due - now) * 1000) + 1 : 0);
        now = loop_now();
        if (stopping)
            return;
        if (p.revents) {
            ssize_t n = recv(fd, buf + have, need - have, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return;          /* gone */
            if (n > 0 && have == 0)
                begun_at = now;
            have += n > 0 ? (size_t)n : 0;
        }
        if (have == need && !head_done) {
            int r = web_frame_head_parse(buf, have, &h);
            if (r < 0) {
                send_close(conn, CLOSE_PROTOCOL, "not a frame a page may send");
                return;
            }
            if (r > 0 && h.length > WEB_MESSAGE_MAX) {
                char reason[64];
                snprintf(reason, sizeof reason, "message too long: at most %d bytes",
                         WEB_MESSAGE_MAX);
                send_close(conn, CLOSE_TOO_BIG, reason);
                return;
            }
            head_done = r > 0;
            need = h.head_len + (head_done ? (size_t)h.length : 0);
        }
        if (head_done && have == need) {
            char *payload = (char *)buf + h.head_len;
            web_frame_unmask((unsigned char *)payload, (size_t)h.length, h.mask);
            if (h.opcode == WEB_OP_CLOSE) {
                mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, payload,
                                   h.length >= 2 ? 2 : 0);
                return;
            }
            if (h.opcode == WEB_OP_PING)
                mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_PONG, payload, (size_t)h.length);
            else if (h.opcode == WEB_OP_PONG)
                answered_at = now;
            else
                take_frame(slot, addr, h, payload);
            have = 0;
            need = 2;
            head_done = false;
        }
        if (have > 0 && now - begun_at > FRAME_SECONDS) {
            send_close(conn, CLOSE_PROTOCOL, "a frame took too long");
            return;
        }
        if (now - answered_at > SILENT_SECONDS) {
            send_close(conn, CLOSE_GOING_AWAY, "the page stopped reading");
            return;
        }
        if (now >= ping_at) {
            mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_PING, "", 0);
            ping_at = now + PING_SECONDS;
        }
    }
}

/* The page is read by read_page; whatever CivetWeb reads itself comes
 * after the page has been let go. */
int on_data(mg_connection *, int, char *, size_t, void *)
{
    return 0;
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
    stopping = false;
    for (int i = 0; i < WEB_MAX_CLIENTS; i++) {
        slot_ids[i] = i;
        sockets[i] = -1;
    }
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
    /* One worker per open WebSocket, and the spare ones. */
    snprintf(threads, sizeof threads, "%d", WEB_MAX_CLIENTS + SPARE_WORKERS);
    const char *config[] = {
        "listening_ports", listen,
        "num_threads", threads,
        "request_timeout_ms", REQUEST_TIMEOUT_MS,
        "tcp_nodelay", "1",
        "enable_keep_alive", "no",
        nullptr,
    };
    mg_callbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.log_message = log_message;
    callbacks.begin_request = check_host;
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
    {
        /* The pages' readers end at once. */
        std::lock_guard<std::mutex> g(sockets_lock);
        stopping = true;
        for (int &fd : sockets)
            if (fd >= 0)
                shutdown(fd, SHUT_RDWR);
    }
    if (ctx) {
        mg_stop(ctx);
        mg_exit_library();
    }
    ctx = nullptr;
    web_clients_stop();
}
