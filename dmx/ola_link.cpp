/* ola_link.cpp -- the connection to olad, on OLA's own client library:
 * a TCP socket to the RPC port, an OlaClient on it, and the descriptor
 * served by the caller's loop instead of OLA's select server, so that the
 * programs keep one loop of their own. See ola_link.h. */
#include "dmx/ola_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dmx/dmx.h"
#include "loop/loop.h"

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>
#include <ola/client/OlaClient.h>
#include <ola/network/TCPSocket.h>

struct ola_link_conn {
    ola::network::TCPSocket *sock;
    ola::client::OlaClient *client;
    ola::DmxBuffer buffer; /* reused for every frame sent */
};

namespace {

/* A connection on this machine is made at once or not at all; this is
 * only slack for a busy machine. */
const int CONNECT_WAIT_MS = 10;

/* olad's answer to a frame sent with ola_link_send_and_wait */
struct answer {
    bool came;
    bool ok;
};

void on_answer(answer *a, const ola::client::Result &result)
{
    a->came = true;
    a->ok = result.Success();
}

/* olad took (or refused) the oldest frame in its hand. While
 * ola_link_send is still under way the answer is OLA's client failing
 * the send itself: the connection is no longer usable. */
void on_taken(ola_link *l, long universe, const ola::client::Result &result)
{
    if (l->sending) {
        l->broken = 1;
        return;
    }
    if (l->in_flight > 0) {
        l->in_flight--;
        memmove(l->sent_at, l->sent_at + 1, (size_t)l->in_flight * sizeof l->sent_at[0]);
    }
    l->answers++;
    if (!result.Success() && !l->refusing)
        fprintf(stderr, "%s: olad on port %u refuses the frames for universe %ld: %s\n", l->who,
                l->port, universe, result.Error().c_str());
    else if (result.Success() && l->refusing)
        printf("%s: olad on port %u takes the frames for universe %ld now\n", l->who, l->port,
               universe);
    l->refusing = !result.Success();
}

/* A TCP connection to olad's RPC port that never holds up the caller: a
 * blocking connect to an olad that is stopped, its queue of new
 * connections full, would wait for minutes. The descriptor, or -1 with
 * the reason in err. */
int connect_olad(unsigned short port, char *err, size_t errlen)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        snprintf(err, errlen, "%s", strerror(errno));
        return -1;
    }
    sockaddr_in olad;
    memset(&olad, 0, sizeof olad);
    olad.sin_family = AF_INET;
    olad.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    olad.sin_port = htons(port);
    int why = 0;
    if (connect(fd, (sockaddr *)&olad, sizeof olad) != 0 && errno != EINPROGRESS) {
        why = errno;
    } else {
        struct pollfd p = {fd, POLLOUT, 0};
        socklen_t len = sizeof why;
        if (poll(&p, 1, CONNECT_WAIT_MS) != 1)
            why = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &why, &len) != 0)
            why = errno;
    }
    if (why == 0)
        return fd;
    if (why == ETIMEDOUT)
        snprintf(err, errlen, "it takes no new connection");
    else
        snprintf(err, errlen, "%s", strerror(why));
    close(fd);
    return -1;
}

void on_dmx(ola_link *l, const ola::client::DMXMetadata &meta, const ola::DmxBuffer &data)
{
    if (!l->on_dmx || (long)meta.universe != l->listen_universe)
        return;
    l->on_dmx(l->user, data.GetRaw(), (int)data.Size());
}

void on_registered(ola_link *l, long universe, const ola::client::Result &result)
{
    if (!result.Success())
        fprintf(stderr, "%s: olad on port %u would not register universe %ld: %s\n", l->who,
                l->port, universe, result.Error().c_str());
}

/* The universe's levels at the time of registering, if it has any. */
void on_fetched(ola_link *l, const ola::client::Result &result,
                const ola::client::DMXMetadata &meta, const ola::DmxBuffer &data)
{
    if (result.Success() && data.Size() > 0)
        on_dmx(l, meta, data);
}

/* Ask for the listened universe's DMX on the open connection. olad
 * passes on only what is sent after the registration, and a console may
 * send seldom: fetch what the universe holds now as well. */
void register_universe(ola_link *l)
{
    unsigned universe = (unsigned)l->listen_universe;
    l->conn->client->RegisterUniverse(universe, ola::client::REGISTER,
                                      ola::NewSingleCallback(on_registered, l,
                                                             l->listen_universe));
    l->conn->client->FetchDMX(universe, ola::NewSingleCallback(on_fetched, l));
}

} // namespace

extern "C" {

void ola_link_init(struct ola_link *l, const char *who, unsigned short port)
{
    l->who = who;
    l->port = port;
    l->conn = nullptr;
    l->listen_universe = -1;
    l->on_dmx = nullptr;
    l->user = nullptr;
    l->in_flight = 0;
    l->answers = 0;
    l->refusing = 0;
    l->sending = 0;
    l->broken = 0;
}

int ola_link_connect(struct ola_link *l, char *err, size_t errlen)
{
    ola_link_close(l);
    int fd = connect_olad(l->port, err, errlen);
    if (fd < 0)
        return -1;
    ola::network::TCPSocket *sock = new ola::network::TCPSocket(fd);
    /* small frames at a steady pace: Nagle's wait for an ack would hold
     * each one back by up to the peer's delayed-ack time */
    sock->SetNoDelay();
    ola_link_conn *c = new ola_link_conn;
    c->sock = sock;
    c->client = new ola::client::OlaClient(sock);
    if (!c->client->Setup()) {
        delete c->client;
        delete sock;
        delete c;
        snprintf(err, errlen, "OLA's client would not start on the connection");
        return -1;
    }
    /* no close handler: the client keeps it after Stop() and it would
     * leak; a closed connection shows as a readable socket with nothing
     * to read (ola_link_service) */
    c->client->SetDMXCallback(ola::NewCallback(on_dmx, l));
    l->conn = c;
    l->in_flight = 0;
    l->answers = 0;
    l->broken = 0;
    if (l->listen_universe >= 0)
        register_universe(l);
    return 0;
}

void ola_link_listen(struct ola_link *l, long universe, ola_link_dmx_fn fn, void *user)
{
    l->listen_universe = universe;
    l->on_dmx = fn;
    l->user = user;
    if (l->conn)
        register_universe(l);
}

int ola_link_fd(const struct ola_link *l)
{
    return l->conn ? l->conn->sock->ReadDescriptor() : -1;
}

int ola_link_service(struct ola_link *l)
{
    if (!l->conn)
        return -1;
    /* readable with nothing to read: the other end has closed */
    if (l->conn->sock->IsClosed()) {
        ola_link_close(l);
        return -1;
    }
    l->conn->sock->PerformRead();
    return 0;
}

int ola_link_ready(const struct ola_link *l)
{
    return l->conn && l->in_flight < (l->answers > 0 ? OLA_LINK_IN_FLIGHT : 1);
}

int ola_link_send(struct ola_link *l, long universe, const unsigned char *slots, int count)
{
    if (!ola_link_ready(l))
        return -1;
    l->conn->buffer.Set(slots, (unsigned)count);
    /* with a completion callback OLA asks olad to answer the frame */
    ola::client::SendDMXArgs args(ola::NewSingleCallback(on_taken, l, universe));
    l->sending = 1;
    l->conn->client->SendDMX((unsigned)universe, l->conn->buffer, args);
    l->sending = 0;
    if (l->broken) {
        ola_link_close(l);
        return -1;
    }
    l->sent_at[l->in_flight++] = loop_now();
    return 0;
}

double ola_link_waiting_since(const struct ola_link *l)
{
    return l->conn && l->in_flight > 0 ? l->sent_at[0] : 0;
}

void ola_link_drain(struct ola_link *l, double seconds)
{
    double end = loop_now() + seconds;
    while (l->conn && l->in_flight > 0) {
        struct pollfd p = {ola_link_fd(l), POLLIN, 0};
        int left_ms = loop_ms_until(end, loop_now());
        if (left_ms <= 0 || poll(&p, 1, left_ms) <= 0 || ola_link_service(l) != 0)
            return;
    }
}

int ola_link_send_and_wait(struct ola_link *l, long universe, const unsigned char *slots,
                           int count, double seconds)
{
    if (!l->conn)
        return -1;
    answer a = {false, false};
    l->conn->buffer.Set(slots, (unsigned)count);
    ola::client::SendDMXArgs args;
    args.callback = ola::NewSingleCallback(on_answer, &a);
    l->conn->client->SendDMX((unsigned)universe, l->conn->buffer, args);
    double end = loop_now() + seconds;
    while (!a.came) {
        double left = end - loop_now();
        struct pollfd p = {ola_link_fd(l), POLLIN, 0};
        if (left <= 0 || poll(&p, 1, (int)(left * 1000) + 1) <= 0)
            return -1;
        if (ola_link_service(l) != 0)
            return -1;
    }
    return a.ok ? 0 : -1;
}

void ola_link_report_unreachable(const struct ola_link *l, const char *why)
{
    if (l->port == DMX_OLA_PORT)
        fprintf(stderr,
                "%s: cannot reach olad on port %u: %s; start it with \"sudo service olad "
                "start\" or run \"olad\" as a user other than root, or name its port with "
                "--ola-port\n",
                l->who, l->port, why);
    else
        fprintf(stderr,
                "%s: cannot reach olad on port %u: %s; start it with \"olad --rpc-port %u\" "
                "as a user other than root\n",
                l->who, l->port, why, l->port);
}

void ola_link_close(struct ola_link *l)
{
    if (!l->conn)
        return;
    ola_link_conn *c = l->conn;
    l->conn = nullptr;
    l->in_flight = 0;
    c->client->Stop();
    delete c->client;
    c->sock->Close();
    delete c->sock;
    delete c;
}

} // extern "C"
