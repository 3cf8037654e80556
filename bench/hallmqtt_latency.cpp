/* hallmqtt_latency.cpp -- how long a command from the hub takes to reach
 * the lamps: a brightness command published to the broker goes through
 * hallmqtt to the box driver's control socket, the driver scales the
 * feed's frames, and boxemu shows what the boxes show at 38400 baud. For
 * scale, in the same run: the same change sent as keys straight to the
 * driver's control socket, and a bare MQTT message from one client to
 * another through the broker. Then the show: glimhost plays silence,
 * feeding the driver on 7879, and the hub switches between a pattern that
 * stays dark in silence and one that lights a stripe, through hallmqtt and
 * glimhost's control socket; for scale, the same commands straight to
 * that socket. Then the broker is killed and started again after a few
 * pauses, and the time from its restart until the bridge is back
 * ("online" again) is printed. A private mosquitto; the feed comes from
 * this program on port 7878, the show on 7879: both must be free. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "boxemu/emu_support.h"
#include "support/mosquitto.h"

using namespace emu_test;
using testing_mosquitto::Broker;
using testing_mosquitto::Hub;

namespace {

const int TRIALS = 30;
const double FEED_FPS = 86;

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[(size_t)(p * (double)(v.size() - 1) + 0.5)];
}

void report(const char *what, const std::vector<double> &ms)
{
    printf("hallmqtt_latency: %-44s median %6.1f ms, 90th percentile %6.1f ms, worst %6.1f ms "
           "(%zu)\n",
           what, percentile(ms, 0.5), percentile(ms, 0.9), percentile(ms, 1.0), ms.size());
}

/* Whether the lamps show the bright (level 256) or the half (128) frame. */
bool shows(const unsigned char lamps[60], bool bright)
{
    return bright ? lamps[0] > 200 : lamps[0] > 60 && lamps[0] < 170;
}

/* Whether the lamps show a lit stripe (some lamps near full), or are all
 * dark. */
bool lit(const unsigned char lamps[60], bool stripe)
{
    int bright = 0, dark = 0;
    for (int i = 0; i < 60; i++) {
        bright += lamps[i] > 200;
        dark += lamps[i] < 8;
    }
    return stripe ? bright >= 10 : dark == 60;
}

/* Milliseconds from now until the lamps show the wanted frame; -1 after 3 s. */
double until_lamps(Subscriber &lamps, bool bright, long long since)
{
    unsigned char frame[60];
    if (!lamps.wait_for([&](const unsigned char *f) { return shows(f, bright); }, 3000, frame))
        return -1;
    return (double)(now_ns() - since) / 1e6;
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    int producer = testing_udp::open_socket(7878);
    if (producer < 0) {
        fprintf(stderr, "hallmqtt_latency: port 7878 is in use\n");
        return 1;
    }
    Broker broker;
    if (!testing_mosquitto::start(broker)) {
        fprintf(stderr, "hallmqtt_latency: %s\n", broker.error.c_str());
        return 1;
    }
    Emulator emu;
    if (!emu.start(BOXEMU)) {
        fprintf(stderr, "hallmqtt_latency: boxemu did not start: %s\n", emu.err().c_str());
        return 1;
    }
    Subscriber lamps;
    lamps.open(emu.port);
    unsigned short driver_port = testing_udp::free_port(), control = testing_udp::free_port();
    auto driver = testing_process::start({BOXDRIVER, "--device", emu.device, "--local-port",
                                          std::to_string(driver_port), "--control",
                                          std::to_string(control)});
    bool got = false;
    unsigned short from = 0;
    for (int tries = 0; tries < 50 && !(got && from == driver_port); tries++)
        testing_udp::receive(producer, 100, &got, &from);
    std::atomic<bool> feeding{true};
    std::thread feed([&] {
        unsigned char frame[60];
        memset(frame, 255, sizeof frame);
        for (long long next = now_ns(); feeding; next += (long long)(1e9 / FEED_FPS)) {
            testing_udp::send_to(producer, driver_port, frame, 60);
            long long wait = next - now_ns();
            if (wait > 0)
                usleep((useconds_t)(wait / 1000));
        }
    });
    /* The show: silence, so that a pattern alone decides what is lit. */
    char music[] = "/tmp/hallmqtt_latency_XXXXXX";
    int music_fd = mkstemp(music);
    const uint32_t rate = 44100, seconds = 120, bytes = rate * 4 * seconds, riff = 36 + bytes;
    const uint32_t fmt[] = {16, 1 | 2 << 16, rate, rate * 4, 4 | 16 << 16};
    std::string wav = "RIFF" + std::string((const char *)&riff, 4) + "WAVEfmt " +
                      std::string((const char *)fmt, sizeof fmt) + "data" +
                      std::string((const char *)&bytes, 4) + std::string(bytes, '\0');
    if (music_fd < 0 || write(music_fd, wav.data(), wav.size()) != (ssize_t)wav.size())
        return 1;
    close(music_fd);
    unsigned short show_control = testing_udp::free_port();
    auto show = testing_process::start({GLIMHOST, "--headless", "--mute", "--port", "7879",
                                        "--control", std::to_string(show_control), music});
    auto bridge = testing_process::start({HALLMQTT, "--broker",
                                          "127.0.0.1:" + std::to_string(broker.port), "--driver",
                                          "127.0.0.1:" + std::to_string(control), "--show",
                                          "127.0.0.1:" + std::to_string(show_control)});
    int status = 0;
    {
        Hub hub(broker.port, "hallway/#");
        Hub pinged(broker.port, "bench/ping");
        if (!hub.wait_for("hallway/driver/status", [](const std::string &p) { return p == "online"; })) {
            fprintf(stderr, "hallmqtt_latency: the bridge did not come up: %s\n",
                    testing_process::err(bridge).c_str());
            status = 1;
        }
        std::vector<double> command, keys, message;
        int asker = testing_udp::open_socket();
        for (int i = 0; i < TRIALS && status == 0; i++) {
            bool bright = i % 2 == 1;  /* the driver starts at 256: first to half */
            lamps.renew();
            testing_udp::drain(lamps.sock);
            long long t0 = now_ns();
            hub.publish("hallway/light/set",
                        bright ? "{\"state\":\"ON\",\"brightness\":255}"
                               : "{\"state\":\"ON\",\"brightness\":128}");
            command.push_back(until_lamps(lamps, bright, t0));
            usleep(200000);

            /* The same change (eight level keys) straight to the
             * driver's control socket: back, and there again. */
            for (bool to_bright : {!bright, bright}) {
                testing_udp::drain(lamps.sock);
                t0 = now_ns();
                for (int step = 0; step < 8; step++)
                    testing_udp::send_to(asker, control, to_bright ? "u" : "d", 1);
                keys.push_back(until_lamps(lamps, to_bright, t0));
                usleep(200000);
            }

            int before = 0;
            pinged.wait([&](const auto &s) {
                auto it = s.find("bench/ping");
                before = it == s.end() ? 0 : it->second.count;
                return true;
            }, 0);
            t0 = now_ns();
            hub.publish("bench/ping", "x");
            pinged.wait([&](const auto &s) {
                auto it = s.find("bench/ping");
                return it != s.end() && it->second.count > before;
            });
            message.push_back((double)(now_ns() - t0) / 1e6);
        }
        close(asker);
        printf("hallmqtt_latency: a feed at %.0f frames/s of full levels through the box driver "
               "and boxemu (38400 baud, %.1f ms a frame)\n",
               FEED_FPS, boxline_line_ns(38400, BOXLINE_FRAME_BYTES) / 1e6);
        report("MQTT brightness command to the lamps:", command);
        report("floor: the same as keys to the driver:", keys);
        report("floor: an MQTT message through the broker:", message);
        printf("hallmqtt_latency: command over keys, ratio of medians: %.2f\n",
               percentile(command, 0.5) / percentile(keys, 0.5));

        /* The show's patterns on the lamps: the driver on its "Test
         * pattern" feed (7879), where the show plays. */
        std::vector<double> pattern, direct;
        int asker2 = testing_udp::open_socket();
        std::string answer;
        for (int tries = 0; tries < 50 && answer.find("\"feed\":1,") == std::string::npos;
             tries++) {
            testing_udp::send_to(asker2, control, "1", 1);
            auto line = testing_udp::receive(asker2, 100);
            answer.assign(line.begin(), line.end());
        }
        if (status == 0 &&
            !hub.wait_for("hallway/show/status", [](const std::string &p) { return p == "online"; },
                          20000)) {
            fprintf(stderr, "hallmqtt_latency: the show does not answer: %s\n",
                    testing_process::err(show).c_str());
            status = 1;
        }
        /* Timed: dark to the stripe, the moment a pattern's first frames
         * show (going dark, the patterns fade out over some 200 ms). */
        auto to_pattern = [&](bool stripe, bool over_mqtt) {
            const char *name = stripe ? "spinning_stripe" : "brightness_level";
            std::string text = std::string("pattern ") + name;
            lamps.renew();
            testing_udp::drain(lamps.sock);
            long long t0 = now_ns();
            if (over_mqtt)
                hub.publish("hallway/show/pattern/set", name);
            else
                testing_udp::send_to(asker2, show_control, text.data(), text.size());
            unsigned char frame[60];
            bool shown = lamps.wait_for([&](const unsigned char *f) { return lit(f, stripe); },
                                        3000, frame);
            return shown ? (double)(now_ns() - t0) / 1e6 : -1;
        };
        for (int i = 0; i < TRIALS && status == 0; i++) {
            for (bool over_mqtt : {true, false}) {
                to_pattern(false, false);
                usleep(100000);
                (over_mqtt ? pattern : direct).push_back(to_pattern(true, over_mqtt));
                usleep(100000);
            }
        }
        close(asker2);
        printf("hallmqtt_latency: the show (glimhost, silence, %.1f callbacks/s) on the lamps\n",
               rate / 512.0);
        report("MQTT pattern command to the lamps:", pattern);
        report("floor: the same to the show's socket:", direct);
        printf("hallmqtt_latency: pattern command over the show's socket, ratio of medians: "
               "%.2f\n",
               percentile(pattern, 0.5) / percentile(direct, 0.5));
    }

    /* The broker killed and started again after a pause: from its start
     * until the bridge has said it is online again. */
    unsigned short port = broker.port;
    for (double down : {0.5, 1.5, 3.0, 6.0, 12.0}) {
        if (status)
            break;
        testing_mosquitto::stop(broker, SIGKILL);
        usleep((useconds_t)(down * 1e6));
        if (!testing_mosquitto::start(broker, port)) {
            fprintf(stderr, "hallmqtt_latency: %s\n", broker.error.c_str());
            status = 1;
            break;
        }
        long long t0 = now_ns();
        Hub hub(broker.port, "hallway/status");
        bool back = hub.wait_for("hallway/status", [](const std::string &p) { return p == "online"; },
                                 30000);
        printf("hallmqtt_latency: broker down %4.1f s, then the bridge back %s %5.2f s after its "
               "restart\n",
               down, back ? "online" : "NOT online within", (double)(now_ns() - t0) / 1e9);
    }
    feeding = false;
    feed.join();
    testing_process::stop(bridge);
    testing_process::stop(show);
    unlink(music);
    testing_process::stop(driver);
    emu.stop();
    testing_mosquitto::remove(broker);
    return status;
}
