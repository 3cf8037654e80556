/* dmxin_test.cpp -- dmxin as a process on a private olad, with a test
 * client sending DMX as a console does and a UDP subscriber taking the
 * frames: dark frames first, the newest slots from the start address, a
 * steady pace whatever the console's, olad going away and coming back,
 * and how it refuses and ends. */
#include <signal.h>

#include "dmx_support.h"

using namespace dmx_test;

namespace {

class Dmxin : public WithOlad {
protected:
    testing_process::Child child;
    unsigned short publish_port = 0;
    int subscriber = -1;

    void start(std::vector<std::string> extra)
    {
        publish_port = testing_udp::free_port();
        std::vector<std::string> args{DMXIN, "--port", std::to_string(publish_port),
                                      "--ola-port", port()};
        args.insert(args.end(), extra.begin(), extra.end());
        child = testing_process::start(args);
        subscriber = testing_udp::open_socket(0);
    }

    /* The next frame, subscribing (again) while none comes. */
    std::vector<uint8_t> next_frame(int timeout_ms = 10000)
    {
        for (int waited = 0; waited < timeout_ms; waited += 200) {
            bool got = false;
            auto f = testing_udp::receive(subscriber, 200, &got);
            if (got && f.size() == 60)
                return f;
            testing_udp::send_to(subscriber, publish_port, "A", 1);
        }
        return {};
    }

    /* Frames until one equals `want`; false after timeout_ms. */
    bool wait_for_frame(const std::vector<uint8_t> &want, int timeout_ms = 10000)
    {
        double end = testing_ola::now() + timeout_ms / 1000.0;
        while (testing_ola::now() < end)
            if (next_frame(timeout_ms) == want)
                return true;
        return false;
    }

    void TearDown() override
    {
        testing_process::stop(child);
        if (subscriber >= 0)
            close(subscriber);
        WithOlad::TearDown();
    }
};

/* A console's universe: every slot different from its neighbours. */
std::vector<uint8_t> console(int seed)
{
    std::vector<uint8_t> u(512);
    for (int i = 0; i < 512; i++)
        u[i] = (uint8_t)(i * 7 + seed);
    return u;
}

std::vector<uint8_t> slots_from(const std::vector<uint8_t> &u, int start)
{
    return std::vector<uint8_t>(u.begin() + start - 1, u.begin() + start - 1 + 60);
}

} // namespace

TEST_F(Dmxin, DarkUntilDmxThenTheNewestSlotsAtASteadyPace)
{
    start({"--start", "100"});
    EXPECT_EQ(next_frame(), std::vector<uint8_t>(60, 0)) << "dark before any DMX";

    testing_ola::send(client, 1, console(1));
    EXPECT_TRUE(wait_for_frame(slots_from(console(1), 100)));

    /* the console says nothing more; frames keep coming at the rate */
    testing_udp::drain(subscriber);
    double from = testing_ola::now();
    int frames = 0;
    bool all_newest = true;
    while (testing_ola::now() - from < 2.0) {
        bool got = false;
        auto f = testing_udp::receive(subscriber, 50, &got);
        if (got) {
            frames++;
            all_newest = all_newest && f == slots_from(console(1), 100);
        }
    }
    double window = testing_ola::now() - from;
    EXPECT_LE(frames, 45 * window + 2) << frames << " frames in " << window << " s";
    EXPECT_GE(frames, 11 * window) << "a steady pace, even on a loaded machine";
    EXPECT_TRUE(all_newest);

    /* a short DMX frame: the slots it lacks are dark */
    testing_ola::send(client, 1, std::vector<uint8_t>(130, 9));
    std::vector<uint8_t> expected(60, 0);
    for (int i = 0; i < 31; i++)
        expected[i] = 9;
    EXPECT_TRUE(wait_for_frame(expected));
}

TEST_F(Dmxin, ShowsWhatTheUniverseHoldsAndKeepsPublishingWhileOladIsAway)
{
    /* the console has sent before dmxin starts: its registration fetches it */
    testing_ola::send(client, 1, console(2));
    ASSERT_TRUE(testing_ola::listen(client, 1)) << "a round trip: olad has the levels";
    start({});
    ASSERT_TRUE(wait_for_frame(slots_from(console(2), 1)));

    testing_ola::close(client);
    testing_olad::stop(olad);
    EXPECT_TRUE(testing_process::wait_for_output(child, "lost olad", 10000, true));
    testing_udp::drain(subscriber);
    EXPECT_EQ(next_frame(), slots_from(console(2), 1)) << "the last levels go on";

    ASSERT_TRUE(testing_olad::start(olad, olad.port)) << olad.error;
    EXPECT_TRUE(testing_process::wait_for_output(child, "is back", 10000));
    ASSERT_TRUE(testing_ola::connect(client, olad.port));
    testing_ola::send(client, 1, console(3));
    EXPECT_TRUE(wait_for_frame(slots_from(console(3), 1)));
    EXPECT_EQ(testing_olad::count(testing_process::err(child), "lost olad"), 1u);
}

TEST_F(Dmxin, RefusesAPortInUseOrNoOladAndEndsCleanlyOnSignals)
{
    int holder = testing_udp::hold_port(0);
    unsigned short held = testing_udp::local_port(holder);
    auto busy = testing_process::start({DMXIN, "--port", std::to_string(held), "--ola-port", port()});
    ASSERT_TRUE(testing_process::wait_for(busy, 5000));
    EXPECT_EQ(testing_process::exit_code(busy), 1);
    EXPECT_NE(testing_process::err(busy).find("cannot publish on UDP port " + std::to_string(held)),
              std::string::npos)
        << testing_process::err(busy);
    close(holder);

    unsigned short nobody = testing_tcp::free_tcp_port();
    auto alone = testing_process::start(
        {DMXIN, "--port", std::to_string(testing_udp::free_port()), "--ola-port",
         std::to_string(nobody)});
    ASSERT_TRUE(testing_process::wait_for(alone, 5000));
    EXPECT_EQ(testing_process::exit_code(alone), 1);
    EXPECT_NE(testing_process::err(alone).find("cannot reach olad on port " + std::to_string(nobody)),
              std::string::npos)
        << testing_process::err(alone);

    auto bad = testing_process::start({DMXIN, "--rate", "0"});
    ASSERT_TRUE(testing_process::wait_for(bad, 5000));
    EXPECT_EQ(testing_process::exit_code(bad), 2);

    for (int sig : {SIGINT, SIGTERM}) {
        start({});
        ASSERT_FALSE(next_frame().empty());
        kill(child.pid, sig);
        ASSERT_TRUE(testing_process::wait_for(child, 5000));
        EXPECT_EQ(testing_process::exit_code(child), 0);
        close(subscriber);
        subscriber = -1;
    }
}
