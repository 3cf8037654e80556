/* options_test.cpp -- the simulator's command line: defaults, --feed in
 * its forms, and refusals. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hallsim/options.h"

namespace {

int parse(std::vector<std::string> args, hallsim_options *o, std::string *err = nullptr)
{
    args.insert(args.begin(), "hallsim");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    char e[256] = "";
    int r = hallsim_parse_options((int)args.size(), argv.data(), o, e, sizeof e);
    if (err)
        *err = e;
    return r;
}

TEST(Options, NoArgumentsSubscribeToTheLocalProducerFullScreen)
{
    hallsim_options o;
    ASSERT_EQ(parse({}, &o), 0);
    EXPECT_STREQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, 7878);
    EXPECT_EQ(o.window, 0);
}

TEST(Options, FeedTakesHostAndOptionalPortInBothSpellings)
{
    hallsim_options o;
    ASSERT_EQ(parse({"--feed", "192.168.1.20"}, &o), 0);
    EXPECT_STREQ(o.host, "192.168.1.20");
    EXPECT_EQ(o.port, 7878);
    ASSERT_EQ(parse({"--window", "--feed=10.0.0.2:7880"}, &o), 0);
    EXPECT_STREQ(o.host, "10.0.0.2");
    EXPECT_EQ(o.port, 7880);
    EXPECT_EQ(o.window, 1);
    ASSERT_EQ(parse({"--feed", "255.255.255.255:65535"}, &o), 0);
    EXPECT_EQ(o.port, 65535);
}

TEST(Options, BadFeedValuesAreRefusedWithAReason)
{
    for (const char *bad : {"", ":7878", "localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1",
                            "1.2.3.4:", "1.2.3.4:0", "1.2.3.4:65536", "1.2.3.4:78x",
                            "1.2.3.4:-1", "1.2.3.4:7878:1", "1234567890123456:1"}) {
        hallsim_options o;
        std::string err;
        EXPECT_EQ(parse({"--feed", bad}, &o, &err), -1) << bad;
        EXPECT_NE(err.find("--feed"), std::string::npos) << bad;
    }
}

TEST(Options, UnknownArgumentsAndAMissingValueAreRefused)
{
    hallsim_options o;
    std::string err;
    EXPECT_EQ(parse({"--fullscreen"}, &o, &err), -1);
    EXPECT_NE(err.find("--fullscreen"), std::string::npos);
    EXPECT_EQ(parse({"--feed"}, &o, &err), -1);
    EXPECT_NE(err.find("--feed needs"), std::string::npos);
    EXPECT_EQ(parse({"127.0.0.1"}, &o, &err), -1);
}

TEST(Options, HelpIsNoted)
{
    hallsim_options o;
    ASSERT_EQ(parse({"--help"}, &o), CLI_HELP);
    char usage[4096];
    cli_usage(&hallsim_cli, usage, sizeof usage);
    EXPECT_NE(std::string(usage).find("--window"), std::string::npos);
}

} // namespace
