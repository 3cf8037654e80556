/* notify.h -- a service manager's end of the notify protocol for tests: a
 * datagram socket a program under test finds through NOTIFY_SOCKET, and
 * the messages it has sent ("READY=1\nSTATUS=...", "WATCHDOG=1"). */
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testing_notify {

struct Manager {
    int sock = -1;
    std::string path;
    std::vector<std::string> seen;   /* every message, in order */

    /* Bind a fresh socket and point NOTIFY_SOCKET (and, with a watchdog,
     * WATCHDOG_USEC) of programs started from now on at it. */
    bool open(long watchdog_usec = 0)
    {
        char dir[] = "/tmp/hallnotifyXXXXXX";
        if (!mkdtemp(dir))
            return false;
        path = std::string(dir) + "/notify";
        sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        if (bind(sock, (sockaddr *)&a, sizeof a) != 0)
            return false;
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        if (watchdog_usec > 0)
            setenv("WATCHDOG_USEC", std::to_string(watchdog_usec).c_str(), 1);
        return true;
    }
    /* Stop pointing programs started from now on here (those started
     * already keep sending). */
    void close_it_env()
    {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
    }
    /* Stop pointing programs here, and remove the socket. */
    void close_it()
    {
        close_it_env();
        if (sock >= 0)
            ::close(sock);
        sock = -1;
        unlink(path.c_str());
        rmdir(path.substr(0, path.rfind('/')).c_str());
    }
    /* Take what has arrived, waiting up to timeout_ms for a message that
     * holds `text`; true once one does. */
    bool wait_for(const std::string &text, int timeout_ms)
    {
        for (const auto &m : seen)
            if (m.find(text) != std::string::npos)
                return true;
        for (int waited = 0; waited <= timeout_ms; waited += 20) {
            pollfd p{sock, POLLIN, 0};
            while (poll(&p, 1, 20) == 1) {
                char buf[4096];
                ssize_t n = recv(sock, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                seen.emplace_back(buf, (size_t)n);
                if (seen.back().find(text) != std::string::npos)
                    return true;
            }
        }
        return false;
    }
};

} // namespace testing_notify
