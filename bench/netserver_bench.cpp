/* netserver_bench.cpp -- cost of one renderFrame of the network light
 * server with 1, 10, 100 and 1000 subscribers on loopback, set against a
 * bare loop of the same number of 60-byte sendto calls in the same run.
 * The sends are the floor: the ratio shows what the server adds. */
#include <arpa/inet.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "netserver/hall.h"
#include "../tests/support/udp.h"

namespace {

double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

std::vector<int> subscribers;

void drain_all(void)
{
    for (int s : subscribers)
        testing_udp::drain(s);
}

/* Renew every subscriber and let the server take them in. */
void renew_all(void)
{
    int frame[60] = {0};
    for (size_t i = 0; i < subscribers.size(); i++) {
        testing_udp::send_to(subscribers[i], server_port, "A", 1);
        if (i % 100 == 99)
            renderFrame(frame);
    }
    renderFrame(frame);
    drain_all();
}

double time_server(int frames)
{
    int frame[60];
    for (int i = 0; i < 60; i++)
        frame[i] = i * 4;
    double t0 = now();
    for (int f = 0; f < frames; f++)
        renderFrame(frame);
    return (now() - t0) / frames;
}

double time_bare(int sock, const std::vector<sockaddr_in> &to, int frames)
{
    unsigned char packet[60];
    for (int i = 0; i < 60; i++)
        packet[i] = (unsigned char)(i * 4);
    double t0 = now();
    for (int f = 0; f < frames; f++)
        for (const sockaddr_in &a : to)
            sendto(sock, packet, 60, 0, (const sockaddr *)&a, sizeof a);
    return (now() - t0) / frames;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(void)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    struct rlimit lim;
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);

    server_port = testing_udp::free_port();
    if (init_lights() != 0)
        return 1;
    int bare = socket(AF_INET, SOCK_DGRAM, 0);
    fcntl(bare, F_SETFL, O_NONBLOCK);

    printf("%-12s %14s %14s %8s\n", "subscribers", "renderFrame", "bare sendto", "ratio");
    for (int n : {1, 10, 100, 1000}) {
        while ((int)subscribers.size() < n) {
            int s = testing_udp::open_socket();
            if (s < 0) {
                fprintf(stderr, "out of sockets at %zu\n", subscribers.size());
                return 1;
            }
            subscribers.push_back(s);
        }
        std::vector<sockaddr_in> to;
        for (int s : subscribers) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(testing_udp::local_port(s));
            to.push_back(a);
        }
        int frames = n >= 1000 ? 200 : n >= 100 ? 400 : 4000;
        std::vector<double> server, plain;
        for (int round = 0; round < 7; round++) {
            renew_all();
            if (hall_subscriber_count() != n) {
                fprintf(stderr, "expected %d subscribers, have %d\n", n, hall_subscriber_count());
                return 1;
            }
            server.push_back(time_server(frames));
            drain_all();
            plain.push_back(time_bare(bare, to, frames));
            drain_all();
        }
        double s = median(server), p = median(plain);
        printf("%-12d %11.2f us %11.2f us %7.2fx\n", n, s * 1e6, p * 1e6, s / p);
    }
    return 0;
}
