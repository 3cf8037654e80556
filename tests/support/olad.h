/* olad.h -- a private OLA daemon for tests, benchmarks and demos.
 *
 * Each one gets a configuration directory of its own in /tmp in which
 * every plug-in of olad 0.10.9 is switched off before it starts: the
 * network ones (Art-Net, E1.31, ShowNet, ...) would bind the machine's
 * interface and broadcast, the device ones would probe serial and USB
 * ports. Clients registered on a universe exchange DMX without any of
 * them. It listens for RPC on 127.0.0.1 only (port chosen free, or given,
 * for a restart on the same port), without its web server; as root it
 * runs as the package's "olad" user, since olad refuses root. Nothing
 * here touches the system's own olad service. */
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "support/process.h"
#include "support/tcp.h"

namespace testing_olad {

/* The olad whose plug-ins are listed below; another version may carry
 * plug-ins this list does not switch off, so it is refused. */
inline const char VERSION[] = "0.10.9";

/* Every plug-in olad 0.10.9 loads, by the name of its ola-NAME.conf. */
inline const char *const PLUGINS[] = {
    "artnet", "dummy", "e131", "espnet", "ftdidmx", "gpio", "karate",
    "kinet", "milinst", "opendmx", "openpixelcontrol", "osc", "pathport", "renard",
    "sandnet", "shownet", "spi", "stageprofi", "uartdmx", "usbdmx", "usbserial",
};

struct Olad {
    pid_t pid = -1;
    unsigned short port = 0; /* RPC port on 127.0.0.1 */
    std::string dir;         /* configuration directory, with olad.log */
    std::string error;       /* why the last start failed */
};

inline size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

inline std::string installed_version()
{
    FILE *p = popen("olad --version 2>&1", "r");
    if (!p)
        return "";
    char line[200] = "";
    if (!fgets(line, sizeof line, p))
        line[0] = '\0';
    pclose(p);
    std::string s = line;
    size_t at = s.rfind(' ');
    s = at == std::string::npos ? s : s.substr(at + 1);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

/* The directory with every plug-in switched off, owned by `uid`. */
inline bool make_config(Olad &o, uid_t uid, gid_t gid)
{
    char dir[] = "/tmp/hallolad.XXXXXX";
    if (!mkdtemp(dir))
        return false;
    o.dir = dir;
    for (const char *p : PLUGINS) {
        std::ofstream f(o.dir + "/ola-" + p + ".conf");
        f << "enabled = false\n";
        if (!f)
            return false;
    }
    for (auto &e : std::filesystem::directory_iterator(o.dir))
        if (chown(e.path().c_str(), uid, gid) != 0)
            return false;
    return chown(dir, uid, gid) == 0;
}

inline bool start_on(Olad &o, unsigned short port)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    bool as_root = uid == 0;
    if (as_root) {
        passwd *pw = getpwnam("olad");
        if (!pw) {
            o.error = "no user \"olad\" to run olad as (the ola package creates it)";
            return false;
        }
        uid = pw->pw_uid;
        gid = pw->pw_gid;
    }
    if (o.dir.empty() && !make_config(o, uid, gid)) {
        o.error = "cannot write the configuration directory";
        return false;
    }
    std::string log = o.dir + "/olad.log";
    /* a fresh log for each start, so that the checks below read this one */
    int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string port_text = std::to_string(port);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        /* a process group of its own: a terminal's Ctrl-C goes to the test */
        setpgid(0, 0);
        if (as_root && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
        execlp("olad", "olad", "--config-dir", o.dir.c_str(), "--rpc-port", port_text.c_str(),
               "--no-http", "--no-register-with-dns-sd", "--log-level", "3", (char *)nullptr);
        _exit(127);
    }
    close(log_fd);
    /* about 60 ms on an idle machine; much longer under load */
    for (int waited = 0; waited < 20000; waited += 10) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            o.error = "olad ended at start: " + testing_process::read_file(log);
            return false;
        }
        std::string text = testing_process::read_file(log);
        if (text.find("Trying to start") != std::string::npos) {
            /* belt and braces: a plug-in the list above missed */
            o.error = "olad started a plug-in that was meant to be off: " + text;
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return false;
        }
        /* up once every plug-in was passed over (olad listens for RPC
         * before it loads them) */
        if (count(text, "because it was disabled") >= std::size(PLUGINS) &&
            testing_tcp::port_answers(port)) {
            o.pid = pid;
            o.port = port;
            return true;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    o.error = "olad did not answer on port " + port_text + " within 20 s";
    return false;
}

/* Start olad: on `port`, or on a free port when 0 (trying a few, since
 * another process may take a port between the choice and olad's bind).
 * Reuses o.dir when it is set (a restart). False with o.error set. */
inline bool start(Olad &o, unsigned short port = 0)
{
    std::string v = installed_version();
    if (v != VERSION) {
        o.error = "olad version \"" + v + "\" is not " + VERSION +
                  ", whose plug-ins tests/support/olad.h switches off: check its list";
        return false;
    }
    for (int attempt = 0; attempt < (port ? 1 : 5); attempt++)
        if (start_on(o, port ? port : testing_tcp::free_tcp_port()))
            return true;
    return false;
}

/* Stop olad (SIGTERM, SIGKILL after 5 s); the directory stays for a
 * restart. */
inline void stop(Olad &o)
{
    if (o.pid <= 0)
        return;
    kill(o.pid, SIGTERM);
    for (int waited = 0; waited < 5000; waited += 10) {
        if (waitpid(o.pid, nullptr, WNOHANG) == o.pid) {
            o.pid = -1;
            return;
        }
        usleep(10000);
    }
    kill(o.pid, SIGKILL);
    waitpid(o.pid, nullptr, 0);
    o.pid = -1;
}

/* Stop it and remove its directory. */
inline void remove(Olad &o)
{
    stop(o);
    if (!o.dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(o.dir, ignored);
        o.dir.clear();
    }
}

inline std::string log(const Olad &o)
{
    return testing_process::read_file(o.dir + "/olad.log");
}

} // namespace testing_olad
