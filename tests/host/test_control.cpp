/* test_control.cpp -- glimhost --control with the real plug-in, headless
 * and muted, four callbacks a second so that no pattern ends by itself
 * while the test runs (the scheduler's shortest is 125 callbacks): every
 * command is answered with the show's state, steering shows in the
 * plug-in's own output ("calling init"), anything else changes nothing and
 * says why. (The sender's check is the box driver's too, tested there.) */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "host/host_run.h"
#include "support/udp.h"
#include "wire/show_control.h"

namespace tp = testing_process;

namespace {

TEST(Control, CommandsSteerTheShowAndAnythingElseChangesNothing)
{
    if (access(HALL_BINARY_DIR "/lib/libglim.so", R_OK) != 0)
        GTEST_SKIP() << "plug-in not built";
    setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
    unsetenv("DISPLAY");
    unsigned short control = testing_udp::free_port();
    int asker = testing_udp::open_socket(0);
    tp::Child host = tp::start({GLIMHOST, "--headless", "--mute", "--rate", "4", "--port",
                                std::to_string(testing_udp::free_port()), "--control",
                                std::to_string(control)});
    auto send = [&](const std::string &command, int timeout_ms) {
        testing_udp::drain(asker);
        testing_udp::send_to(asker, control, command.data(), command.size());
        auto line = testing_udp::receive(asker, timeout_ms);
        return std::string(line.begin(), line.end());
    };
    auto ask = [&](const std::string &command) {
        std::string line = send(command, 2000);
        show_answer a{};
        EXPECT_EQ(show_parse_answer(line.data(), line.size(), &a), 0) << line;
        return a;
    };
    auto inits_reach = [&](int n) {
        auto inits = [&] { return host_run::count(tp::out(host), "calling init for pattern"); };
        for (int waited = 0; waited < 3000 && inits() < n; waited += 20)
            usleep(20000);
        return inits() == n;
    };

    /* It answers once it plays, with every pattern the plug-in has. */
    for (int waited = 0; waited < 20000 && send("?", 200).empty(); waited += 200) {
    }
    ASSERT_TRUE(inits_reach(1)) << tp::err(host);
    show_answer a = ask("?");
    std::string names;
    for (int i = 0; i < a.num_patterns; i++)
        names += std::string(a.patterns[i]) + "\n";
    EXPECT_EQ(names, host_run::run({"--list-patterns"}).out);
    EXPECT_TRUE(a.has_pattern && !a.fixed && a.delay_ms == 0 && !a.has_error) << a.error;

    struct step {
        std::string command, pattern;  /* pattern: "" any */
        bool fixed;
        int delay, inits;              /* inits: the plug-in's pattern starts so far */
    } steps[] = {
        {"pattern rise:center=4 speed=2", "rise", true, 0, 2},
        {"next\n", "rise", true, 0, 3},
        {"auto", "", false, 0, 4},
        {"pattern simple_equalizer", "simple_equalizer", true, 0, 5},
        {"delay -45", "simple_equalizer", true, -45, 5},
    };
    /* The answer shows the command at once, and so does the show once the
     * plug-in has taken it, two callbacks and then some later. */
    for (const step &s : steps) {
        for (const std::string &command : {s.command, std::string("?")}) {
            a = ask(command);
            EXPECT_FALSE(a.has_error) << command << ": " << a.error;
            EXPECT_TRUE(s.pattern.empty() || s.pattern == a.pattern) << command << ": " << a.pattern;
            EXPECT_EQ(a.fixed, s.fixed) << command;
            EXPECT_EQ(a.delay_ms, s.delay) << command;
            EXPECT_TRUE(inits_reach(s.inits)) << command << "\n" << tp::out(host);
            usleep(command == "?" ? 0 : 600000);
        }
    }
    EXPECT_NE(tp::out(host).find("glimhost: control: pattern rise:center=4 speed=2\n"),
              std::string::npos);

    const std::string refused[][2] = {
        {"", "unknown command"},
        {"pattern no_such_pattern", "no pattern \"no_such_pattern\""},
        {"pattern rise\n\n", "control characters"},
        {"delay 2001", "delay needs whole milliseconds"},
        {"NEXT", "unknown command"},
        {std::string(300, 'n'), "command too long: 300 bytes"},
    };
    for (auto &r : refused) {
        a = ask(r[0]);
        EXPECT_NE(std::string(a.error).find(r[1]), std::string::npos) << r[0] << ": " << a.error;
        EXPECT_TRUE(a.fixed && a.delay_ms == -45 && a.pattern == std::string("simple_equalizer"));
    }
    usleep(600000);
    EXPECT_TRUE(inits_reach(5)) << tp::out(host);
    close(asker);
    tp::stop(host);
}

} // namespace
