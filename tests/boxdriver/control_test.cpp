/* control_test.cpp -- the box driver's control socket (--control) end to
 * end, the driver on a pty line and a pty keyboard: each key over the
 * socket acts as typed at the console and each side sees the other's
 * changes; every datagram from 127.0.0.1 is answered with the state line;
 * anything but one known key changes nothing; other senders get nothing.
 * Holds the port_7878 lock: "live" must not be lit by a producer that
 * another test runs on the driver's feed port. */
#include <sys/socket.h>

#include "boxdriver/console_support.h"

using namespace box_test;

namespace {

const std::string FEEDS =
    "{\"feeds\":[{\"name\":\"Main Music\",\"host\":\"127.0.0.1\",\"port\":7878},"
    "{\"name\":\"Test pattern\",\"host\":\"127.0.0.1\",\"port\":7879},"
    "{\"name\":\"Pong! Pong!\",\"host\":\"127.0.0.1\",\"port\":7880},"
    "{\"name\":\"Guest 1\",\"host\":\"127.0.0.1\",\"port\":7878},"
    "{\"name\":\"Guest 2\",\"host\":\"127.0.0.1\",\"port\":7879},"
    "{\"name\":\"Guest 3\",\"host\":\"127.0.0.1\",\"port\":7880},"
    "{\"name\":\"Local comp\",\"host\":\"127.0.0.1\",\"port\":7878}],";

std::string state(int feed, int level, bool live)
{
    return FEEDS + "\"feed\":" + std::to_string(feed) + ",\"level\":" + std::to_string(level) +
           ",\"live\":" + (live ? "true" : "false") + "}\n";
}

class ControlSocket : public Console {
protected:
    unsigned short first_port = 0, control_port = 0;
    int asker = -1;                 /* the test's socket on 127.0.0.1 */

    void SetUp() override
    {
        Console::SetUp();
        first_port = free_port_run(4);
        ASSERT_NE(first_port, 0);
        control_port = testing_udp::free_port();
        asker = testing_udp::open_socket(0);
    }
    void TearDown() override
    {
        Console::TearDown();
        close(asker);
    }
    void start_driver(const std::string &program = "boxdriver")
    {
        start({"--local-port", std::to_string(first_port), "--control",
               std::to_string(control_port)},
              true, program);
        ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 256"));
    }
    /* Send a datagram from `from`; the answer, empty when none came. */
    std::string send(const std::string &datagram, int from = -1, int timeout_ms = 5000)
    {
        int s = from >= 0 ? from : asker;
        testing_udp::send_to(s, control_port, datagram.data(), datagram.size());
        bool got = false;
        auto answer = testing_udp::receive(s, timeout_ms, &got);
        return std::string(answer.begin(), answer.end());
    }
};

TEST_F(ControlSocket, KeysActAsAtTheConsoleAndEachSeesTheOther)
{
    start_driver();
    EXPECT_EQ(send("?"), state(0, 256, false));

    /* The level keys, answered with the new state and shown on the console. */
    EXPECT_EQ(send("d"), state(0, 240, false));
    EXPECT_EQ(send("d"), state(0, 224, false));
    EXPECT_TRUE(wait_output("Scale _U_p / _D_own : 224\n"));
    EXPECT_EQ(send("u"), state(0, 240, false));

    /* A key at the console shows in the next answer. */
    key('u');
    ASSERT_TRUE(wait_output("Scale _U_p / _D_own : 256\n", 2));
    EXPECT_EQ(send("?"), state(0, 256, false));

    /* A digit picks the feed on a fresh socket, as at the console. */
    EXPECT_EQ(send("1"), state(1, 256, false));
    EXPECT_TRUE(wait_output("=>1. Test pattern"));
    EXPECT_EQ(count_of(out(), "sock: "), 2u);
    EXPECT_TRUE(udp_ports(driver.pid).count((unsigned short)(first_port + 1)));
    EXPECT_FALSE(udp_ports(driver.pid).count(first_port));

    /* Frames from the feed's producer make it live, scaled by the level. */
    int producer = testing_udp::open_socket(7879);
    for (int i = 0; i < 8; i++)
        ASSERT_EQ(send("d"), state(1, 240 - 16 * i, false));
    send_frame(producer, first_port + 1, all(255));
    EXPECT_EQ(next_frame(), std::vector<unsigned char>(60, level_byte(127)));
    EXPECT_EQ(send("?"), state(1, 128, true));
    close(producer);
}

TEST_F(ControlSocket, AnythingButOneKnownKeyChangesNothing)
{
    start_driver();
    const std::string unchanged = state(0, 256, false);
    const std::string not_keys[] = {"q", "Q", "uu", "d\n", "", "x", "U", std::string(1, '\0'),
                                    std::string(64, 'd'), std::string(3000, 'd')};
    for (auto &datagram : not_keys)
        EXPECT_EQ(send(std::string(datagram)), unchanged) << datagram.size() << " bytes";
    EXPECT_FALSE(testing_process::wait_for(driver, 200)) << "the driver ended";

    /* Senders other than 127.0.0.1 are ignored altogether. */
    int stranger = testing_udp::bind_socket(0x7f000002, 0);
    ASSERT_GE(stranger, 0);
    EXPECT_EQ(send("d", stranger, 500), "");
    EXPECT_EQ(send("?", stranger, 500), "");
    close(stranger);
    EXPECT_EQ(send("?"), unchanged);
    EXPECT_EQ(count_of(out(), "Scale _U_p / _D_own : 240"), 0u);
}

TEST_F(ControlSocket, BothBuildsAnswer)
{
    start_driver("boxdriver57600");
    EXPECT_EQ(send("?"), state(0, 256, false));
}

TEST(ControlOption, BadPortsAreRefusedAndATakenOneEndsTheDriver)
{
    for (const char *program : {"boxdriver", "boxdriver57600"}) {
        for (const char *bad : {"0", "65536", "x", ""}) {
            auto c = testing_process::start(
                {std::string(HALL_BINARY_DIR) + "/bin/" + program, "--control", bad});
            ASSERT_TRUE(testing_process::wait_for(c, 5000));
            EXPECT_EQ(testing_process::exit_code(c), 2) << program << " " << bad;
            EXPECT_EQ(testing_process::err(c),
                      std::string(program) +
                          ": --control: expected a whole number from 1 to 65535, got '" + bad +
                          "'\n");
        }
    }
    int held = testing_udp::open_socket(0);
    std::string port = std::to_string(testing_udp::local_port(held));
    std::string dir = temp_dir();
    auto c = testing_process::start({std::string(HALL_BINARY_DIR) + "/bin/boxdriver", "--device",
                                     dir + "/no-device", "--local-port",
                                     std::to_string(free_port_run(1)), "--control", port},
                                    -1, dir.c_str());
    ASSERT_TRUE(testing_process::wait_for(c, 5000));
    close(held);
    rmdir(dir.c_str());
    EXPECT_EQ(testing_process::exit_code(c), 1);
    EXPECT_NE(testing_process::err(c).find("control: binding 127.0.0.1:" + port +
                                           ": Address already in use\n"),
              std::string::npos)
        << testing_process::err(c);
}

} // namespace
