/* port7879_test.cpp -- the tests that need UDP port 7879 (port_7879
 * lock): the driver's feed port after 10000, and the test feed on its
 * default port, the driver's "Test pattern" feed, chosen with keys or
 * from the command line. */
#include "boxdriver/console_support.h"

using namespace box_test;

namespace {

class BoxPort7879 : public Console {
protected:
    testing_process::Child feed;

    void TearDown() override
    {
        testing_process::stop(feed);
        Console::TearDown();
    }
    /* The UDP ports the driver holds once `expect` is among them (or as
     * they are when the time is up). */
    std::set<unsigned short> driver_ports(long timeout_ms, unsigned short expect)
    {
        long deadline = now_ms() + timeout_ms;
        std::set<unsigned short> ports;
        do {
            ports = udp_ports(driver.pid);
            if (ports.count(expect))
                break;
            usleep(20000);
        } while (now_ms() < deadline);
        return ports;
    }
};

TEST_F(BoxPort7879, PortAfter10000Is7879)
{
    start({"--local-port", "9999"});
    ASSERT_TRUE(wait_output("FEEDS"));
    EXPECT_EQ(driver_ports(10000, 9999), std::set<unsigned short>{9999});
    key('8');
    EXPECT_EQ(driver_ports(10000, 10000), std::set<unsigned short>{10000});
    key('8');
    EXPECT_EQ(driver_ports(10000, 7879), std::set<unsigned short>{7879});
    ASSERT_TRUE(wait_output("FEEDS", 3));
    EXPECT_EQ(count_of(out(), "sock: "), 3u);
}

TEST_F(BoxPort7879, TestFeedWalkReachesTheLine)
{
    feed = testing_process::start({std::string(HALL_BINARY_DIR) + "/bin/testfeed", "--port",
                                   "7879", "--rate", "100", "--hold", "1", "walk"});
    unsigned short port = free_port_run(2);
    ASSERT_NE(port, 0);
    start({"--local-port", std::to_string(port)});
    ASSERT_TRUE(wait_output("FEEDS"));
    key('1'); /* "Test pattern", 127.0.0.1:7879 */
    ASSERT_TRUE(wait_output("=>1. Test pattern \t\t 127.0.0.1:7879\n"));
    /* pass over whatever the first feed may have sent */
    read_bytes(line.master, 1 << 20, 200);

    int previous = -1;
    for (int i = 0; i < 30; i++) {
        auto data = i == 0 ? next_whole_frame() : next_frame();
        ASSERT_EQ(data.size(), 60u) << "frame " << i;
        int lit = -1, count = 0;
        for (int k = 0; k < 60; k++) {
            if (data[k] == 1) {
                lit = k;
                count++;
            } else {
                EXPECT_EQ(data[k], 119) << "frame " << i << " channel " << k;
            }
        }
        ASSERT_EQ(count, 1) << "frame " << i;
        if (previous >= 0) {
            int step = (lit - previous + 60) % 60;
            EXPECT_GE(step, 1) << "frame " << i;
            EXPECT_LE(step, 5) << "frame " << i; /* a frame may be passed over */
        }
        previous = lit;
    }
}

TEST_F(BoxPort7879, UnattendedDriverStartsOnTheChosenFeedAndLevel)
{
    feed = testing_process::start({std::string(HALL_BINARY_DIR) + "/bin/testfeed", "--port",
                                   "7879", "--rate", "100", "--level", "200", "all"});
    unsigned short port = free_port_run(1);
    ASSERT_NE(port, 0);
    /* No keyboard (standard input is /dev/null) and no screen: a service. */
    start({"--local-port", std::to_string(port), "--feed", "1", "--level", "128"}, false);
    auto data = next_whole_frame();
    EXPECT_EQ(data, std::vector<unsigned char>(60, level_byte(100))) << "200 at half level";
    ASSERT_TRUE(wait_output("Feed is live!\n"));

    testing_process::stop(feed);
    ASSERT_TRUE(wait_output("Feed is not live!\n"));
    std::string text = out();
    EXPECT_NE(text.find("=>1. Test pattern \t\t 127.0.0.1:7879\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Scale _U_p / _D_own : 128\n"), std::string::npos);
    EXPECT_NE(text.find("Console input ended"), std::string::npos);
    EXPECT_EQ(count_of(text, "FEEDS"), 1u) << "the menu once, never redrawn";
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no screen clearing";
    EXPECT_EQ(text.find("\n\n\n"), std::string::npos) << "no blank lines between events";
}

} // namespace
