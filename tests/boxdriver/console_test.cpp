/* console_test.cpp -- the box driver end to end: a producer socket on
 * 127.0.0.1:7878 (the "Main Music" feed), the driver's serial line on a
 * pty and its keyboard on another. Holds the port_7878 lock. */
#include <signal.h>
#include <sys/socket.h>

#include "boxdriver/console_support.h"

using namespace box_test;

namespace {

class BoxConsole : public Console {
protected:
    int producer = -1;
    unsigned short first_port = 0;

    void SetUp() override
    {
        Console::SetUp();
        producer = testing_udp::open_socket(7878);
        ASSERT_GE(producer, 0) << "port 7878 is taken";
        first_port = free_port_run(4);
        ASSERT_NE(first_port, 0);
    }
    void TearDown() override
    {
        Console::TearDown();
        if (producer >= 0)
            close(producer);
    }
    void start_driver(std::vector<std::string> extra = {}, bool with_keyboard = true,
                      const std::string &program = "boxdriver")
    {
        extra.insert(extra.begin(), {"--local-port", std::to_string(first_port)});
        start(extra, with_keyboard, program);
    }
    /* Whether the frame of all `level` reaches the line (frames before it
     * may have been passed over while the line was busy). */
    bool newest_on_line(int level)
    {
        for (int i = 0; i < 300; i++) {
            auto f = next_whole_frame(5000);
            if (f.empty())
                return false;
            if (f == std::vector<unsigned char>(60, level_byte(level)))
                return true;
        }
        return false;
    }
    /* Whether a subscription request came from `port` within the time.
     * Requests from anyone else (other consumers on this machine also
     * subscribe to 7878) are passed over. */
    bool subscribed_from(unsigned short port, int timeout_ms = 10000)
    {
        long deadline = now_ms() + timeout_ms;
        do {
            bool got = false;
            unsigned short from = 0;
            long left = deadline - now_ms();
            auto bytes = testing_udp::receive(producer, left > 0 ? (int)left : 0, &got, &from);
            if (got && from == port && bytes == std::vector<unsigned char>{'A'})
                return true;
        } while (now_ms() < deadline);
        return false;
    }
};

TEST_F(BoxConsole, FramesOfTheFeedReachTheLine)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 256"));
    EXPECT_NE(out().find("=>0. Main Music \t\t 127.0.0.1:7878\n"), std::string::npos) << out();
    EXPECT_NE(out().find("  6. Local comp \t\t 127.0.0.1:7878\n"), std::string::npos);

    send_frame(producer, first_port, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 1));
    send_frame(producer, first_port, all(0));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 119));
    send_frame(producer, first_port, all(128));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 59));

    /* every channel in its place, and a long datagram cut to 60 bytes */
    std::vector<unsigned char> walk(100, 255);
    for (int k = 0; k < 60; k++)
        walk[k] = (unsigned char)(k * 4);
    send_frame(producer, first_port, walk);
    auto data = next_frame();
    ASSERT_EQ(data.size(), 60u);
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(data[k], level_byte(k * 4)) << k;

    /* a short datagram is reported and shows nothing */
    send_frame(producer, first_port, std::vector<unsigned char>(59, 255));
    send_frame(producer, first_port, all(0));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 119));
    EXPECT_NE(err().find("Small packet of size: 59\n"), std::string::npos);
}

TEST_F(BoxConsole, MasterLevelScalesFrames)
{
    start_driver();
    unsigned short port = first_port;
    ASSERT_TRUE(subscribed_from(port));

    key('u'); /* already at the top */
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 256", 2));
    for (int i = 0; i < 8; i++)
        key(i % 2 ? 'D' : 'd');
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 128"));
    send_frame(producer, port, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, level_byte(127)));

    for (int i = 0; i < 8; i++)
        key('d'); /* 16 presses in all */
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 0\n"));
    send_frame(producer, port, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 119));
    key('d'); /* stays at 0 */
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 0\n", 2));

    key('U'); /* 16 was passed once on the way down */
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 16\n", 2));
    send_frame(producer, port, all(200));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, level_byte(200 * 16 / 256)));
    EXPECT_EQ(out().find("Scale _U_p / _D_own : -"), std::string::npos);
}

TEST_F(BoxConsole, DigitKeysMoveToAFreshPort)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));

    key('8'); /* beyond the seven feeds: same feed, new socket */
    unsigned short second = first_port + 1;
    EXPECT_TRUE(subscribed_from(second));
    ASSERT_TRUE(wait_output("FEEDS", 2));
    EXPECT_EQ(count_of(out(), "=>0. Main Music"), 2u);
    EXPECT_EQ(count_of(out(), "sock: "), 2u);

    /* the old port is closed: only the new one shows */
    send_frame(producer, first_port, all(255));
    send_frame(producer, second, all(0));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 119));

    key('6'); /* "Local comp", also on this host's 7878 */
    EXPECT_TRUE(subscribed_from(first_port + 2));
    ASSERT_TRUE(wait_output("=>6. Local comp"));
    send_frame(producer, first_port + 2, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 1));

    key('1'); /* "Test pattern" is on port 7879: nothing comes here */
    ASSERT_TRUE(wait_output("=>1. Test pattern"));
    EXPECT_FALSE(subscribed_from(first_port + 3, 300));
}

TEST_F(BoxConsole, PortInUseIsPassedOverOnAChangeOfFeed)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    int holder = testing_udp::open_socket(first_port + 1);
    ASSERT_GE(holder, 0);
    key('0');
    EXPECT_TRUE(subscribed_from(first_port + 2));
    EXPECT_NE(err().find("start_net: binding socket"), std::string::npos);
    send_frame(producer, first_port + 2, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 1));
    close(holder);
}

TEST_F(BoxConsole, StatusLinesFollowTheFramesAlone)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("FEEDS"));
    key('x'); /* a key wakes the loop but says nothing of the feed */
    usleep(1200000);
    EXPECT_EQ(out().find("Feed is"), std::string::npos) << "no frames, nothing said";

    send_frame(producer, first_port, all(255));
    EXPECT_EQ(next_frame().size(), 60u);
    ASSERT_TRUE(wait_output("\nFeed is live!    1    \n"));
    ASSERT_TRUE(wait_output("\nFeed is not live!      \n")) << "a second without frames";
}

TEST_F(BoxConsole, SubscriptionIsRenewedEvery250Turns)
{
    start_driver();
    unsigned short port = first_port;
    ASSERT_TRUE(subscribed_from(port));
    /* One frame is one turn; a few idle turns may come in between. The
     * frames go a millisecond apart: each is a turn of its own, all 150
     * well inside the 2 s after which the driver renews by the clock (it
     * paces the line, so waiting for each on the line would take 4 s). */
    for (int i = 0; i < 150; i++) {
        send_frame(producer, port, all(i % 256));
        usleep(1000);
    }
    EXPECT_FALSE(subscribed_from(port, 0)) << "renewed too early";
    EXPECT_TRUE(newest_on_line(149));
    for (int i = 150; i < 250; i++) {
        send_frame(producer, port, all(i % 256));
        usleep(1000);
    }
    /* On a busy machine two frames can fall into one turn; the renewal by
     * the clock (2 s after the first request, at the next turn) then comes
     * in their stead, so wait past it. */
    EXPECT_TRUE(subscribed_from(port, 3000));
    EXPECT_TRUE(newest_on_line(249));
}

TEST_F(BoxConsole, IdleDriverRenewsWithinTwoSeconds)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    /* No frames: the loop turns every half second, so 250 turns would
     * take two minutes; the renewal comes from the clock. */
    EXPECT_TRUE(subscribed_from(first_port, 8000));
}

TEST_F(BoxConsole, QuitEndsAtOnceAndRestoresLineEditing)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("FEEDS"));
    struct termios t;
    ASSERT_EQ(tcgetattr(keyboard.slave, &t), 0);
    EXPECT_EQ(t.c_lflag & ICANON, 0u) << "keys are taken without Enter";
    EXPECT_NE(t.c_lflag & ECHO, 0u) << "echo stays on";

    key('q');
    ASSERT_TRUE(testing_process::wait_for(driver, 10000));
    driver.pid = -1; /* reaped */
    EXPECT_EQ(testing_process::exit_code(driver), 0);
    ASSERT_EQ(tcgetattr(keyboard.slave, &t), 0);
    EXPECT_NE(t.c_lflag & ICANON, 0u);
    EXPECT_EQ(count_of(out(), "FEEDS"), 1u) << "no menu after q";
}

TEST_F(BoxConsole, TerminationSignalRestoresLineEditing)
{
    start_driver();
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("FEEDS"));
    kill(driver.pid, SIGTERM);
    ASSERT_TRUE(testing_process::wait_for(driver, 10000));
    driver.pid = -1; /* reaped */
    EXPECT_TRUE(WIFSIGNALED(driver.status));
    struct termios t;
    ASSERT_EQ(tcgetattr(keyboard.slave, &t), 0);
    EXPECT_NE(t.c_lflag & ICANON, 0u);
}

TEST_F(BoxConsole, EndOfInputLeavesTheDriverRunningUnattended)
{
    start_driver({}, false); /* standard input is /dev/null */
    unsigned short port = first_port;
    ASSERT_TRUE(subscribed_from(port));
    ASSERT_TRUE(wait_output("Console input ended"));
    EXPECT_NE(err().find("tcgetattr: "), std::string::npos);
    usleep(1500000);
    EXPECT_EQ(count_of(out(), "FEEDS"), 1u) << "menu redrawn without keys";

    /* idle, not spinning on end of input */
    std::ifstream stat("/proc/" + std::to_string(driver.pid) + "/stat");
    std::string field;
    std::vector<std::string> fields;
    while (stat >> field)
        fields.push_back(field);
    ASSERT_GT(fields.size(), 15u);
    EXPECT_LT(std::stol(fields[13]) + std::stol(fields[14]), 50) << "CPU ticks";

    send_frame(producer, port, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 1));
}

TEST_F(BoxConsole, DriverRunsWithoutTheSerialDevice)
{
    start({"--device", "/dev/no-such-serial-line", "--local-port",
           std::to_string(first_port)});
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("FEEDS"));
    EXPECT_NE(err().find("/dev/no-such-serial-line: No such file or directory"),
              std::string::npos) << err();
    send_frame(producer, first_port, all(255));
    usleep(300000);
    EXPECT_EQ(err().find("BAD MAPPING CODE"), std::string::npos);
    key('q');
    ASSERT_TRUE(testing_process::wait_for(driver, 10000));
    driver.pid = -1; /* reaped */
    EXPECT_EQ(testing_process::exit_code(driver), 0);
}

TEST_F(BoxConsole, FeedHostsFollowTheBuild)
{
    /* host B plays the main music in the 57600 baud build */
    std::vector<std::string> hosts = {"--host-a", "127.0.0.3", "--host-b", "127.0.0.1",
                                      "--host-c", "127.0.0.4"};
    start_driver(hosts, true, "boxdriver57600");
    EXPECT_TRUE(subscribed_from(first_port));
    ASSERT_TRUE(wait_output("FEEDS"));
    EXPECT_NE(out().find("=>0. Main Music \t\t 127.0.0.1:7878\n"), std::string::npos) << out();
    EXPECT_NE(out().find("  6. Local comp \t\t 127.0.0.3:7878\n"), std::string::npos);
    EXPECT_NE(out().find("  5. Guest 3 \t\t 127.0.0.4:7880\n"), std::string::npos);
    send_frame(producer, first_port, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, 1));
    testing_process::stop(driver);

    /* the 38400 baud build asks host A, which is not this producer */
    first_port = free_port_run(1);
    line.make_raw();
    start_driver(hosts, true, "boxdriver");
    ASSERT_TRUE(wait_output("FEEDS"));
    EXPECT_NE(out().find("=>0. Main Music \t\t 127.0.0.3:7878\n"), std::string::npos) << out();
    EXPECT_FALSE(subscribed_from(first_port, 500));
}

TEST_F(BoxConsole, KeysFromAPipeGiveOneLinePerEvent)
{
    /* A pipe for keys and a file for output: nobody at a terminal. */
    int keys[2];
    ASSERT_EQ(pipe2(keys, O_CLOEXEC), 0);
    driver = testing_process::start({std::string(HALL_BINARY_DIR) + "/bin/boxdriver",
                                     "--device", line.path, "--local-port",
                                     std::to_string(first_port)},
                                    keys[0], dir.c_str());
    close(keys[0]);
    ASSERT_TRUE(subscribed_from(first_port));
    ASSERT_EQ(write(keys[1], "d6", 2), 2);
    ASSERT_TRUE(wait_output("Feed 6: Local comp (127.0.0.1:7878)\n"));
    EXPECT_NE(out().find("Master level 240\n"), std::string::npos) << out();
    ASSERT_TRUE(subscribed_from(first_port + 1));
    send_frame(producer, first_port + 1, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, level_byte(255 * 240 / 256)));

    close(keys[1]);
    ASSERT_TRUE(wait_output("Console input ended"));
    EXPECT_EQ(count_of(out(), "FEEDS"), 1u) << out();
    EXPECT_EQ(out().find("Feed is live!    "), std::string::npos) << "no menu-style status";
}

} // namespace
