/* pong_program_test.cpp -- hallpong end to end on 127.0.0.1 under a
 * private Xvfb: frames to a subscriber of 7880, paddle datagrams to 8000
 * and 8001 (from a test socket and from keysend), start-up failures and
 * stopping. Binds the game's fixed ports, hence the port_7880 lock. */
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/udp.h"
#include "support/xvfb.h"

namespace tp = testing_process;
namespace tu = testing_udp;

namespace {

const std::string HALLPONG = std::string(HALL_BINARY_DIR) + "/bin/hallpong";
const std::string KEYSEND = std::string(HALL_BINARY_DIR) + "/bin/keysend";

double now_s()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

class PongGame : public testing::Test {
protected:
    testing_xvfb::Server x;
    tp::Child game;
    int sub = -1; /* our subscriber socket */

    void SetUp() override
    {
        x = testing_xvfb::start();
        ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
        sub = tu::open_socket(0);
        ASSERT_GE(sub, 0);
    }

    void TearDown() override
    {
        tp::stop(game, SIGKILL);
        if (sub >= 0)
            close(sub);
        testing_xvfb::stop(x);
    }

    /* Start the game and subscribe until the first frame comes. */
    void start_and_subscribe()
    {
        game = tp::start({HALLPONG});
        double end = now_s() + 15;
        while (now_s() < end) {
            tu::send_to(sub, 7880, "A", 1);
            bool got = false;
            auto f = tu::receive(sub, 200, &got);
            if (got) {
                ASSERT_EQ(f.size(), 60u);
                return;
            }
        }
        FAIL() << "no frame from hallpong; stderr: " << tp::err(game);
    }

    /* Wait up to `seconds` for a frame that satisfies `want`. */
    bool frame_where(double seconds, const std::function<bool(const std::vector<unsigned char> &)> &want)
    {
        double end = now_s() + seconds;
        while (now_s() < end) {
            bool got = false;
            auto f = tu::receive(sub, 200, &got);
            if (got && f.size() == 60 && want(f))
                return true;
        }
        return false;
    }

    void send_value(unsigned short port, int32_t v)
    {
        unsigned char d[5];
        memcpy(d, &v, 4);
        d[4] = 0;
        int s = tu::open_socket(0);
        tu::send_to(s, port, d, sizeof d);
        close(s);
    }
};

/* No ball in box 0, paddle 1 alone: the channels it covers. */
bool box_reads(const std::vector<unsigned char> &f, int box, std::vector<int> want)
{
    for (int c = 0; c < 6; c++)
        if (f[box * 6 + c] != want[c])
            return false;
    return true;
}

} // namespace

TEST_F(PongGame, SubscriberReceivesFramesAtAboutThirtyPerSecond)
{
    start_and_subscribe();
    int n = 0;
    double start = now_s();
    while (now_s() - start < 2.0) {
        bool got = false;
        auto f = tu::receive(sub, 200, &got);
        if (got) {
            ASSERT_EQ(f.size(), 60u);
            n++;
        }
    }
    /* about 60 expected; loose bounds, the rate itself is benchmarked */
    EXPECT_GE(n, 20);
    EXPECT_LE(n, 90);
    EXPECT_NE(tp::out(game).find("Network Lights Client Initialized.\n"), std::string::npos);
}

TEST_F(PongGame, PaddlesStartInTheMiddle)
{
    start_and_subscribe();
    /* columns 24..36: six in channel 2 (153), seven in channel 3 (178) */
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 0, {0, 0, 153, 178, 0, 0}); }));
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 9, {0, 0, 153, 178, 0, 0}); }));
}

TEST_F(PongGame, FullTravelDatagramsMovePaddlesToTheEdges)
{
    start_and_subscribe();
    send_value(8000, 32767); /* paddle 1 to column 1: columns 0..7 */
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 0, {204, 0, 0, 0, 0, 0}); }));
    send_value(8001, 32767); /* paddle 2 to column 59: columns 53..59 */
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 9, {0, 0, 0, 0, 0, 178}); }));
}

/* Red level 0..255 of a pixel of the X screen (the window, unmanaged,
 * sits at the top left), or -1. */
int screen_level(const std::string &display, int x, int y)
{
    std::string cmd = "xwd -root -silent -display " + display +
                      " | convert xwd:- -format '%[fx:int(255*p{" + std::to_string(x) + "," +
                      std::to_string(y) + "}.r+0.5)]' info:";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return -1;
    int level = -1;
    if (fscanf(p, "%d", &level) != 1)
        level = -1;
    pclose(p);
    return level;
}

TEST_F(PongGame, WindowShowsThePaddleInWhite)
{
    start_and_subscribe();
    send_value(8000, 32767); /* paddle 1: columns 0..7 of rows 0..10 */
    ASSERT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 0, {204, 0, 0, 0, 0, 0}); }));
    /* paddle rows are redrawn every frame, flashing leaves the window be */
    EXPECT_EQ(screen_level(x.display, 3, 5), 255);
    EXPECT_EQ(screen_level(x.display, 20, 5), 0);
}

TEST_F(PongGame, ShortPaddleDatagramIsIgnored)
{
    start_and_subscribe();
    int s = tu::open_socket(0);
    const unsigned char part[3] = {0xff, 0x7f, 0x00};
    tu::send_to(s, 8000, part, sizeof part);
    tu::send_to(s, 8000, "", 0);
    close(s);
    /* the game goes on with paddle 1 still in the middle */
    tu::drain(sub);
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 0, {0, 0, 153, 178, 0, 0}); }));
    EXPECT_TRUE(tp::err(game).empty());
}

TEST_F(PongGame, KeysendSteersPaddle1)
{
    start_and_subscribe();
    int in[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0); /* the child must not hold the write end */
    tp::Child keys = tp::start({KEYSEND, "127.0.0.1", "8000"}, in[0]);
    close(in[0]);
    ASSERT_EQ(write(in[1], "s", 1), 1); /* 4000: paddle 1 to column 27 */
    close(in[1]);
    ASSERT_TRUE(tp::wait_for(keys, 5000));
    EXPECT_EQ(tp::exit_code(keys), 0);
    /* columns 21..33: nine in channel 2 (229), four in channel 3 (102) */
    EXPECT_TRUE(frame_where(5, [](auto &f) { return box_reads(f, 0, {0, 0, 229, 102, 0, 0}); }));
}

TEST_F(PongGame, TerminateSignalStopsTheGameCleanly)
{
    start_and_subscribe();
    kill(game.pid, SIGTERM);
    ASSERT_TRUE(tp::wait_for(game, 5000)) << "hallpong ignored SIGTERM";
    EXPECT_TRUE(WIFEXITED(game.status));
    EXPECT_EQ(tp::exit_code(game), 0);
    game.pid = -1;
}

TEST_F(PongGame, PaddlePortsInUseStopTheGame)
{
    for (unsigned short port : {8000, 8001}) {
        int held = testing_udp::hold_port(port);
        ASSERT_GE(held, 0) << "port " << port << " busy";
        game = tp::start({HALLPONG});
        ASSERT_TRUE(tp::wait_for(game, 15000));
        EXPECT_EQ(tp::exit_code(game), 1);
        std::string err = tp::err(game);
        EXPECT_NE(err.find("start_net: binding socket: "), std::string::npos) << err;
        EXPECT_NE(err.find("ERROR!\n"), std::string::npos) << err;
        std::string prefix = "open_udp_server(" + std::to_string(port) + "): ";
        EXPECT_NE(err.find(prefix), std::string::npos) << err;
        game.pid = -1;
        close(held);
    }
}

TEST_F(PongGame, LightPortInUseStopsTheGame)
{
    int held = testing_udp::hold_port(7880);
    ASSERT_GE(held, 0);
    game = tp::start({HALLPONG});
    ASSERT_TRUE(tp::wait_for(game, 15000));
    EXPECT_EQ(tp::exit_code(game), 255); /* main returns -1 */
    std::string err = tp::err(game);
    EXPECT_NE(err.find("could not bind to socket\n"), std::string::npos) << err;
    EXPECT_NE(err.find("init_lights failed!\n"), std::string::npos) << err;
    game.pid = -1;
    close(held);
}

TEST(PongCommandLine, HelpAndUnknownArguments)
{
    tp::Child help = tp::start({HALLPONG, "--help"});
    ASSERT_TRUE(tp::wait_for(help, 5000));
    EXPECT_EQ(tp::exit_code(help), 0);
    EXPECT_NE(tp::out(help).find("7880"), std::string::npos);
    EXPECT_NE(tp::out(help).find("8001"), std::string::npos);

    tp::Child bad = tp::start({HALLPONG, "--fast"});
    ASSERT_TRUE(tp::wait_for(bad, 5000));
    EXPECT_EQ(tp::exit_code(bad), 2);
    EXPECT_NE(tp::err(bad).find("unknown option '--fast'"), std::string::npos);
}
