/* dmxout_test.cpp -- dmxout as a process between the test's own feed and
 * a private olad, watched by a client registered on the universe: where
 * the 60 values land (start address, patch file), the master level, the
 * rate limit with the newest frame winning, the repeat of a silent feed,
 * olad going away and coming back, olad stopped under a flood (what the
 * service manager hears meanwhile), and how it ends. */
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <fstream>

#include "dmx_support.h"
#include "support/notify.h"

using namespace dmx_test;
using testing_ola::Frame;

namespace {

std::vector<uint8_t> numbered(int n);
int number_of(const Frame &f, size_t at = 0);

class Dmxout : public WithOlad {
protected:
    Feed feed;
    testing_process::Child child;

    /* Start dmxout on the test's feed and the private olad; waits for its
     * subscription. */
    void start(std::vector<std::string> extra)
    {
        open_feed(feed);
        std::vector<std::string> args{DMXOUT, "--feed", "127.0.0.1:" + std::to_string(feed.port),
                                      "--ola-port", port()};
        args.insert(args.end(), extra.begin(), extra.end());
        child = testing_process::start(args);
        ASSERT_TRUE(wait_subscriber(feed)) << testing_process::err(child);
    }

    /* Send numbered frames from `first` at `rate` a second for `seconds`,
     * serving the client meanwhile; the next number. */
    int flood(int first, int rate, double seconds)
    {
        double start = testing_ola::now();
        int n = first;
        for (; testing_ola::now() - start < seconds; n++) {
            send_frame(feed, numbered(n));
            double left = start + (n - first + 1) / (double)rate - testing_ola::now();
            if (left > 0)
                testing_ola::pump(client, (int)(left * 1000) + 1);
        }
        return n;
    }

    /* Send a frame and wait until the universe carries `expected`; the
     * index of that frame in client.frames, or -1. */
    long deliver(const std::vector<uint8_t> &frame, const std::vector<uint8_t> &expected)
    {
        size_t from = client.frames.size();
        send_frame(feed, frame);
        return testing_ola::wait_frame(
            client, [&](const Frame &f) { return f.data == expected; }, 10000, from);
    }

    void TearDown() override
    {
        testing_process::stop(child);
        if (feed.sock >= 0)
            close(feed.sock);
        WithOlad::TearDown();
    }
};

std::vector<uint8_t> at(int slots, std::initializer_list<std::pair<int, int>> values)
{
    std::vector<uint8_t> d(slots, 0);
    for (auto [address, v] : values)
        d[address - 1] = (uint8_t)v;
    return d;
}

/* A frame numbered n in its first two channels, the rest steady. */
std::vector<uint8_t> numbered(int n)
{
    std::vector<uint8_t> f = distinct_frame();
    f[0] = (uint8_t)(n >> 8);
    f[1] = (uint8_t)(n & 255);
    return f;
}

int number_of(const Frame &f, size_t at)
{
    return f.data.size() >= at + 2 ? f.data[at] * 256 + f.data[at + 1] : -1;
}

} // namespace

TEST_F(Dmxout, TheSixtyValuesLandFromTheStartAddress)
{
    start({});
    auto frame = distinct_frame();
    long i = deliver(frame, frame);
    ASSERT_GE(i, 0) << "addresses 1..60 carry the frame, nothing more";
    EXPECT_EQ(client.frames[i].universe, 1u);
    testing_process::stop(child);
    close(feed.sock);

    /* the last start address that fits: the frame fills slots 453..512 */
    start({"--start", "453", "--universe", "1"});
    frame = distinct_frame(1);
    std::vector<uint8_t> expected(512, 0);
    std::copy(frame.begin(), frame.end(), expected.begin() + 452);
    EXPECT_GE(deliver(frame, expected), 0);

    auto refused = testing_process::start({DMXOUT, "--start", "454", "--ola-port", port()});
    ASSERT_TRUE(testing_process::wait_for(refused, 5000));
    EXPECT_EQ(testing_process::exit_code(refused), 2);
    EXPECT_NE(testing_process::err(refused).find("1 to 453"), std::string::npos)
        << testing_process::err(refused);
}

TEST_F(Dmxout, APatchFilePlacesEachChannelAndTheLevelScalesIt)
{
    std::string path = olad.dir + "/hall.patch";
    std::ofstream p(path);
    p << "# channel 0 on the first pack, 2 and 3 share a dimmer\n"
      << "5, 0, 7, 7,  # box 0\n"
      << "100";
    for (int i = 5; i < 59; i++)
        p << (i % 10 == 0 ? "\n" : " ") << 0;
    p << "\n512 # the far end\n";
    p.close();

    start({"--patch", path, "--level", "128"});
    auto frame = distinct_frame(); /* 10, 14, 18, 22, 26, ... 246 */
    auto expected = at(512, {{5, 10 / 2}, {7, 22 / 2}, {100, 26 / 2}, {512, 246 / 2}});
    EXPECT_GE(deliver(frame, expected), 0)
        << "gaps stay 0, the higher of two channels on one address wins, level 128 halves";

    std::ofstream bad(path);
    bad << "# bad\n1 2 3\n4 x5 6\n";
    bad.close();
    auto refused = testing_process::start({DMXOUT, "--patch", path, "--ola-port", port()});
    ASSERT_TRUE(testing_process::wait_for(refused, 5000));
    EXPECT_EQ(testing_process::exit_code(refused), 2);
    EXPECT_NE(testing_process::err(refused).find(path + ":3: \"x5\""), std::string::npos)
        << testing_process::err(refused);
}

TEST_F(Dmxout, AFloodGoesOutAtMostAtTheRateAndTheNewestFrameWins)
{
    start({});
    size_t from = client.frames.size();
    const int frames = 1500; /* 3 s at 500 frames a second */
    double first_sent = testing_ola::now();
    for (int n = 0; n < frames; n++) {
        send_frame(feed, numbered(n));
        double due = first_sent + (n + 1) * 0.002;
        double left = due - testing_ola::now();
        if (left > 0)
            testing_ola::pump(client, (int)(left * 1000) + 1);
    }
    long last = testing_ola::wait_frame(
        client, [&](const Frame &f) { return number_of(f) == frames - 1; }, 10000, from);
    ASSERT_GE(last, 0) << "the newest frame reaches the universe";

    double window = client.frames[last].t - first_sent;
    long sent = last + 1 - (long)from;
    EXPECT_LE(sent, 45 * window + 2) << sent << " DMX frames in " << window << " s";
    EXPECT_GE(sent, 10) << "a few at least, even on a loaded machine";
    for (long i = from + 1; i <= last; i++)
        EXPECT_GT(number_of(client.frames[i]), number_of(client.frames[i - 1]))
            << "never an older frame after a newer one";
}

TEST_F(Dmxout, ASilentFeedsLastFrameGoesAgainEverySecond)
{
    start({});
    auto frame = distinct_frame();
    long first = deliver(frame, frame);
    ASSERT_GE(first, 0);
    testing_ola::pump(client, 3500);
    long again = (long)client.frames.size() - first - 1;
    EXPECT_GE(again, 2) << "about three repeats in 3.5 s";
    EXPECT_LE(again, 4) << "no more than one a second";
    for (size_t i = first; i < client.frames.size(); i++)
        EXPECT_EQ(client.frames[i].data, frame);
}

TEST_F(Dmxout, KeepsTheFeedWhileOladIsAwayAndCarriesOnWhenItIsBack)
{
    start({});
    ASSERT_GE(deliver(distinct_frame(0), distinct_frame(0)), 0);

    testing_ola::close(client);
    testing_olad::stop(olad);
    EXPECT_TRUE(testing_process::wait_for_output(child, "lost olad", 10000, true));
    send_frame(feed, distinct_frame(1)); /* taken in while olad is away */
    usleep(1500000);                     /* a try or two of olad fail */

    ASSERT_TRUE(testing_olad::start(olad, olad.port)) << olad.error;
    ASSERT_TRUE(testing_ola::connect(client, olad.port));
    ASSERT_TRUE(testing_ola::listen(client, 1));
    auto newest = distinct_frame(1);
    EXPECT_GE(testing_ola::wait_frame(
                  client, [&](const Frame &f) { return f.data == newest; }, 10000),
              0)
        << "the frame that came while olad was away";
    EXPECT_GE(deliver(distinct_frame(2), distinct_frame(2)), 0) << "the feed is still subscribed";

    EXPECT_TRUE(testing_process::wait_for_output(child, "is back", 1000));
    std::string err = testing_process::err(child);
    EXPECT_EQ(testing_olad::count(err, "lost olad"), 1u) << "said once: " << err;
    EXPECT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0) << "still running";
}

/* olad stopped under 512 slots a thousand times a second: the loop goes
 * on, frames are dropped and said, the stuck connection is made again,
 * and after SIGCONT the universe shows the newest frame. */
TEST_F(Dmxout, AStoppedOladCostsFramesButNeverTheUniverse)
{
    testing_notify::Manager manager;
    ASSERT_TRUE(manager.open(1000000));
    start({"--rate", "1000", "--start", "453"});
    manager.close_it_env(); /* for dmxout alone */
    const size_t at = 452; /* the frame's first slot */
    ASSERT_TRUE(manager.wait_for("READY=1", 5000));
    int n = flood(0, 1000, 0.5);
    ASSERT_GE(testing_ola::wait_frame(
                  client, [&](const Frame &f) { return number_of(f, at) > 0; }, 5000),
              0);

    kill(olad.pid, SIGSTOP);
    manager.wait_for("WATCHDOG=1", 500);
    size_t heard = manager.seen.size();
    n = flood(n, 1000, 4.5);
    manager.wait_for("(none)", 0);
    EXPECT_GE(manager.seen.size() - heard, 5u) << "alive every half second while olad stood";
    kill(olad.pid, SIGCONT);
    int newest = n - 1;
    EXPECT_GE(testing_ola::wait_frame(
                  client, [&](const Frame &f) { return number_of(f, at) == newest; }, 10000),
              0)
        << testing_process::out(child) << testing_process::err(child);

    EXPECT_TRUE(testing_process::wait_for_output(child, "is back", 5000));
    std::string out = testing_process::out(child), err = testing_process::err(child);
    EXPECT_NE(out.find("not taking frames; dropping all but the newest"), std::string::npos) << out;
    EXPECT_NE(err.find("has not answered for 3 s; connecting to it again"), std::string::npos)
        << err;
    size_t again = out.find("olad takes frames again; ");
    ASSERT_NE(again, std::string::npos) << out;
    EXPECT_GT(atol(out.c_str() + again + 25), 1000) << "four seconds of a thousand frames";
    EXPECT_TRUE(manager.wait_for("olad up; ", 3000));
    manager.close_it();
}

TEST_F(Dmxout, EndsCleanlyOnSignalsAndRefusesWithoutOlad)
{
    /* SIGINT: exit 0, and the lamps keep their levels */
    start({});
    auto frame = distinct_frame();
    ASSERT_GE(deliver(frame, frame), 0);
    kill(child.pid, SIGINT);
    ASSERT_TRUE(testing_process::wait_for(child, 5000));
    EXPECT_EQ(testing_process::exit_code(child), 0);
    size_t from = client.frames.size();
    testing_ola::pump(client, 300);
    for (size_t i = from; i < client.frames.size(); i++)
        EXPECT_EQ(client.frames[i].data, frame) << "no blackout unless asked for";
    close(feed.sock);

    /* SIGTERM with --blackout-on-exit: all zero first */
    start({"--blackout-on-exit"});
    ASSERT_GE(deliver(frame, frame), 0);
    kill(child.pid, SIGTERM);
    ASSERT_TRUE(testing_process::wait_for(child, 5000));
    EXPECT_EQ(testing_process::exit_code(child), 0);
    std::vector<uint8_t> dark(60, 0);
    EXPECT_GE(testing_ola::wait_frame(
                  client, [&](const Frame &f) { return f.data == dark; }, 5000),
              0);

    /* nothing on the port: one line that says what to do, and 1 */
    unsigned short nobody = testing_tcp::free_tcp_port();
    auto alone = testing_process::start({DMXOUT, "--ola-port", std::to_string(nobody)});
    ASSERT_TRUE(testing_process::wait_for(alone, 5000));
    EXPECT_EQ(testing_process::exit_code(alone), 1);
    std::string err = testing_process::err(alone);
    EXPECT_NE(err.find("cannot reach olad on port " + std::to_string(nobody)), std::string::npos)
        << err;
    EXPECT_NE(err.find("start it with"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}
