/* test_control.cpp -- glimhost --control with the real plug-in, headless
 * and muted, four callbacks a second so that no pattern ends by itself
 * while the test runs (the scheduler's shortest is 125 callbacks): every
 * command is answered with the show's state, steering shows in the
 * plug-in's own output ("calling init"), anything else changes nothing and
 * says why, and other senders are ignored. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/udp.h"
#include "wire/show_control.h"

namespace tp = testing_process;

namespace {

const std::string libglim = HALL_BINARY_DIR "/lib/libglim.so";

class Control : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(libglim.c_str(), R_OK) != 0)
            GTEST_SKIP() << "plug-in not built: " << libglim;
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        unsetenv("DISPLAY");
        control = testing_udp::free_port();
        asker = testing_udp::open_socket(0);
        host = tp::start({GLIMHOST, "--headless", "--mute", "--rate", "4", "--port",
                          std::to_string(testing_udp::free_port()), "--control",
                          std::to_string(control)});
    }
    void TearDown() override
    {
        tp::stop(host);
        close(asker);
    }
    /* Send a command; the answer line ("" when none came). */
    std::string send(const std::string &command, int from = -1, int timeout_ms = 2000)
    {
        int s = from >= 0 ? from : asker;
        testing_udp::drain(s);
        testing_udp::send_to(s, control, command.data(), command.size());
        auto line = testing_udp::receive(s, timeout_ms);
        return std::string(line.begin(), line.end());
    }
    show_answer parsed(const std::string &line)
    {
        show_answer a{};
        EXPECT_EQ(show_parse_answer(line.data(), line.size(), &a), 0) << line;
        return a;
    }
    int inits() { return host_run::count(tp::out(host), "calling init for pattern"); }
    bool inits_reach(int n)
    {
        for (int waited = 0; waited < 3000 && inits() < n; waited += 20)
            usleep(20000);
        return inits() == n;
    }
    unsigned short control = 0;
    int asker = -1;
    tp::Child host;
};

TEST_F(Control, CommandsSteerTheShowAndAnythingElseChangesNothing)
{
    /* It answers once it plays, with every pattern the plug-in has. */
    std::string line;
    for (int waited = 0; waited < 20000 && line.empty(); waited += 200)
        line = send("?", -1, 200);
    ASSERT_FALSE(line.empty()) << tp::err(host);
    ASSERT_TRUE(inits_reach(1)) << tp::out(host);
    show_answer a = parsed(send("?"));
    auto listed = host_run::run({"--list-patterns"});
    std::string names;
    for (int i = 0; i < a.num_patterns; i++)
        names += std::string(a.patterns[i]) + "\n";
    EXPECT_EQ(names, listed.out);
    EXPECT_TRUE(a.has_pattern);
    EXPECT_FALSE(a.fixed);
    EXPECT_EQ(a.delay_ms, 0);
    EXPECT_FALSE(a.has_error);

    struct step {
        std::string command;
        std::string pattern;  /* "" any */
        bool fixed;
        int delay, inits;     /* inits: the plug-in's pattern starts so far */
    } steps[] = {
        {"pattern rise:center=4 speed=2", "rise", true, 0, 2},
        {"next\n", "rise", true, 0, 3},
        {"auto", "", false, 0, 4},
        {"pattern simple_equalizer", "simple_equalizer", true, 0, 5},
        {"delay -45", "simple_equalizer", true, -45, 5},
        {"delay 2000", "simple_equalizer", true, 2000, 5},
    };
    for (const step &s : steps) {
        /* The answer shows the command at once, and so does the show
         * once the plug-in has taken it. */
        for (const std::string &command : {s.command, std::string("?")}) {
            a = parsed(send(command));
            EXPECT_FALSE(a.has_error) << command << ": " << a.error;
            EXPECT_TRUE(s.pattern.empty() || s.pattern == a.pattern) << command << ": " << a.pattern;
            EXPECT_EQ(a.fixed, s.fixed) << command;
            EXPECT_EQ(a.delay_ms, s.delay) << command;
            EXPECT_TRUE(inits_reach(s.inits)) << command << "\n" << tp::out(host);
            if (command != "?")
                usleep(600000);  /* two callbacks and then some */
        }
    }
    EXPECT_NE(tp::out(host).find("glimhost: control: pattern rise:center=4 speed=2\n"),
              std::string::npos);

    const char *refused[][2] = {
        {"", "unknown command"},
        {"x", "unknown command"},
        {"pattern", "unknown command"},
        {"pattern no_such_pattern", "no pattern \"no_such_pattern\""},
        {"pattern rise\n\n", "control characters"},
        {"delay 2001", "delay needs whole milliseconds"},
        {"delay 1.5", "delay needs whole milliseconds"},
        {"NEXT", "unknown command"},
    };
    for (auto &r : refused) {
        a = parsed(send(r[0]));
        EXPECT_TRUE(a.has_error) << r[0];
        EXPECT_NE(std::string(a.error).find(r[1]), std::string::npos) << a.error;
        EXPECT_EQ(std::string(a.pattern) + " " + std::to_string(a.fixed) + " " +
                      std::to_string(a.delay_ms),
                  "simple_equalizer 1 2000");
    }
    a = parsed(send(std::string(300, 'n')));
    EXPECT_NE(std::string(a.error).find("command too long: 300 bytes"), std::string::npos);

    /* Another sender is not answered, and steers nothing. */
    int stranger = testing_udp::bind_socket(0x7f000002, 0);
    ASSERT_GE(stranger, 0);
    EXPECT_EQ(send("next", stranger, 500), "");
    close(stranger);
    usleep(600000);
    EXPECT_EQ(inits(), 5) << tp::out(host);
}

} // namespace
