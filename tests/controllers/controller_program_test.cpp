/* controller_program_test.cpp -- keysend typed at through a real
 * pseudo-terminal and joysend fed event records through a FIFO or pipe,
 * both sending to a test socket on a free port of 127.0.0.1. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/udp.h"

namespace tp = testing_process;
namespace tu = testing_udp;

namespace {

const std::string KEYSEND = std::string(HALL_BINARY_DIR) + "/bin/keysend";
const std::string JOYSEND = std::string(HALL_BINARY_DIR) + "/bin/joysend";

using Bytes = std::vector<unsigned char>;

Bytes datagram(int32_t value, unsigned char button)
{
    Bytes d(5);
    memcpy(d.data(), &value, 4);
    d[4] = button;
    return d;
}

Bytes js_record(int16_t value, uint8_t type, uint8_t number)
{
    Bytes r(8, 0);
    memcpy(r.data() + 4, &value, 2);
    r[6] = type;
    r[7] = number;
    return r;
}

/* Wait (up to 5 s) until `pred` holds. */
template <class P> bool eventually(P pred)
{
    for (int i = 0; i < 500; i++) {
        if (pred())
            return true;
        usleep(10000);
    }
    return false;
}

class Keysend : public testing::Test {
protected:
    int game = -1; /* stands in for the game's paddle port */
    int master = -1, slave = -1;
    tp::Child keys;

    void SetUp() override
    {
        game = tu::open_socket(0);
        ASSERT_GE(game, 0);
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        keys = tp::start({KEYSEND, "127.0.0.1", std::to_string(tu::local_port(game))}, slave);
        /* typing before the switch to raw mode would wait for a newline */
        ASSERT_TRUE(eventually([&] {
            termios t;
            return tcgetattr(slave, &t) == 0 && !(t.c_lflag & ICANON);
        })) << "keysend did not switch the terminal to character input";
    }

    void TearDown() override
    {
        tp::stop(keys, SIGKILL);
        close(master);
        close(slave);
        close(game);
    }

    void type(const char *keys_typed)
    {
        ASSERT_EQ(write(master, keys_typed, strlen(keys_typed)), (ssize_t)strlen(keys_typed));
    }

    Bytes next_datagram()
    {
        bool got = false;
        Bytes d = tu::receive(game, 5000, &got);
        EXPECT_TRUE(got) << "no datagram from keysend";
        return d;
    }
};

} // namespace

TEST_F(Keysend, SendsOneDatagramPerKeyAtOnce)
{
    type("s");
    EXPECT_EQ(next_datagram(), datagram(4000, 0));
    type("a");
    EXPECT_EQ(next_datagram(), datagram(0, 0));
    type("a");
    EXPECT_EQ(next_datagram(), datagram(-4000, 0));
    type("x");
    EXPECT_EQ(next_datagram(), datagram(-4000, 0)); /* unchanged, sent again */
    EXPECT_TRUE(eventually([&] {
        return tp::out(keys).find("val: -4000   button: 0            \r") != std::string::npos;
    })) << tp::out(keys);
    std::string out = tp::out(keys);
    EXPECT_NE(out.find("val: 4000   button: 0            \r"), std::string::npos);
    EXPECT_EQ(out.find('\n'), std::string::npos) << "the status line is rewritten in place";
}

TEST_F(Keysend, NinePressesGoBeyondTheStick)
{
    type("sssssssss");
    Bytes last;
    for (int i = 0; i < 9; i++)
        last = next_datagram();
    EXPECT_EQ(last, datagram(36000, 0));
}

TEST(KeysendInput, EndOfPipedInputEndsCleanly)
{
    int game = tu::open_socket(0);
    int in[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    tp::Child keys = tp::start({KEYSEND, "127.0.0.1", std::to_string(tu::local_port(game))}, in[0]);
    close(in[0]);
    ASSERT_EQ(write(in[1], "sa\n", 3), 3);
    close(in[1]);
    ASSERT_TRUE(tp::wait_for(keys, 5000)) << "keysend spins at end of input";
    EXPECT_EQ(tp::exit_code(keys), 0);
    /* no terminal: input stays line by line, with a message */
    EXPECT_NE(tp::err(keys).find("tcgetattr: "), std::string::npos);
    EXPECT_EQ(tu::receive(game, 1000), datagram(4000, 0));
    EXPECT_EQ(tu::receive(game, 1000), datagram(0, 0));
    EXPECT_EQ(tu::receive(game, 1000), datagram(0, 0)); /* the newline */
    EXPECT_EQ(tu::drain(game), 0);
    close(game);
}

TEST(KeysendInput, RefusesOverlongHostAndHelps)
{
    tp::Child bad = tp::start({KEYSEND, std::string(300, '1')});
    ASSERT_TRUE(tp::wait_for(bad, 5000));
    EXPECT_EQ(tp::exit_code(bad), 2);
    EXPECT_NE(tp::err(bad).find("keysend: host argument longer than 255 characters"),
              std::string::npos) << tp::err(bad);

    tp::Child help = tp::start({KEYSEND, "--help"});
    ASSERT_TRUE(tp::wait_for(help, 5000));
    EXPECT_EQ(tp::exit_code(help), 0);
    EXPECT_NE(tp::out(help).find("Usage: keysend [host [port]]"), std::string::npos);
}

namespace {

class Joysend : public testing::Test {
protected:
    int game = -1;
    std::string dir, fifo;
    tp::Child joy;

    void SetUp() override
    {
        game = tu::open_socket(0);
        ASSERT_GE(game, 0);
        char tmpl[] = "/tmp/joysend_testXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        fifo = dir + "/js0";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    }

    void TearDown() override
    {
        tp::stop(joy, SIGKILL);
        unlink(fifo.c_str());
        rmdir(dir.c_str());
        close(game);
    }

    std::vector<std::string> args(std::vector<std::string> extra = {})
    {
        std::vector<std::string> a{JOYSEND, "--device", fifo, "127.0.0.1",
                                   std::to_string(tu::local_port(game))};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

} // namespace

TEST_F(Joysend, FifoOfEventRecordsDrivesThePaddle)
{
    joy = tp::start(args());
    /* a writer's open fails until joysend has the FIFO open for reading */
    int w = -1;
    ASSERT_TRUE(eventually([&] { return (w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
    fcntl(w, F_SETFL, 0);
    Bytes input;
    auto add = [&](Bytes r) { input.insert(input.end(), r.begin(), r.end()); };
    add(js_record(0, 0x81, 0));      /* initial state of button 0 */
    add(js_record(-1200, 0x82, 0));  /* initial state of axis 0 */
    add(js_record(0, 0x82, 1));      /* initial state of axis 1: nothing */
    add(js_record(-32767, 0x02, 1)); /* axis 1 moves: nothing */
    add(js_record(1, 0x01, 1));      /* button 1 pressed: nothing */
    add(js_record(32767, 0x02, 0));  /* axis 0 at full travel */
    ASSERT_EQ(write(w, input.data(), input.size()), (ssize_t)input.size());
    close(w);

    EXPECT_EQ(tu::receive(game, 5000), datagram(0, 0));
    EXPECT_EQ(tu::receive(game, 5000), datagram(-1200, 0));
    EXPECT_EQ(tu::receive(game, 5000), (Bytes{0xff, 0x7f, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(tp::wait_for(joy, 5000));
    EXPECT_EQ(tu::drain(game), 0) << "axis 1 or button 1 sent something";
    EXPECT_EQ(tp::exit_code(joy), 0);
    EXPECT_NE(tp::out(joy).find("val: 32767   button: 0            \r"), std::string::npos);
    EXPECT_NE(tp::err(joy).find("joystick_reader: end of input"), std::string::npos);
}

TEST_F(Joysend, RecordsSplitAcrossWritesArriveWhole)
{
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    std::vector<std::string> a{JOYSEND, "--device", "/dev/stdin", "127.0.0.1",
                               std::to_string(tu::local_port(game))};
    joy = tp::start(a, p[0]);
    close(p[0]);
    Bytes r = js_record(1, 0x01, 0);
    ASSERT_EQ(write(p[1], r.data(), 3), 3);
    usleep(100000);
    ASSERT_EQ(write(p[1], r.data() + 3, 5), 5);
    EXPECT_EQ(tu::receive(game, 5000), datagram(0, 1));
    /* a record cut off by the end of input is an error */
    ASSERT_EQ(write(p[1], r.data(), 5), 5);
    close(p[1]);
    ASSERT_TRUE(tp::wait_for(joy, 5000));
    EXPECT_EQ(tp::exit_code(joy), 1);
    EXPECT_NE(tp::err(joy).find("joystick_reader: error reading"), std::string::npos);
    EXPECT_EQ(tu::drain(game), 0);
}

TEST_F(Joysend, MissingDeviceFails)
{
    unlink(fifo.c_str());
    joy = tp::start(args());
    ASSERT_TRUE(tp::wait_for(joy, 5000));
    EXPECT_EQ(tp::exit_code(joy), 1);
    EXPECT_NE(tp::err(joy).find("main: open: No such file or directory"), std::string::npos)
        << tp::err(joy);
}

TEST_F(Joysend, BadArgumentsAreRefusedBeforeOpeningTheDevice)
{
    for (std::vector<std::string> bad : {std::vector<std::string>{JOYSEND, std::string(256, '7')},
                                         {JOYSEND, "127.0.0.1", "eighty"},
                                         {JOYSEND, "--speed", "3"}}) {
        tp::Child c = tp::start(bad);
        ASSERT_TRUE(tp::wait_for(c, 5000));
        EXPECT_EQ(tp::exit_code(c), 2) << bad[1];
        EXPECT_NE(tp::err(c).find("joysend: "), std::string::npos);
    }
    tp::Child help = tp::start({JOYSEND, "--help"});
    ASSERT_TRUE(tp::wait_for(help, 5000));
    EXPECT_EQ(tp::exit_code(help), 0);
    EXPECT_NE(tp::out(help).find("--device PATH"), std::string::npos);
}
