/* tools_test.cpp -- dimtable's exact output and the box driver's table;
 * the test feed and the terminal view end to end over loopback. */
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "boxline/scale_table.h"
#include "support/process.h"
#include "support/udp.h"
#include "testfeed/testfeed_options.h"
#include "tools/hallview_options.h"

namespace {

using namespace testing_process;

const std::string BIN = HALL_BINARY_DIR "/bin/";

/* The dimming table as it must be printed, line by line. */
const char *const EXPECTED_TABLE =
    "\n"
    " 10, 12, 14, 16, 17, 18, 19, 20, 21, 22, 22, 23, 24, 24, 25, 26,\n"
    " 26, 27, 27, 28, 28, 29, 29, 30, 30, 31, 31, 32, 32, 32, 33, 33,\n"
    " 34, 34, 34, 35, 35, 35, 36, 36, 37, 37, 37, 38, 38, 38, 38, 39,\n"
    " 39, 39, 40, 40, 40, 41, 41, 41, 42, 42, 42, 42, 43, 43, 43, 44,\n"
    " 44, 44, 44, 45, 45, 45, 46, 46, 46, 46, 47, 47, 47, 47, 48, 48,\n"
    " 48, 48, 49, 49, 49, 49, 50, 50, 50, 50, 51, 51, 51, 51, 52, 52,\n"
    " 52, 52, 53, 53, 53, 53, 54, 54, 54, 54, 55, 55, 55, 55, 55, 56,\n"
    " 56, 56, 56, 57, 57, 57, 57, 58, 58, 58, 58, 59, 59, 59, 59, 59,\n"
    " 60, 60, 60, 60, 61, 61, 61, 61, 62, 62, 62, 62, 63, 63, 63, 63,\n"
    " 63, 64, 64, 64, 64, 65, 65, 65, 65, 66, 66, 66, 66, 67, 67, 67,\n"
    " 67, 68, 68, 68, 68, 69, 69, 69, 69, 70, 70, 70, 70, 71, 71, 71,\n"
    " 71, 72, 72, 72, 72, 73, 73, 73, 73, 74, 74, 74, 75, 75, 75, 75,\n"
    " 76, 76, 76, 77, 77, 77, 77, 78, 78, 78, 79, 79, 79, 79, 80, 80,\n"
    " 80, 81, 81, 81, 82, 82, 82, 83, 83, 83, 84, 84, 85, 85, 85, 86,\n"
    " 86, 87, 87, 87, 88, 88, 89, 89, 90, 90, 91, 91, 92, 92, 93, 93,\n"
    " 94, 94, 95, 96, 97, 97, 98, 99, 100, 101, 102, 103, 105, 107, 109, 119,\n";

std::string run_dimtable()
{
    Child c = start({BIN + "dimtable"});
    EXPECT_TRUE(wait_for(c, 20000));
    EXPECT_EQ(exit_code(c), 0);
    return out(c);
}

TEST(Dimtable, PrintsTheTableByteForByte)
{
    EXPECT_EQ(run_dimtable(), EXPECTED_TABLE);
}

TEST(Dimtable, BoxDriverTableIsTheGeneratorsOutputWithTwoFastEntries)
{
    std::string text = run_dimtable();
    std::vector<int> generated;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        if (item.find_first_of("0123456789") != std::string::npos)
            generated.push_back(std::stoi(item));
    ASSERT_EQ(generated.size(), 256u);
    EXPECT_EQ(generated[0], 10);
    EXPECT_EQ(generated[1], 12);
    EXPECT_EQ(scale_table[0], 1);
    EXPECT_EQ(scale_table[1], 8);
    for (int k = 2; k < 256; k++)
        EXPECT_EQ(scale_table[k], generated[k]) << "entry " << k;
}

TEST(Dimtable, RefusesArgumentsButHelps)
{
    Child c = start({BIN + "dimtable", "extra"});
    ASSERT_TRUE(wait_for(c, 5000));
    EXPECT_NE(exit_code(c), 0);
    c = start({BIN + "dimtable", "--help"});
    ASSERT_TRUE(wait_for(c, 5000));
    EXPECT_EQ(exit_code(c), 0);
    EXPECT_NE(out(c).find("Usage: dimtable"), std::string::npos);
}

std::vector<int> parse_numbers(const std::string &line)
{
    std::vector<int> v;
    std::stringstream in(line);
    int x;
    while (in >> x)
        v.push_back(x);
    return v;
}

TEST(TestFeedToTerminalView, OneFrameOfAllAtALevel)
{
    std::string port = std::to_string(testing_udp::free_port());
    Child feed = start({BIN + "testfeed", "--port", port, "--rate", "200", "--level", "77",
                        "--frames", "4000", "all"});
    ASSERT_TRUE(wait_for_output(feed, "Initialized", 10000));
    Child view = start({BIN + "hallview", "--port", port, "--once"});
    ASSERT_TRUE(wait_for(view, 15000));
    EXPECT_EQ(exit_code(view), 0) << err(view);
    EXPECT_EQ(parse_numbers(out(view)), std::vector<int>(60, 77));
    stop(feed);
    EXPECT_NE(out(feed).find("Network Lights Client Initialized.\n"), std::string::npos);
}

TEST(TestFeedToTerminalView, WalkLightsOneChannelAtATimeAndSaysWhich)
{
    std::string port = std::to_string(testing_udp::free_port());
    Child feed = start({BIN + "testfeed", "--port", port, "--rate", "100", "--hold", "2",
                        "--frames", "300", "walk"});
    ASSERT_TRUE(wait_for_output(feed, "Initialized", 10000));
    Child view = start({BIN + "hallview", "--port", port, "--frames", "20"});
    ASSERT_TRUE(wait_for(view, 15000));
    EXPECT_EQ(exit_code(view), 0) << err(view);
    std::stringstream lines(out(view));
    std::string line;
    int n = 0;
    while (std::getline(lines, line)) {
        auto v = parse_numbers(line);
        ASSERT_EQ(v.size(), 60u);
        int lit = 0;
        for (int x : v)
            lit += x == 255;
        EXPECT_EQ(lit, 1) << line;
        n++;
    }
    EXPECT_EQ(n, 20);
    ASSERT_TRUE(wait_for(feed, 10000)) << "--frames ends the feed";
    EXPECT_EQ(exit_code(feed), 0);
    std::string said = out(feed);
    EXPECT_NE(said.find("box 0 channel 0\nbox 0 channel 1\n"), std::string::npos);
    EXPECT_NE(said.find("box 9 channel 5\nbox 0 channel 0\n"), std::string::npos)
        << "the walk wraps round after channel 59";
}

TEST(TestFeed, PortInUseIsAnErrorExit)
{
    int holder = testing_udp::hold_port(0);
    ASSERT_GE(holder, 0);
    std::string port = std::to_string(testing_udp::local_port(holder));
    Child feed = start({BIN + "testfeed", "--port", port, "--frames", "1"});
    ASSERT_TRUE(wait_for(feed, 5000));
    EXPECT_EQ(exit_code(feed), 1);
    EXPECT_NE(err(feed).find("could not bind to socket"), std::string::npos);
    close(holder);
}

TEST(TerminalView, GivesUpWithAClearMessageWhenNothingComes)
{
    std::string port = std::to_string(testing_udp::free_port());
    Child view = start({BIN + "hallview", "--port", port, "--once", "--timeout", "1"});
    ASSERT_TRUE(wait_for(view, 10000));
    EXPECT_EQ(exit_code(view), 1);
    EXPECT_NE(err(view).find("hallview: no frame from 127.0.0.1:" + port), std::string::npos);
}

TEST(TerminalView, RenewsWithinTwoSecondsWhenNoFrameComes)
{
    int producer = testing_udp::open_socket();
    ASSERT_GE(producer, 0);
    std::string port = std::to_string(testing_udp::local_port(producer));
    Child view = start({BIN + "hallview", "--port", port});
    bool got = false;
    unsigned short first = 0, again = 0;
    testing_udp::receive(producer, 10000, &got, &first);
    ASSERT_TRUE(got) << "no subscription";
    /* An idle loop turns ten times a second: 250 turns would take 25 s. */
    testing_udp::receive(producer, 8000, &got, &again);
    EXPECT_TRUE(got) << "no renewal";
    EXPECT_EQ(again, first) << "renewed from the same socket";
    stop(view);
    close(producer);
}

/* Each program's --help names every option it takes and --version
 * answers; a refusal is one line on standard error and status 2. */
TEST(ToolCommandLines, HelpNamesEveryOptionAndARefusalIsOneLine)
{
    struct {
        std::string program;
        std::vector<std::string> in_help;
        std::vector<std::string> refused;
    } cases[] = {
        {"testfeed",
         {"--port N", "--rate N", "--hold N", "--level N", "--frames N", "walk", "boxes", "all",
          "off"},
         {"--rate", "0"}},
        {"hallview", {"--host ADDR", "--port N", "--once", "--frames N", "--timeout S"},
         {"--frames", "0"}},
        {"dimtable", {"16 values a line"}, {"extra"}},
    };
    for (auto &c : cases) {
        Child help = start({BIN + c.program, "--help"});
        ASSERT_TRUE(wait_for(help, 5000));
        EXPECT_EQ(exit_code(help), 0) << c.program;
        for (auto &word : c.in_help)
            EXPECT_NE(out(help).find(word), std::string::npos) << c.program << ": " << word;

        Child version = start({BIN + c.program, "--version"});
        ASSERT_TRUE(wait_for(version, 5000));
        EXPECT_EQ(exit_code(version), 0) << c.program;
        EXPECT_EQ(out(version).rfind(c.program + " (hallway-lights) ", 0), 0u) << out(version);

        std::vector<std::string> bad = c.refused;
        bad.insert(bad.begin(), BIN + c.program);
        Child refused = start(bad);
        ASSERT_TRUE(wait_for(refused, 5000));
        EXPECT_EQ(exit_code(refused), 2) << c.program;
        std::string said = err(refused);
        EXPECT_EQ(said.rfind(c.program + ": ", 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        EXPECT_EQ(out(refused), "") << c.program;
    }
}

/* SIGINT and SIGTERM end the feed and the view through their loops, with
 * status 0, rather than killing them mid-frame. */
TEST(ToolSignals, AStopSignalEndsTheFeedAndTheViewCleanly)
{
    for (int sig : {SIGINT, SIGTERM}) {
        std::string port = std::to_string(testing_udp::free_port());
        Child feed = start({BIN + "testfeed", "--port", port, "--rate", "100", "all"});
        ASSERT_TRUE(wait_for_output(feed, "Initialized", 10000));
        Child view = start({BIN + "hallview", "--port", port});
        ASSERT_TRUE(wait_for_output(view, "\n", 10000)) << "no frame reached the view";
        stop(view, sig);
        EXPECT_EQ(exit_code(view), 0) << "hallview, signal " << sig;
        stop(feed, sig);
        EXPECT_EQ(exit_code(feed), 0) << "testfeed, signal " << sig;
    }
}

/* Option parsing through the same functions the programs use. */
int parse_feed(std::vector<std::string> args, testfeed_options *o, std::string *msg)
{
    std::vector<char *> argv;
    args.insert(args.begin(), "testfeed");
    for (auto &a : args)
        argv.push_back(a.data());
    char err[256] = "";
    int r = testfeed_parse_options((int)argv.size(), argv.data(), o, err, sizeof err);
    *msg = err;
    return r;
}

TEST(TestFeedOptions, DefaultsAndRefusals)
{
    testfeed_options o;
    std::string msg;
    ASSERT_EQ(parse_feed({}, &o, &msg), 0);
    EXPECT_EQ(o.port, 7879);
    EXPECT_EQ(o.rate, 30);
    EXPECT_EQ(o.hold, 30);
    EXPECT_EQ(o.level, 255);
    EXPECT_EQ(o.frames, -1);
    EXPECT_EQ(o.pattern, TESTFEED_WALK);

    ASSERT_EQ(parse_feed({"boxes", "--rate", "10", "--level", "0"}, &o, &msg), 0);
    EXPECT_EQ(o.pattern, TESTFEED_BOXES);
    EXPECT_EQ(o.hold, 10);
    EXPECT_EQ(o.level, 0);

    for (auto bad : std::vector<std::vector<std::string>>{
             {"--port", "70000"}, {"--port", "0"}, {"--rate", "3x"}, {"--level", "256"},
             {"--level", "-1"}, {"--hold"}, {"--frames", ""}, {"sparkle"}, {"--colour", "1"}}) {
        EXPECT_EQ(parse_feed(bad, &o, &msg), -1) << bad[0];
        EXPECT_EQ(msg.rfind("testfeed: ", 0), 0u) << msg;
    }
}

TEST(TerminalViewOptions, DefaultsAndRefusals)
{
    hallview_options o;
    auto parse = [&](std::vector<std::string> args) {
        std::vector<char *> argv;
        args.insert(args.begin(), "hallview");
        for (auto &a : args)
            argv.push_back(a.data());
        char err[256];
        return hallview_parse_options((int)argv.size(), argv.data(), &o, err, sizeof err);
    };
    ASSERT_EQ(parse({}), 0);
    EXPECT_STREQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, 7878);
    EXPECT_EQ(o.timeout, 0);
    ASSERT_EQ(parse({"--once"}), 0);
    EXPECT_EQ(o.timeout, 10);
    EXPECT_EQ(parse({"--host", "example.org"}), -1);
    EXPECT_EQ(parse({"--host", std::string(100, '1')}), -1);
    EXPECT_EQ(parse({"--port", "-5"}), -1);
    EXPECT_EQ(parse({"--frames", "0"}), -1);
    EXPECT_EQ(parse({"--bogus"}), -1);
}

} // namespace
