/* mosquitto.h -- MQTT for tests and benchmarks: a private broker (Debian's
 * mosquitto with a configuration of its own, on 127.0.0.1 only, nothing
 * kept on disk; anonymous, or with a password file; TLS when given a
 * folder with ca.pem, broker.pem and broker.key) and a hub client on
 * libmosquitto that keeps every message it sees, as a home-automation hub
 * would. Nothing here touches the system's own broker. */
#pragma once

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"
#include "support/tcp.h"

namespace testing_mosquitto {

using Users = std::vector<std::pair<std::string, std::string>>;

struct Broker {
    pid_t pid = -1;
    unsigned short port = 0;
    std::string dir;    /* configuration, password file and log */
    std::string error;  /* why the last start failed */
    Users users;        /* empty: anonymous */
    std::string tls;    /* a folder with ca.pem, broker.pem, broker.key: TLS */
};

/* Write the password file for b.users (mosquitto_passwd hashes them). */
inline bool write_users(Broker &b)
{
    std::string file = b.dir + "/passwd";
    std::ofstream(file).close();
    for (auto &[user, password] : b.users) {
        std::string cmd = "mosquitto_passwd -b '" + file + "' '" + user + "' '" + password + "'";
        if (system(cmd.c_str()) != 0)
            return false;
    }
    return true;
}

inline bool start_on(Broker &b, unsigned short port)
{
    if (b.dir.empty()) {
        char dir[] = "/tmp/hallmosq.XXXXXX";
        if (!mkdtemp(dir))
            return false;
        b.dir = dir;
    }
    if (!b.users.empty() && !write_users(b)) {
        b.error = "mosquitto_passwd failed";
        return false;
    }
    std::ofstream conf(b.dir + "/mosquitto.conf");
    conf << "listener " << port << " 127.0.0.1\n"
         << "persistence false\n"
         << "allow_anonymous " << (b.users.empty() ? "true" : "false") << "\n";
    if (!b.users.empty())
        conf << "password_file " << b.dir << "/passwd\n";
    if (!b.tls.empty())
        conf << "cafile " << b.tls << "/ca.pem\ncertfile " << b.tls << "/broker.pem\nkeyfile "
             << b.tls << "/broker.key\n";
    /* As root it would become the mosquitto user, who cannot read the
     * test's folder. */
    if (geteuid() == 0)
        conf << "user root\n";
    conf.close();
    std::string log = b.dir + "/mosquitto.log";
    pid_t pid = fork();
    if (pid == 0) {
        FILE *out = fopen(log.c_str(), "a");
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
        setpgid(0, 0); /* a terminal's Ctrl-C goes to the test */
        execlp("mosquitto", "mosquitto", "-c", (b.dir + "/mosquitto.conf").c_str(), (char *)nullptr);
        _exit(127);
    }
    for (int waited = 0; waited < 10000; waited += 10) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            b.error = "mosquitto ended at start: " + testing_process::read_file(log);
            return false;
        }
        if (testing_tcp::port_answers(port)) {
            b.pid = pid;
            b.port = port;
            return true;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    b.error = "mosquitto did not listen on port " + std::to_string(port) + " within 10 s";
    return false;
}

/* Start the broker: on `port` (a restart), or on a free one. */
inline bool start(Broker &b, unsigned short port = 0)
{
    for (int attempt = 0; attempt < (port ? 1 : 5); attempt++)
        if (start_on(b, port ? port : testing_tcp::free_tcp_port()))
            return true;
    return false;
}

/* Stop it (SIGKILL: as if it crashed); the folder stays for a restart. */
inline void stop(Broker &b, int sig = SIGTERM)
{
    if (b.pid <= 0)
        return;
    kill(b.pid, sig);
    waitpid(b.pid, nullptr, 0);
    b.pid = -1;
}

/* New users for the running broker: it reads its password file again. */
inline bool change_users(Broker &b, const Users &users)
{
    b.users = users;
    return write_users(b) && kill(b.pid, SIGHUP) == 0;
}

inline void remove(Broker &b)
{
    stop(b);
    std::error_code ignored;
    if (!b.dir.empty())
        std::filesystem::remove_all(b.dir, ignored);
    b.dir.clear();
}

inline std::string log(const Broker &b)
{
    return testing_process::read_file(b.dir + "/mosquitto.log");
}

/* A hub: subscribes to everything and keeps the newest message of each
 * topic (and whether it came retained, i.e. was there before it
 * subscribed). Its own network thread. */
struct Hub {
    struct message {
        std::string payload;
        bool retained = false;
        int count = 0;       /* messages seen on the topic */
    };
    mosquitto *m = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, message> seen;
    bool connected = false;

    explicit Hub(unsigned short port, const char *filter = "#", const char *user = nullptr,
                 const char *password = nullptr, const char *tls_ca = nullptr)
    {
        mosquitto_lib_init();
        m = mosquitto_new(nullptr, true, this);
        if (user)
            mosquitto_username_pw_set(m, user, password);
        if (tls_ca)
            mosquitto_tls_set(m, tls_ca, nullptr, nullptr, nullptr, nullptr);
        mosquitto_connect_callback_set(m, [](mosquitto *, void *self, int rc) {
            Hub *h = (Hub *)self;
            std::lock_guard<std::mutex> g(h->lock);
            h->connected = rc == 0;
            h->changed.notify_all();
        });
        mosquitto_message_callback_set(m, [](mosquitto *, void *self, const mosquitto_message *msg) {
            Hub *h = (Hub *)self;
            std::lock_guard<std::mutex> g(h->lock);
            message &e = h->seen[msg->topic];
            e.payload.assign((const char *)msg->payload, (size_t)msg->payloadlen);
            e.retained = msg->retain;
            e.count++;
            h->changed.notify_all();
        });
        if (mosquitto_connect(m, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS) {
            mosquitto_subscribe(m, nullptr, filter, 1);
            mosquitto_loop_start(m);
        }
    }
    ~Hub()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, true);
        mosquitto_destroy(m);
    }
    /* Wait up to timeout_ms for `ok` to hold of what was seen. */
    bool wait(const std::function<bool(const std::map<std::string, message> &)> &ok,
              int timeout_ms = 5000)
    {
        std::unique_lock<std::mutex> g(lock);
        return changed.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return ok(seen); });
    }
    /* Wait for a payload on a topic that satisfies `ok` (any by default). */
    bool wait_for(const std::string &topic,
                  const std::function<bool(const std::string &)> &ok = nullptr,
                  int timeout_ms = 5000)
    {
        return wait([&](const std::map<std::string, message> &s) {
            auto it = s.find(topic);
            return it != s.end() && (!ok || ok(it->second.payload));
        }, timeout_ms);
    }
    std::string payload(const std::string &topic)
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = seen.find(topic);
        return it == seen.end() ? std::string() : it->second.payload;
    }
    bool retained(const std::string &topic)
    {
        std::lock_guard<std::mutex> g(lock);
        auto it = seen.find(topic);
        return it != seen.end() && it->second.retained;
    }
    void publish(const std::string &topic, const std::string &payload, bool retain = false)
    {
        mosquitto_publish(m, nullptr, topic.c_str(), (int)payload.size(), payload.data(), 1, retain);
    }
};

} // namespace testing_mosquitto
