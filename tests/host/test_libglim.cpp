/* test_libglim.cpp -- glimhost with the real plug-in, found by default
 * beside the build: frames reach a subscriber on port 7878, option
 * strings reach the patterns, and closing the preview window disables the
 * plug-in cleanly. Skipped when the plug-in is not built. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/udp.h"
#include "support/xvfb.h"

using host_run::count;
using host_run::run;

namespace {

const std::string libglim = HALL_BINARY_DIR "/lib/libglim.so";

class WithLibglim : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(libglim.c_str(), R_OK) != 0)
            GTEST_SKIP() << "plug-in not built: " << libglim;
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
    }
    void TearDown() override { testing_xvfb::stop(xvfb); }
    bool exports(const std::string &pattern)
    {
        auto r = run({"--list-patterns"});
        return r.out.find(pattern + "\n") != std::string::npos;
    }
    testing_xvfb::Server xvfb;
};

TEST_F(WithLibglim, ListsTheTablePatterns)
{
    auto r = run({"--list-patterns"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (const char *name : {"sine_wave", "rise", "random_spots", "brightness_level",
                             "spinning_stripe"})
        EXPECT_NE(r.out.find(std::string(name) + "\n"), std::string::npos) << name;
}

TEST_F(WithLibglim, SubscriberOn7878GetsAFramePerCallback)
{
    const int frames = 150;
    int sock = testing_udp::open_socket();
    ASSERT_GE(sock, 0);
    auto c = testing_process::start({GLIMHOST, "--mute", "--rate", "300", "--frames",
                                     std::to_string(frames)});
    /* Ask until the server's socket takes the request; from the callback
     * after that, every frame is ours. */
    int received = 0;
    bool got = false;
    for (int i = 0; i < 2000 && !got; i++) {
        testing_udp::send_to(sock, 7878, "A", 1);
        auto d = testing_udp::receive(sock, 5, &got);
        if (got) {
            EXPECT_EQ(d.size(), 60u);
            received++;
        }
    }
    for (;;) {
        auto d = testing_udp::receive(sock, 2000, &got);
        if (!got)
            break;
        EXPECT_EQ(d.size(), 60u);
        received++;
    }
    ASSERT_TRUE(testing_process::wait_for(c, 10000));
    close(sock);
    EXPECT_EQ(testing_process::exit_code(c), 0) << testing_process::err(c);
    std::string out = testing_process::out(c);
    EXPECT_NE(out.find("calling init for pattern"), std::string::npos);
    /* all but the few callbacks before the subscription took hold */
    EXPECT_LE(received, frames);
    EXPECT_GE(received, frames - 15) << testing_process::err(c);
}

TEST_F(WithLibglim, PatternOptionsShowInThePatternsMessages)
{
    /* spinning_stripe draws what it was not told, and says so */
    auto r = run({"--mute", "--rate", "500", "--frames", "5", "--port",
                  std::to_string(testing_udp::free_port()), "--pattern",
                  "spinning_stripe:rate=40"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Randomly picking invert"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Randomly picking rate"), std::string::npos) << r.out;

    if (exports("bar_equalizer")) {
        auto b = run({"--mute", "--rate", "500", "--frames", "5", "--port",
                      std::to_string(testing_udp::free_port()), "--pattern",
                      "bar_equalizer:dir=-1"});
        EXPECT_EQ(b.code, 0) << b.err;
        EXPECT_NE(b.out.find("Being told to use direction -1."), std::string::npos) << b.out;
    }
}

TEST_F(WithLibglim, ClosingThePreviewDisablesThePlugin)
{
    auto c = testing_process::start({GLIMHOST, "--mute", "--rate", "200", "--port",
                                     std::to_string(testing_udp::free_port())});
    unsigned long id = 0;
    for (int i = 0; i < 1000 && !id; i++) {
        usleep(10000);
        id = host_run::find_window("Spectrum analyzer");
    }
    ASSERT_NE(id, 0u) << testing_process::err(c);
    usleep(200000);  /* some callbacks draw the bars first */
    ASSERT_TRUE(host_run::close_window(id));
    bool ended = testing_process::wait_for(c, 15000);
    if (!ended)
        testing_process::stop(c, SIGKILL);
    ASSERT_TRUE(ended);
    EXPECT_EQ(testing_process::exit_code(c), 0) << testing_process::err(c);
    EXPECT_NE(testing_process::out(c).find("glimhost: plug-in disabled"), std::string::npos);
}

TEST_F(WithLibglim, StatusLineNamesTheCurrentPatternAndTheBeat)
{
    auto r = host_run::run_on_terminal({"--mute", "--rate", "100", "--frames", "250", "--port",
                                        std::to_string(testing_udp::free_port())});
    EXPECT_EQ(r.code, 0) << r.err;
    bool named = false;
    for (const char *name : {"sine_wave", "rise", "random_spots", "brightness_level",
                             "spinning_stripe"})
        named |= r.err.find(std::string("callbacks/s | pattern ") + name) != std::string::npos;
    EXPECT_TRUE(named) << r.err;
    /* and the beat as far as it is known */
    EXPECT_TRUE(r.err.find(" BPM") != std::string::npos ||
                r.err.find("| no beat yet") != std::string::npos) << r.err;
}

TEST_F(WithLibglim, DemoRunsAtThePlayersRate)
{
    /* One second of the show at the natural rate: about 86 callbacks,
     * every one of them analysed, drawn and sent. */
    auto r = run({"--mute", "--frames", "86", "--port",
                  std::to_string(testing_udp::free_port())});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("at 44100 Hz, 86.1 callbacks a second"), std::string::npos) << r.out;
    EXPECT_GE(count(r.out, "calling init for pattern"), 1);
}

} // namespace
