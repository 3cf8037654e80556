/* faults_test.cpp -- the box driver through faults, end to end with the
 * real emulator at the boxes' end: a line that is missing at start, pulled
 * and put back (the emulator ended and started again on the same link);
 * what it tells the service manager; and a feed that only its producer can
 * drive, whatever another host sends or a poller asks. Holds the port_7878
 * lock: the test is the "Main Music" producer. */
#include <gtest/gtest.h>

#include "boxdriver/console_support.h"
#include "boxemu/emu_support.h"
#include "support/notify.h"

using namespace emu_test;

namespace {

const std::string BIN = std::string(HALL_BINARY_DIR) + "/bin/";

class Faults : public ::testing::Test {
protected:
    int producer = -1;
    unsigned short driver_port = 0;
    std::string dir;
    testing_process::Child driver;
    Emulator emu;
    Subscriber lamps;

    void SetUp() override
    {
        producer = testing_udp::open_socket(7878);
        ASSERT_GE(producer, 0) << "port 7878 is taken";
        driver_port = box_test::free_port_run(2);
        dir = box_test::temp_dir();
    }
    void TearDown() override
    {
        testing_process::stop(driver);
        emu.stop();
        lamps.close_it();
        close(producer);
        rmdir(dir.c_str());
    }
    void start_driver(const std::string &program, const std::string &device,
                      std::vector<std::string> extra = {})
    {
        std::vector<std::string> argv{BIN + program, "--device", device, "--local-port",
                                      std::to_string(driver_port)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        driver = testing_process::start(argv, -1, dir.c_str());
    }
    void start_emulator(const std::string &baud, const std::string &link)
    {
        lamps.close_it();
        ASSERT_TRUE(emu.start(BIN + "boxemu", {"--baud", baud, "--link", link})) << emu.err();
        lamps.open(emu.port);
    }
    bool said(const std::string &text, int timeout_ms = 5000)
    {
        return testing_process::wait_for_output(driver, text, timeout_ms);
    }
    /* Send frame n from `from` until the lamps show it; false after 5 s. */
    bool shown(long n, int from = -1)
    {
        unsigned char frame[60], lit[60];
        number_frame(n, frame, 255);
        for (int i = 0; i < 50; i++) {
            testing_udp::send_to(from >= 0 ? from : producer, driver_port, frame, 60);
            if (lamps.wait_for([&](const unsigned char *f) { return frame_number(f) == n; },
                               100, lit))
                return true;
        }
        return false;
    }
};

/* Missing at start, opened when it appears; pulled, and back with the
 * newest frame at once; the service manager told all along. */
TEST_F(Faults, TheDriverKeepsItsLineThroughBothBuilds)
{
    for (auto build : {std::pair<std::string, std::string>{"boxdriver", "38400"},
                       {"boxdriver57600", "57600"}}) {
        SCOPED_TRACE(build.first);
        std::string link = dir + "/line";
        testing_notify::Manager manager;
        ASSERT_TRUE(manager.open(2000000));
        start_driver(build.first, link);
        unsetenv("NOTIFY_SOCKET"); /* for the driver alone */
        ASSERT_TRUE(said("Line lost: " + link + " (No such file or directory)"));
        EXPECT_TRUE(manager.wait_for("READY=1", 5000));
        EXPECT_TRUE(manager.wait_for("line lost", 5000));

        start_emulator(build.second, link);
        ASSERT_TRUE(said("Line back: " + link));
        ASSERT_TRUE(shown(1));
        EXPECT_TRUE(manager.wait_for("line up", 5000));
        EXPECT_TRUE(manager.wait_for("WATCHDOG=1", 5000));

        emu.stop();
        ASSERT_TRUE(said("Line lost: " + link + " ("));
        unsigned char frame[60], lit[60];
        for (long n = 2; n <= 5; n++) { /* the line is gone: only the newest waits */
            number_frame(n, frame, 255);
            testing_udp::send_to(producer, driver_port, frame, 60);
            usleep(50000);
        }
        start_emulator(build.second, link);
        ASSERT_TRUE(said("Line back: " + link, 5000));
        EXPECT_TRUE(lamps.wait_for([](const unsigned char *f) { return frame_number(f) >= 0; },
                                   3000, lit));
        EXPECT_EQ(frame_number(lit), 5) << "the newest frame, at once";
        EXPECT_EQ(box_test::count_of(testing_process::out(driver), "Line lost"), 2u)
            << "said once a loss";
        testing_process::stop(driver);
        emu.stop();
        manager.close_it();
    }
}

/* Frames from another host never reach the lamps, while the producer's
 * do; a poller asking ten times a second changes nothing about liveness. */
TEST_F(Faults, OnlyTheProducerDrivesAndPollingIsNoFeed)
{
    std::string link = dir + "/line";
    start_emulator("38400", link);
    unsigned short control = testing_udp::free_port();
    start_driver("boxdriver", link, {"--control", std::to_string(control)});
    ASSERT_TRUE(said("sock: "));
    ASSERT_TRUE(shown(1));

    int stranger = testing_udp::bind_socket(0x7f000002, 0);
    int poller = testing_udp::open_socket(0);
    unsigned char frame[60], lit[60];
    for (int tick = 0; tick < 50; tick++) { /* 5 s */
        number_frame(100 + tick, frame, 255);
        testing_udp::send_to(producer, driver_port, frame, 60);
        number_frame(4000 + tick, frame, 255);
        testing_udp::send_to(stranger, driver_port, frame, 60);
        testing_udp::send_to(poller, control, "?", 1);
        while (lamps.next(lit, 0)) {
            int n = frame_number(lit);
            ASSERT_TRUE(n < 4000) << "a stranger's frame reached the lamps";
        }
        usleep(100000);
    }
    EXPECT_TRUE(shown(200)) << "the producer's frames still do";
    std::string out = testing_process::out(driver);
    EXPECT_EQ(box_test::count_of(out, "Feed is live!"), 1u) << out;
    EXPECT_EQ(box_test::count_of(out, "Feed is not live!"), 0u) << out;
    close(stranger);
    close(poller);
}

} // namespace
