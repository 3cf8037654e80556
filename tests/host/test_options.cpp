/* test_options.cpp -- glimhost's command line: sources, the pattern
 * argument, number ranges, and one-line reasons for what is refused. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_options.h"
#include "host/player.h"

namespace {

struct Parsed {
    int rc;
    host_options o;
    std::string err;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "glimhost");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p;
    char err[256] = "";
    p.rc = host_parse_options((int)args.size(), argv.data(), &p.o, err, sizeof err);
    p.err = err;
    /* pointers into argv die with args: copy what the tests look at */
    static std::string file, capture, options;
    file = p.o.file ? p.o.file : "(null)";
    capture = p.o.capture_source ? p.o.capture_source : "(null)";
    options = p.o.pattern_options ? p.o.pattern_options : "(null)";
    p.o.file = file.c_str();
    p.o.capture_source = capture.c_str();
    p.o.pattern_options = options.c_str();
    return p;
}

TEST(HostOptions, DefaultsPlayTheDemoOnThePluginsPort)
{
    auto p = parse({});
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.o.action, HOST_RUN);
    EXPECT_EQ(p.o.source, HOST_SOURCE_DEMO);
    EXPECT_EQ(p.o.port, -1);
    EXPECT_EQ(p.o.rate, 0.0);
    EXPECT_EQ(p.o.frames, 0);
    EXPECT_EQ(p.o.mute, 0);
    EXPECT_EQ(p.o.has_pattern, 0);
}

TEST(HostOptions, Sources)
{
    auto f = parse({"--mute", "song.flac"});
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.o.source, HOST_SOURCE_FILE);
    EXPECT_STREQ(f.o.file, "song.flac");
    EXPECT_EQ(f.o.mute, 1);

    auto c = parse({"--capture"});
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(c.o.source, HOST_SOURCE_CAPTURE);
    EXPECT_STREQ(c.o.capture_source, "(null)");

    auto named = parse({"--capture", "alsa_input.usb", "--frames", "9"});
    ASSERT_EQ(named.rc, 0);
    EXPECT_STREQ(named.o.capture_source, "alsa_input.usb");
    EXPECT_EQ(named.o.frames, 9);

    /* an option after --capture is not taken for its source */
    auto opt = parse({"--capture", "--mute"});
    ASSERT_EQ(opt.rc, 0);
    EXPECT_STREQ(opt.o.capture_source, "(null)");
    EXPECT_EQ(opt.o.mute, 1);

    EXPECT_STREQ(parse({"--capture=mon"}).o.capture_source, "mon");
    EXPECT_STREQ(parse({"--", "--odd-name.wav"}).o.file, "--odd-name.wav");
}

TEST(HostOptions, PatternNameAndOptions)
{
    auto p = parse({"--pattern", "rise:center=4 speed=2"});
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.o.has_pattern, 1);
    EXPECT_STREQ(p.o.pattern_name, "rise");
    EXPECT_STREQ(p.o.pattern_options, "center=4 speed=2");

    auto bare = parse({"--pattern=warp_core"});
    ASSERT_EQ(bare.rc, 0);
    EXPECT_STREQ(bare.o.pattern_name, "warp_core");
    EXPECT_STREQ(bare.o.pattern_options, "(null)");

    /* only the first ':' splits; the rest belongs to the options */
    auto colon = parse({"--pattern", "rise:a=1:b=2"});
    EXPECT_STREQ(colon.o.pattern_options, "a=1:b=2");
    EXPECT_STREQ(parse({"--pattern", "rise:"}).o.pattern_options, "");

    /* a file plays under a chosen pattern */
    auto with_file = parse({"--pattern", "rise:speed=2", "song.flac"});
    ASSERT_EQ(with_file.rc, 0);
    EXPECT_EQ(with_file.o.source, HOST_SOURCE_FILE);
    EXPECT_STREQ(with_file.o.pattern_name, "rise");

    for (std::string bad : std::vector<std::string>{":x=1", "", "ri se", "../lib", "rise;x",
                            std::string(HOST_PATTERN_NAME_MAX + 1, 'a')})
        EXPECT_EQ(parse({"--pattern", bad}).rc, -1) << bad;
    EXPECT_EQ(parse({"--pattern", std::string(HOST_PATTERN_NAME_MAX, 'a')}).rc, 0);
}

TEST(HostOptions, NumbersAreReadWholeAndInRange)
{
    EXPECT_EQ(parse({"--port", "7879"}).o.port, 7879);
    EXPECT_EQ(parse({"--port=1"}).o.port, 1);
    EXPECT_DOUBLE_EQ(parse({"--rate", "86.5"}).o.rate, 86.5);
    EXPECT_EQ(parse({"--frames", "2147483647"}).o.frames, 2147483647L);
    for (std::vector<std::string> bad :
         {std::vector<std::string>{"--port", "0"}, {"--port", "65536"}, {"--port", "12x"},
          {"--port", ""}, {"--port"}, {"--rate", "0"}, {"--rate", "nan"}, {"--rate", "inf"},
          {"--rate", "1e9"}, {"--rate", "-5"}, {"--frames", "0"}, {"--frames", "-1"},
          {"--frames", "99999999999999999999"}, {"--port", "1\n2"}}) {
        auto p = parse(bad);
        EXPECT_EQ(p.rc, -1) << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
        EXPECT_NE(p.err, "");
        EXPECT_EQ(p.err.find('\n'), std::string::npos);
    }
}

TEST(HostOptions, ContradictionsAndUnknownsAreRefused)
{
    EXPECT_EQ(parse({"a.wav", "b.wav"}).rc, -1);
    EXPECT_EQ(parse({"--capture", "--demo"}).rc, -1);
    EXPECT_EQ(parse({"--demo", "a.wav"}).rc, -1);
    EXPECT_EQ(parse({"--capture=", "x"}).rc, -1);
    auto u = parse({"--portx", "5"});
    EXPECT_EQ(u.rc, -1);
    EXPECT_NE(u.err.find("--portx"), std::string::npos);
    EXPECT_EQ(parse({"--plugin"}).rc, -1);
    /* --fast runs a file silently, nothing else */
    EXPECT_EQ(parse({"--fast", "--mute", "a.wav"}).o.fast, 1);
    for (auto bad : std::vector<std::vector<std::string>>{
             {"--fast", "a.wav"}, {"--fast", "--mute"}, {"--fast", "--mute", "--capture"}}) {
        auto p = parse(bad);
        EXPECT_EQ(p.rc, -1);
        EXPECT_NE(p.err.find("--fast needs --mute and a FILE"), std::string::npos) << p.err;
    }
}

TEST(HostOptions, LightDelayEitherWayButNotAheadOfLiveInput)
{
    EXPECT_EQ(parse({}).o.light_delay_ms, 0);
    EXPECT_EQ(parse({"--light-delay", "-45", "a.wav"}).o.light_delay_ms, -45);
    EXPECT_EQ(parse({"--light-delay=150"}).o.light_delay_ms, 150);
    EXPECT_EQ(parse({"--capture", "--light-delay", "120"}).o.light_delay_ms, 120);
    for (auto bad : std::vector<std::vector<std::string>>{
             {"--light-delay", "2001"}, {"--light-delay", "-2001"}, {"--light-delay", "1.5"},
             {"--light-delay", ""}, {"--light-delay"}}) {
        auto p = parse(bad);
        EXPECT_EQ(p.rc, -1) << (bad.size() > 1 ? bad[1] : "");
        EXPECT_NE(p.err.find("--light-delay"), std::string::npos) << p.err;
    }
    auto live = parse({"--light-delay", "-10", "--capture"});
    EXPECT_EQ(live.rc, -1);
    EXPECT_NE(live.err.find("--capture"), std::string::npos) << live.err;

    /* The same, changed while playing (--control's "delay"). */
    for (int is_live : {0, 1}) {
        audio_source s = {"test", 44100, is_live, nullptr};
        ASSERT_EQ(player_prepare(&s, nullptr, 0, 0), 0);  /* the delay left at 30 */
        char err[160];
        for (int ms : {-20, 2000, -2000, player_light_delay_limit_ms(44100) + 1, 30}) {
            bool ok = (ms >= 0 || !is_live) && ms <= 2000;
            int before = player_light_delay();
            EXPECT_EQ(player_change_light_delay(ms, err, sizeof err) == 0, ok) << ms;
            EXPECT_EQ(player_light_delay(), ok ? ms : before) << ms;
        }
    }
}

TEST(HostOptions, AnalyseAFileOrTheBuiltInMusicNotLiveInput)
{
    auto f = parse({"--analyse", "song.flac"});
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.o.action, HOST_ANALYSE);
    EXPECT_STREQ(f.o.file, "song.flac");
    EXPECT_EQ(parse({"--analyse"}).o.source, HOST_SOURCE_DEMO);
    auto live = parse({"--analyse", "--capture"});
    EXPECT_EQ(live.rc, -1);
    EXPECT_NE(live.err.find("--capture"), std::string::npos) << live.err;
    EXPECT_EQ(parse({"a.wav"}).o.no_analysis, 0);
    EXPECT_EQ(parse({"--no-analysis", "a.wav"}).o.no_analysis, 1);
}

TEST(HostOptions, HelpAndListWin)
{
    EXPECT_EQ(parse({"--mute", "--help", "--bogus"}).rc, CLI_HELP);
    EXPECT_EQ(parse({"-h"}).rc, CLI_HELP);
    EXPECT_EQ(parse({"--list-patterns", "--plugin", "x.so"}).o.action, HOST_LIST_PATTERNS);
}

} // namespace
