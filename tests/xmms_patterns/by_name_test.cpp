/* by_name_test.cpp -- each extra pattern run by name in the player
 * stand-in (glimhost --pattern NAME:OPTIONS) with its preview window on a
 * private X server; a subscriber on a loopback socket must receive lit
 * frames from the plug-in's light server. */
#include <string>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/udp.h"
#include "support/xvfb.h"

namespace {

/* One X server for the whole process, stopped when the process ends. */
struct Display {
    testing_xvfb::Server server = testing_xvfb::start();
    ~Display() { testing_xvfb::stop(server); }
};

testing_xvfb::Server &display()
{
    static Display d;
    return d.server;
}

struct Case {
    const char *pattern; /* NAME[:OPTIONS] as given to --pattern */
    const char *name;    /* test name */
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.pattern;
}

class ByName : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(ByName, RunsAndSendsLitFrames)
{
    ASSERT_FALSE(display().display.empty()) << "no X server";
    int sub = testing_udp::open_socket(0);
    ASSERT_GE(sub, 0);
    unsigned short port = testing_udp::free_port();
    auto host = testing_process::start(
        {GLIMHOST, "--demo", "--mute", "--rate", "200", "--frames", "200",
         "--port", std::to_string(port), "--pattern", GetParam().pattern});

    /* Count frames until 40 have come and one was lit, or the run is
     * over. Some patterns are dark at first: vertical_meter lights at a
     * third of full bass, which its automatic gain reaches on the demo's
     * quiet intro only some 60 callbacks in. So a pause between frames (a
     * busy machine) just means subscribing again: the count goes on. A
     * pass lasts 50 ms or more, so 600 passes are 30 s at least. */
    int frames = 0, lit = 0;
    for (int pass = 0; pass < 600 && (frames < 40 || lit == 0); pass++) {
        bool over = testing_process::wait_for(host, 0); /* all it sent is waiting */
        unsigned char hello = 0;
        testing_udp::send_to(sub, port, &hello, 1);
        bool got = true;
        while (got) {
            auto d = testing_udp::receive(sub, 50, &got);
            if (!got)
                break;
            ASSERT_EQ(d.size(), 60u);
            frames++;
            for (unsigned char v : d)
                if (v) {
                    lit++;
                    break;
                }
        }
        if (over)
            break;
    }
    bool ended = host.reaped || testing_process::wait_for(host, 30000);
    if (!ended)
        testing_process::stop(host, SIGKILL);
    close(sub);
    std::string out = testing_process::out(host);
    EXPECT_TRUE(ended);
    EXPECT_EQ(testing_process::exit_code(host), 0)
        << testing_process::err(host);
    EXPECT_NE(out.find("calling init for pattern"), std::string::npos) << out;
    EXPECT_GE(frames, 40);
    EXPECT_GT(lit, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPattern, ByName,
    testing::Values(Case{"simple_equalizer", "simple_equalizer"},
                    Case{"ring_equalizer:dir=-1 fade=4", "ring_equalizer"},
                    Case{"swirl_meter", "swirl_meter"},
                    Case{"vertical_spectrum:fade=30", "vertical_spectrum"},
                    Case{"bar_equalizer:dir=-1", "bar_equalizer"},
                    Case{"center_meter", "center_meter"},
                    Case{"vertical_meter", "vertical_meter"},
                    Case{"trailing_lines:max_lines=0 new_line_chance=0",
                         "trailing_lines"},
                    Case{"warp_core:delay=2", "warp_core"},
                    Case{"auto_pong", "auto_pong"},
                    Case{"explosion", "explosion"},
                    Case{"beat_pulse:level=200", "beat_pulse"},
                    Case{"beat_chase:bars=2", "beat_chase"}),
    [](const testing::TestParamInfo<Case> &i) {
        return std::string(i.param.name);
    });
