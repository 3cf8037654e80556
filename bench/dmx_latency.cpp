/* dmx_latency.cpp -- how long a frame takes from its datagram leaving the
 * producer to its values reaching a client registered on the universe,
 * through dmxout and a private olad; and, in the same run, the floor: the
 * same client receiving the same values sent straight to olad by a
 * minimal OLA sender. Frames go one at a time, in turn on each path (the
 * floor on another universe), 12.5 ms apart, so that each path sees one
 * every 25 ms and dmxout's 44-a-second limit never holds one back. Then dmxout's share of one core while a
 * feed sends 44 frames a second (and 86, the player's pace). */
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "support/ola_client.h"
#include "support/olad.h"
#include "support/process.h"
#include "support/udp.h"

namespace {

const int FRAMES = 1000;
const int WARM_UP = 50;
const double SPACING = 0.025;

struct Figures {
    double median, p99;
};

Figures figures(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[(size_t)(v.size() * 0.99)]};
}

/* A frame numbered i in its first two slots. */
std::vector<uint8_t> numbered(int i)
{
    std::vector<uint8_t> f(60);
    for (int k = 0; k < 60; k++)
        f[k] = (uint8_t)(i * 3 + k);
    f[0] = (uint8_t)(i >> 8);
    f[1] = (uint8_t)i;
    return f;
}

/* Wait for the frame equal to `want` on `universe`; its arrival time, or
 * -1 after 2 s. */
double arrival(testing_ola::Client &c, unsigned universe, const std::vector<uint8_t> &want)
{
    long i = testing_ola::wait_frame(
        c, [&](const testing_ola::Frame &f) { return f.universe == universe && f.data == want; },
        2000, c.frames.size());
    return i < 0 ? -1 : c.frames[i].t;
}

/* CPU seconds a process has run, from the scheduler's own count. */
double cpu_seconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns / 1e9;
}

/* dmxout's share of a core while the feed sends `rate` frames a second
 * for `seconds`, past its start. */
double cpu_share(testing_olad::Olad &olad, int rate, double seconds)
{
    int producer = testing_udp::open_socket(0);
    auto child = testing_process::start(
        {DMXOUT, "--feed", "127.0.0.1:" + std::to_string(testing_udp::local_port(producer)),
         "--ola-port", std::to_string(olad.port), "--universe", "3"});
    bool got = false;
    unsigned short port = 0;
    testing_udp::receive(producer, 5000, &got, &port);
    double share = -1;
    if (got) {
        std::vector<uint8_t> f = numbered(0);
        double start = testing_ola::now(), cpu0 = -1, t0 = 0;
        for (int n = 0;; n++) {
            f[2] = (uint8_t)n;
            testing_udp::send_to(producer, port, f.data(), f.size());
            double due = start + (n + 1.0) / rate;
            double left = due - testing_ola::now();
            if (left > 0)
                usleep((useconds_t)(left * 1e6));
            if (cpu0 < 0 && testing_ola::now() - start >= 1.0) {
                cpu0 = cpu_seconds(child.pid); /* past the start-up */
                t0 = testing_ola::now();
            }
            if (cpu0 >= 0 && testing_ola::now() - t0 >= seconds) {
                share = (cpu_seconds(child.pid) - cpu0) / (testing_ola::now() - t0);
                break;
            }
        }
    }
    testing_process::stop(child);
    close(producer);
    return share;
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    testing_olad::Olad olad;
    if (!testing_olad::start(olad)) {
        printf("dmx_latency: skipped, no private olad: %s\n", olad.error.c_str());
        return 0;
    }
    int status = 0;
    testing_ola::Client client, floor_sender;
    int producer = testing_udp::open_socket(0);
    auto dmxout = testing_process::start(
        {DMXOUT, "--feed", "127.0.0.1:" + std::to_string(testing_udp::local_port(producer)),
         "--ola-port", std::to_string(olad.port), "--universe", "1"});
    bool got = false;
    unsigned short dmxout_port = 0;
    testing_udp::receive(producer, 5000, &got, &dmxout_port);
    if (!got || !testing_ola::connect(client, olad.port) ||
        !testing_ola::connect(floor_sender, olad.port) || !testing_ola::listen(client, 1) ||
        !testing_ola::listen(client, 2)) {
        fprintf(stderr, "dmx_latency: setting up failed: %s\n",
                testing_process::err(dmxout).c_str());
        status = 1;
    }

    /* Each frame goes after the same pause on either path: a process that
     * has just run answers faster than one that has slept, and olad runs
     * on both. (Taking turns at going first would bring two frames through
     * dmxout 12.5 ms apart, and its rate limit would hold one back.) */
    std::vector<double> through, straight;
    double begin = testing_ola::now();
    for (int i = 0; status == 0 && i < WARM_UP + FRAMES; i++) {
        auto frame = numbered(i);
        for (int turn = 0; turn < 2 && status == 0; turn++) {
            double left = begin + SPACING / 2 - testing_ola::now();
            if (left > 0)
                testing_ola::pump(client, (int)(left * 1000));
            begin = testing_ola::now();
            bool via_dmxout = turn == 0;
            if (via_dmxout)
                testing_udp::send_to(producer, dmxout_port, frame.data(), frame.size());
            else
                testing_ola::send(floor_sender, 2, frame);
            double t = arrival(client, via_dmxout ? 1 : 2, frame);
            if (t < 0) {
                fprintf(stderr, "dmx_latency: frame %d lost on the %s\n", i,
                        via_dmxout ? "way through dmxout" : "straight way");
                status = 1;
            } else if (i >= WARM_UP) {
                (via_dmxout ? through : straight).push_back((t - begin) * 1e6);
            }
        }
    }
    testing_process::stop(dmxout);
    testing_ola::close(floor_sender);
    testing_ola::close(client);
    close(producer);

    if (status == 0) {
        Figures a = figures(through), f = figures(straight);
        printf("dmx_latency: %d frames a path, one at a time\n", FRAMES);
        printf("through dmxout:          median %7.1f us   99th percentile %7.1f us\n", a.median,
               a.p99);
        printf("straight (OLA sender):   median %7.1f us   99th percentile %7.1f us\n", f.median,
               f.p99);
        printf("dmxout / straight:       median %.2f   99th percentile %.2f   (target <= 1.2)\n",
               a.median / f.median, a.p99 / f.p99);
        for (int rate : {44, 86}) {
            double share = cpu_share(olad, rate, 5.0);
            printf("dmxout CPU at %d frames/s: %.2f %% of one core%s\n", rate, share * 100,
                   rate == 44 ? " (target under 1 %)" : "");
        }
    }
    testing_olad::remove(olad);
    return status;
}
