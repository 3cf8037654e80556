/* parse_test.cpp -- the patch file, the frame-to-slots step and the two
 * command lines, through the functions the programs call. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dmx/dmx_options.h"
#include "dmx/dmx_patch.h"

namespace {

struct parsed {
    int result;
    dmx_patch patch;
    std::string err;
};

parsed parse(const std::string &text)
{
    parsed p{};
    char err[256] = "";
    p.result = dmx_patch_parse(&p.patch, text.data(), text.size(), "hall.patch", err, sizeof err);
    p.err = err;
    return p;
}

std::string numbers(int count, int value)
{
    std::string s;
    for (int i = 0; i < count; i++)
        s += std::to_string(value) + (i % 6 == 5 ? "\n" : " ");
    return s;
}

template <typename Options, typename Parse>
std::string refusal(const char *program, Parse parse_options, std::vector<std::string> args)
{
    args.insert(args.begin(), program);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Options o;
    char err[256] = "";
    return parse_options((int)args.size(), argv.data(), &o, err, sizeof err) == 0 ? "" : err;
}

/* The record a command line gives; pointers into argv are not to be
 * followed once it returns. */
template <typename Options, typename Parse>
int parse_into(Options *o, const char *program, Parse parse_options, std::vector<std::string> args)
{
    args.insert(args.begin(), program);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char err[256];
    return parse_options((int)args.size(), argv.data(), o, err, sizeof err);
}

} // namespace

TEST(DmxPatch, RefusalsNameTheLine)
{
    EXPECT_EQ(parse("1\n2\n513\n").err,
              "hall.patch:3: \"513\" is not a DMX address (a whole number 1..512, or 0 to leave "
              "the channel out)");
    EXPECT_EQ(parse("\n\n1.5").err.substr(0, 20), "hall.patch:3: \"1.5\" ");
    EXPECT_EQ(parse(std::string("1\n2\0003", 5)).err.substr(0, 19), "hall.patch:2: \"2?3\"")
        << "a NUL byte is a bad character, not the end";
    EXPECT_EQ(parse(numbers(61, 1)).err,
              "hall.patch:11: more than 60 addresses (one for each channel of the frame)");
    EXPECT_EQ(parse(numbers(12, 1) + "# short\n").err,
              "hall.patch:4: 12 addresses; a patch gives each of the 60 channels one (0 leaves "
              "it out)");
    EXPECT_EQ(parse(numbers(60, 0)).err.substr(0, 43),
              "hall.patch:11: every channel is left out (a");

    dmx_patch p;
    char err[200];
    EXPECT_NE(dmx_patch_load(&p, "/nonexistent/hall.patch", err, sizeof err), 0);
    EXPECT_STREQ(err, "cannot open patch file /nonexistent/hall.patch: No such file or directory");
}

TEST(DmxPatch, SlotsTakeTheLevelAsTheBoxDriverDoesAndTheHigherOfShared)
{
    dmx_patch p;
    char err[200];
    ASSERT_EQ(dmx_patch_from_start(&p, 453, err, sizeof err), 0);
    EXPECT_EQ(p.slots, 512);
    EXPECT_NE(dmx_patch_from_start(&p, 454, err, sizeof err), 0);
    EXPECT_NE(dmx_patch_from_start(&p, 0, err, sizeof err), 0);

    ASSERT_EQ(dmx_patch_from_start(&p, 1, err, sizeof err), 0);
    int frame[60];
    unsigned char slots[DMX_SLOTS];
    for (int level : {0, 1, 16, 100, 128, 255, 256}) {
        for (int v = -5; v < 261; v += 60) {
            for (int i = 0; i < 60; i++)
                frame[i] = v + i;
            dmx_patch_apply(&p, frame, level, slots);
            for (int i = 0; i < 60; i++) {
                int clamped = std::min(255, std::max(0, v + i));
                /* the box driver: (int)(value * (level * 0.00390625)) */
                ASSERT_EQ(slots[i], (int)(clamped * (level * 0.00390625)))
                    << "value " << v + i << " level " << level;
            }
            ASSERT_EQ(slots[60], 0);
        }
    }

    p.address[10] = 5; /* channel 10 shares address 5 with channel 4 */
    for (int i = 0; i < 60; i++)
        frame[i] = 0;
    frame[4] = 30;
    frame[10] = 200;
    dmx_patch_apply(&p, frame, 256, slots);
    EXPECT_EQ(slots[4], 200);
    EXPECT_EQ(slots[10], 0) << "address 11 lost its channel";
    frame[4] = 250;
    dmx_patch_apply(&p, frame, 256, slots);
    EXPECT_EQ(slots[4], 250);
}

TEST(DmxOptions, ValuesAreCheckedAndStartAndPatchExcludeEachOther)
{
    auto out = [](std::vector<std::string> a) {
        return refusal<dmxout_options>("dmxout", dmxout_parse_options, a);
    };
    auto in = [](std::vector<std::string> a) {
        return refusal<dmxin_options>("dmxin", dmxin_parse_options, a);
    };
    EXPECT_EQ(out({"--feed", "127.0.0.2:7879", "--universe", "0", "--patch", "p", "--level",
                   "0", "--rate", "1000", "--ola-port", "9011", "--blackout-on-exit"}),
              "");
    EXPECT_EQ(out({"--level", "257"}),
              "dmxout: --level: expected a whole number from 0 to 256, got '257'");
    EXPECT_EQ(out({"--patch", "p", "--start", "2"}), "dmxout: give --start or --patch, not both");
    EXPECT_EQ(out({"--start", "1", "--patch", "p"}), "dmxout: give --start or --patch, not both")
        << "given at its default value, --start is still given";
    EXPECT_EQ(out({"--rate", "0"}),
              "dmxout: --rate: expected a whole number from 1 to 1000, got '0'");
    EXPECT_EQ(in({"--port", "0"}),
              "dmxin: --port: expected a whole number from 1 to 65535, got '0'");
    EXPECT_EQ(in({"--level", "3"}), "dmxin: unknown option '--level' (try --help)");
}

TEST(DmxOptions, BothProgramsTakeTheSharedOptionsAndDefaultsAlike)
{
    struct {
        std::vector<std::string> args;
        long universe, start;
        int rate;
        unsigned short ola_port;
    } cases[] = {
        {{}, 1, 1, 44, 9010},
        {{"--universe", "0", "--start", "453", "--rate", "1000", "--ola-port", "9011"}, 0, 453,
         1000, 9011},
        {{"--universe=2147483647", "--start=7", "--start", "9"}, 2147483647, 9, 44, 9010},
    };
    for (auto &c : cases) {
        dmxout_options o;
        dmxin_options i;
        ASSERT_EQ(parse_into(&o, "dmxout", dmxout_parse_options, c.args), CLI_RUN);
        ASSERT_EQ(parse_into(&i, "dmxin", dmxin_parse_options, c.args), CLI_RUN);
        for (const dmx_common_options *d : {&o.dmx, &i.dmx}) {
            EXPECT_EQ(d->universe, c.universe);
            EXPECT_EQ(d->start, c.start);
            EXPECT_EQ(d->rate, c.rate);
            EXPECT_EQ(d->ola_port, c.ola_port);
        }
    }

    dmxout_options o;
    ASSERT_EQ(parse_into(&o, "dmxout", dmxout_parse_options, {}), CLI_RUN);
    EXPECT_STREQ(o.feed_host, "127.0.0.1");
    EXPECT_EQ(o.feed_port, 7878);
    EXPECT_EQ(o.level, 256);
    EXPECT_EQ(o.patch, nullptr);
    EXPECT_EQ(o.blackout_on_exit, 0);
    ASSERT_EQ(parse_into(&o, "dmxout", dmxout_parse_options,
                         {"--feed", "127.0.0.2", "--patch", "p", "--blackout-on-exit"}),
              CLI_RUN);
    EXPECT_STREQ(o.feed_host, "127.0.0.2");
    EXPECT_EQ(o.feed_port, 7878) << "the port when left out";
    EXPECT_NE(o.patch, nullptr);
    EXPECT_EQ(o.blackout_on_exit, 1);
    dmxin_options i;
    ASSERT_EQ(parse_into(&i, "dmxin", dmxin_parse_options, {}), CLI_RUN);
    EXPECT_EQ(i.port, 7876);
}
