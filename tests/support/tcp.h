/* tcp.h -- TCP ports on 127.0.0.1 for tests that start a daemon of their
 * own (olad, mosquitto): one that is free, and whether one answers. */
#ifndef TESTS_SUPPORT_TCP_H
#define TESTS_SUPPORT_TCP_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_tcp {

/* A TCP port on 127.0.0.1 that was free a moment ago. */
inline unsigned short free_tcp_port()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, (sockaddr *)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}

/* True when something accepts TCP connections on 127.0.0.1:port. */
inline bool port_answers(unsigned short port)
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = connect(s, (sockaddr *)&a, sizeof a) == 0;
    close(s);
    return ok;
}

} // namespace testing_tcp

#endif
