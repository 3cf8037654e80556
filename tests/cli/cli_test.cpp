/* cli_test.cpp -- the option parser every program uses, through a small
 * table like the programs' own: both value forms, operands in order, the
 * program's wording of refusals, spelled-out names, optional values. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

enum { HELP, WINDOW, PORT, FEED, CAPTURE };

const cli_option table[] = {
    {"help", 'h', CLI_NO_VALUE, HELP, nullptr},
    {"window", 0, CLI_NO_VALUE, WINDOW, nullptr},
    {"port", 0, CLI_VALUE, PORT, nullptr},
    {"feed", 0, CLI_VALUE, FEED, "demo: %s needs HOST[:PORT]"},
    {"capture", 0, CLI_MAYBE_VALUE, CAPTURE, nullptr},
    {nullptr, 0, CLI_NO_VALUE, 0, nullptr},
};
const cli_wording wording = {"demo: unknown argument \"%s\"", "demo: %s needs a value"};

/* What the take function saw, as "key=value" entries. */
struct seen {
    std::vector<std::string> calls;
};

int take(void *record, int key, const char *value, char *err, size_t errlen)
{
    auto *s = (seen *)record;
    s->calls.push_back(std::to_string(key) + "=" + (value ? value : "(none)"));
    if (key == HELP)
        return 1;
    if (key == PORT) {
        long p;
        if (cli_parse_long(value, 1, 65535, &p) != 0) {
            snprintf(err, errlen, "demo: --port takes 1..65535, not \"%s\"", value);
            return -1;
        }
    }
    return 0;
}

struct outcome {
    int result;
    std::string err;
    std::vector<std::string> calls;
};

outcome parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "demo");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    seen s;
    char err[200] = "";
    int r = cli_parse((int)args.size(), argv.data(), table, &wording, take, &s, err, sizeof err);
    return {r, err, s.calls};
}

using calls = std::vector<std::string>;

TEST(CliParse, OptionsAndOperandsArriveInOrderInBothValueForms)
{
    auto o = parse({"walk", "--port", "80", "--window", "--port=81", "x", "--", "--window", "-"});
    EXPECT_EQ(o.result, 0) << o.err;
    EXPECT_EQ(o.calls, (calls{"-1=walk", "2=80", "1=(none)", "2=81", "-1=x", "-1=--window", "-1=-"}));

    /* A value may start with a dash; the parser does not judge values. */
    o = parse({"--feed", "-1"});
    EXPECT_EQ(o.calls, (calls{"3=-1"}));

    /* --help stops the walk with success, whatever follows. */
    o = parse({"-h", "--bogus"});
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.calls, (calls{"0=(none)"}));
}

TEST(CliParse, RefusalsUseTheProgramsWordingAndNameWhatWasTyped)
{
    auto o = parse({"--bogus=3"});
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.err, "demo: unknown argument \"--bogus=3\"");
    EXPECT_EQ(parse({"--win"}).err, "demo: unknown argument \"--win\"") << "no abbreviations";
    EXPECT_EQ(parse({"--window=1"}).err, "demo: unknown argument \"--window=1\"");
    EXPECT_EQ(parse({"-x"}).err, "demo: unknown argument \"-x\"");
    EXPECT_EQ(parse({"--port"}).err, "demo: --port needs a value");
    EXPECT_EQ(parse({"--feed"}).err, "demo: --feed needs HOST[:PORT]") << "the option's own wording";
    o = parse({"--window", "--port", "0", "--window"});
    EXPECT_EQ(o.err, "demo: --port takes 1..65535, not \"0\"") << "the program's own refusal";
    EXPECT_EQ(o.calls.size(), 2u) << "nothing after a refusal is taken";
}

TEST(CliParse, MaybeValueTakesTheNextArgumentUnlessItIsAnOption)
{
    EXPECT_EQ(parse({"--capture"}).calls, (calls{"4=(none)"}));
    EXPECT_EQ(parse({"--capture", "mic"}).calls, (calls{"4=mic"}));
    EXPECT_EQ(parse({"--capture=mic"}).calls, (calls{"4=mic"}));
    EXPECT_EQ(parse({"--capture", "--window"}).calls, (calls{"4=(none)", "1=(none)"}));
    EXPECT_EQ(parse({"--capture="}).calls, (calls{"4="}));
}

TEST(CliParse, ParsesAgainAfterAnEarlierRun)
{
    parse({"--window", "a"});
    auto o = parse({"--port", "9"});
    EXPECT_EQ(o.calls, (calls{"2=9"}));
}

TEST(CliValues, NumbersAndAddressesAreTakenWholeOrNotAtAll)
{
    long l = 7;
    EXPECT_EQ(cli_parse_long("3x", 0, 10, &l), -1);
    EXPECT_EQ(cli_parse_long("11", 0, 10, &l), -1);
    EXPECT_EQ(l, 7);
    double d = 1;
    EXPECT_EQ(cli_parse_double("2.5", 0, 3, &d), 0);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(cli_parse_double("nan", -1e9, 1e9, &d), -1);
    EXPECT_EQ(cli_parse_double("1e400", -1e9, 1e9, &d), -1);

    char host[16] = "unchanged";
    unsigned short port = 1;
    EXPECT_EQ(cli_parse_host_port("10.0.0.2", 7878, host, &port), 0);
    EXPECT_STREQ(host, "10.0.0.2");
    EXPECT_EQ(port, 7878);
    EXPECT_EQ(cli_parse_host_port("127.0.0.1:7880", 7878, host, &port), 0);
    EXPECT_EQ(port, 7880);
    for (const char *bad : {"", ":80", "localhost:80", "1.2.3.4:0", "1.2.3.4:65536",
                            "1.2.3.4:", "1.2.3.4:8x", "255.255.255.255255:1"})
        EXPECT_EQ(cli_parse_host_port(bad, 7878, host, &port), -1) << bad;
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, 7880);
}

} // namespace
