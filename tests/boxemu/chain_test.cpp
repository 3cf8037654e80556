/* chain_test.cpp -- the real box driver writing to the real emulator: a
 * producer socket on 127.0.0.1:7878 (the driver's "Main Music" feed), the
 * driver on boxemu's pseudo-terminal, and a subscriber to the lamps.
 * Numbered frames show how far the lamps are behind the feed. Holds the
 * port_7878 lock. */
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "boxdriver/console_support.h"
#include "boxemu/emu_support.h"

using namespace emu_test;

namespace {

const std::string BIN = std::string(HALL_BINARY_DIR) + "/bin/";

class Chain : public ::testing::Test {
protected:
    int producer = -1;
    unsigned short first_port = 0;
    std::string dir;  /* the driver's working directory (hall_config) */
    Emulator emu;
    Subscriber lamps;
    testing_process::Child driver;
    unsigned short driver_port = 0;

    void SetUp() override
    {
        producer = testing_udp::open_socket(7878);
        ASSERT_GE(producer, 0) << "port 7878 is taken";
        first_port = box_test::free_port_run(4);
        ASSERT_NE(first_port, 0);
        dir = box_test::temp_dir();
    }
    void TearDown() override
    {
        testing_process::stop(driver);
        emu.stop();
        lamps.close_it();
        if (producer >= 0)
            close(producer);
        unlink((dir + "/hall_config").c_str());
        rmdir(dir.c_str());
    }

    void start_emulator(const std::string &baud = "38400")
    {
        ASSERT_TRUE(emu.start(BIN + "boxemu", {"--baud", baud})) << emu.out() << emu.err();
        lamps.open(emu.port);
        unsigned char first[60];
        ASSERT_TRUE(lamps.next(first, 5000)) << "the emulator publishes the lamps";
    }
    /* The driver on the emulator's line, its feed socket on `port`;
     * returns once it has subscribed to the producer. */
    void start_driver(const std::string &program = "boxdriver", int port_offset = 0)
    {
        driver_port = (unsigned short)(first_port + port_offset);
        driver = testing_process::start({BIN + program, "--device", emu.device, "--local-port",
                                         std::to_string(driver_port)},
                                        -1, dir.c_str());
        long long deadline = now_ns() + 10000000000LL;
        while (now_ns() < deadline) {
            bool got = false;
            unsigned short from = 0;
            auto b = testing_udp::receive(producer, 100, &got, &from);
            if (got && from == driver_port && b == std::vector<unsigned char>{'A'})
                return;
        }
        FAIL() << "no subscription from the driver: " << testing_process::err(driver);
    }
    void send(const unsigned char frame[60])
    {
        testing_udp::send_to(producer, driver_port, frame, 60);
    }

    /* Feed numbered frames at `fps` for `seconds` while watching the lamps.
     * Each lamp frame seen gives a lag: how many frames the newest one sent
     * is ahead of it. Returns (time, lag) pairs. With `seen`, the numbers
     * shown are collected, and a frame is not sent before the one before
     * it has been shown (or a second has passed): a driver that a busy
     * machine holds up then never finds two frames waiting, of which it
     * would rightly show only the newer. */
    std::vector<std::pair<long long, long>> feed(double fps, double seconds,
                                                 std::set<long> *seen = nullptr)
    {
        std::vector<std::pair<long long, long>> lags;
        long long period = (long long)(1e9 / fps);
        long long start = now_ns(), next = start, end = start + (long long)(seconds * 1e9);
        long sent = -1, newest = -1;
        unsigned char frame[60];
        while (now_ns() < end) {
            bool shown = !seen || newest == sent || now_ns() >= next + 1000000000LL;
            if (now_ns() >= next && shown) {
                number_frame(++sent, frame, 255);
                send(frame);
                /* a late turn (a busy machine) never sends a burst */
                next = std::max(next + period, now_ns() + period * 3 / 4);
                if (sent % 100 == 0)
                    lamps.renew();
            }
            long long wait = std::max(next - now_ns(), 1000000LL);
            unsigned char lit[60];
            if (sent >= 0 && lamps.next(lit, (int)(wait / 1000000))) {
                int n = frame_number(lit);
                if (n >= 0) {
                    long m = unwrap_number(n, sent);
                    lags.push_back({now_ns(), sent - m});
                    newest = std::max(newest, m);
                    if (seen)
                        seen->insert(m);
                }
            }
        }
        return lags;
    }
};

long median_lag(const std::vector<std::pair<long long, long>> &lags, long long from, long long to)
{
    std::vector<long> in;
    for (auto &l : lags)
        if (l.first >= from && l.first < to)
            in.push_back(l.second);
    if (in.empty())
        return -1;
    std::sort(in.begin(), in.end());
    return in[in.size() / 2];
}

/* Fed faster than the line carries frames, the lamps stay a few frames
 * behind the feed, and no more behind in the last second than in the
 * first: the driver hands the line the newest frame, not a queue. */
void lamps_follow_the_feed(const std::vector<std::pair<long long, long>> &lags,
                           long most_behind)
{
    ASSERT_GT(lags.size(), 50u);
    long long first = lags.front().first, last = lags.back().first;
    long early = median_lag(lags, first, first + 1000000000LL);
    long late = median_lag(lags, last - 1000000000LL, last + 1);
    EXPECT_LE(late, most_behind) << "lamps " << late << " frames behind the feed";
    EXPECT_LE(late, early + 2) << "the lag grew from " << early << " to " << late << " frames";
}

/* The figures the driver shows under its menu, line by line: frames the
 * line carried a second, and frames replaced a second. */
std::vector<std::pair<long, long>> line_figures(const std::string &out)
{
    std::vector<std::pair<long, long>> figures;
    for (size_t at = out.find("Line: "); at != std::string::npos; at = out.find("Line: ", at + 1)) {
        long carried, replaced;
        if (sscanf(out.c_str() + at, "Line: %ld frames/s, %ld frames/s replaced", &carried,
                   &replaced) == 2)
            figures.push_back({carried, replaced});
    }
    return figures;
}

TEST_F(Chain, At86FramesASecondTheLampsFollowWithoutDrift)
{
    start_emulator();
    start_driver();
    /* 86 frames a second are 11.6 ms apart; the line takes 25.8 ms a
     * frame: at most one frame waits while another goes out, so a frame
     * is on the lamps some 2 to 5 frames after it was sent. */
    lamps_follow_the_feed(feed(86, 4.5), 7);

    /* the operator sees the feed outrun the line */
    auto figures = line_figures(testing_process::out(driver));
    ASSERT_FALSE(figures.empty()) << testing_process::out(driver);
    long most_replaced = 0;
    for (auto &f : figures) {
        /* 38.8 a second, and a window of a second may hold one frame
         * more at its edges */
        EXPECT_LE(f.first, 40) << "never more than the line carries";
        most_replaced = std::max(most_replaced, f.second);
    }
    EXPECT_GT(most_replaced, 0);
}

TEST_F(Chain, TheFasterBuildFollowsItsFasterLine)
{
    start_emulator("57600");
    start_driver("boxdriver57600");
    lamps_follow_the_feed(feed(86, 4.5), 6);
}

TEST_F(Chain, SlowerThanTheLineEveryFrameArrives)
{
    start_emulator();
    start_driver();
    std::set<long> seen;
    feed(20, 2.5, &seen);
    ASSERT_FALSE(seen.empty());
    long newest = *seen.rbegin();
    EXPECT_GE(newest, 30) << "some 50 frames go in 2.5 s";
    for (long n = 0; n < newest; n++)
        EXPECT_TRUE(seen.count(n)) << "frame " << n << " never reached the lamps";
    auto figures = line_figures(testing_process::out(driver));
    ASSERT_FALSE(figures.empty()) << testing_process::out(driver);
    for (auto &f : figures)
        EXPECT_EQ(f.second, 0) << "nothing waits for a line that keeps up";
}

TEST_F(Chain, LevelsComeBackAsTheTableExpressesThemInTheMappedPlaces)
{
    /* frame channel k is wired to hardware channel 59 - k */
    std::ofstream config(dir + "/hall_config");
    for (int k = 0; k < 60; k++)
        config << (59 - k) / 6 + 1 << " " << (59 - k) % 6 + 1 << "\n";
    config.close();
    start_emulator();
    start_driver();

    for (int f = 0; f < 5; f++) {
        unsigned char frame[60], want[60], last[60] = {0};
        for (int k = 0; k < 60; k++) {
            frame[k] = (unsigned char)((f * 60 + k) % 256);
            want[59 - k] = (unsigned char)boxline_level(boxline_delay(frame[k]));
        }
        send(frame);
        EXPECT_TRUE(lamps.wait_for(
            [&](unsigned char *got) { return std::equal(got, got + 60, want); }, 5000, last))
            << "levels " << f * 60 << " on; lamp 0 shows " << (int)last[0] << ", wants "
            << (int)want[0];
    }
}

TEST_F(Chain, ADriverStartedAgainOnTheSameLineDrivesIt)
{
    start_emulator();
    for (int run = 0; run < 2; run++) {
        start_driver("boxdriver", run);
        unsigned char frame[60], last[60];
        number_frame(run + 1, frame, 255);
        send(frame);
        EXPECT_TRUE(lamps.wait_for([&](unsigned char *f) { return frame_number(f) == run + 1; },
                                   5000, last))
            << "run " << run << ": " << testing_process::err(driver);
        EXPECT_EQ(testing_process::err(driver).find("tcsetattr"), std::string::npos)
            << testing_process::err(driver);
        /* the emulator has seen this driver's settings (and put its own
         * back) before the next driver sets the line up */
        long long deadline = now_ns() + 5000000000LL;
        while (box_test::count_of(emu.out(), "the driver set the line to 38400 baud") <
                   (size_t)run + 1 && now_ns() < deadline)
            usleep(20000);
        testing_process::stop(driver);
    }
}

} // namespace
