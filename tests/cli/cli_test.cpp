/* cli_test.cpp -- declared options: one table with a row of every kind,
 * parsed as a program would. Defaults, both value forms, operands, the
 * refusal each kind words, and the --help text made from the rows. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

struct record {
    int window;
    int port;
    long frames;
    unsigned short local;
    double rate;
    int baud;
    char host[16];
    char feed_host[16];
    unsigned short feed_port;
    const char *device;
    std::vector<std::string> *seen; /* what the setters and operands got */
};

int remember(void *r, const char *value, char *err, size_t errlen)
{
    auto *rec = (record *)r;
    if (value && std::string(value) == "bad") {
        snprintf(err, errlen, "expected anything but 'bad'");
        return -1;
    }
    rec->seen->push_back(value ? value : "(none)");
    return 0;
}

const char *const BAUDS[] = {"38400", "57600", nullptr};

const cli_opt rows[] = {
    {.name = "window", .kind = CLI_FLAG, .help = "a window", CLI_INTO(record, window)},
    {.name = "port", .kind = CLI_INT, .help = "UDP port", .dflt = "7878", .min = 1, .max = 65535,
     CLI_INTO(record, port)},
    {.name = "frames", .kind = CLI_INT, .help = "stop after N frames", .dflt = "run for ever",
     .min = 1, .max = 2e9, CLI_INTO(record, frames), .flags = CLI_SHOWN},
    {.name = "local", .kind = CLI_INT, .min = 1, .max = 65535, CLI_INTO(record, local)},
    {.name = "rate", .kind = CLI_DOUBLE, .arg = "HZ", .help = "callbacks a second", .min = 0.1,
     .max = 20000, CLI_INTO(record, rate)},
    {.name = "baud", .kind = CLI_WORD, .dflt = "38400", .words = BAUDS, CLI_INTO(record, baud)},
    {.name = "host", .kind = CLI_HOST, CLI_INTO(record, host)},
    {.name = "feed", .kind = CLI_HOST_PORT, .dflt = "127.0.0.1", .min = 7878,
     CLI_INTO(record, feed_host), .port_at = offsetof(record, feed_port)},
    {.name = "device", .kind = CLI_PATH, .help = "serial device; a long help text that goes on "
     "and on until it has to be wrapped onto a second line", .dflt = "/dev/ttyS0",
     CLI_INTO(record, device)},
    {.name = "tag", .kind = CLI_TEXT, .set = remember, .flags = CLI_REPEAT},
    {.name = "capture", .kind = CLI_TEXT, .arg = "SOURCE", .set = remember,
     .flags = CLI_OPTIONAL},
    {},
};

const cli_program demo = {"demo", "[options] [FILE]", "Does nothing.\n", rows, "Footer.\n",
                          remember};

struct outcome {
    int result;
    record r;
    std::string err;
    std::vector<std::string> seen;
};

outcome parse(std::vector<std::string> given)
{
    static std::vector<std::string> args; /* paths point into argv */
    args = given;
    args.insert(args.begin(), "/usr/bin/demo");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    outcome o{};
    o.r.seen = &o.seen;
    char err[300] = "";
    o.result = cli_parse(&demo, (int)args.size(), argv.data(), &o.r, err, sizeof err);
    o.err = err;
    return o;
}

using strings = std::vector<std::string>;

TEST(Cli, DefaultsThenEachKindStoresItsValueInEitherForm)
{
    auto o = parse({});
    ASSERT_EQ(o.result, CLI_RUN) << o.err;
    EXPECT_EQ(o.r.port, 7878);
    EXPECT_EQ(o.r.frames, 0) << "a shown default is the program's to set";
    EXPECT_EQ(o.r.baud, 0);
    EXPECT_STREQ(o.r.feed_host, "127.0.0.1");
    EXPECT_EQ(o.r.feed_port, 7878);
    EXPECT_STREQ(o.r.device, "/dev/ttyS0");

    o = parse({"song.wav", "--window", "--port=80", "--port", "81", "--frames", "2000000000",
               "--local", "65535", "--rate", "2.5", "--baud", "57600", "--host", "10.0.0.2",
               "--feed", "10.0.0.3:7880", "--device=/dev/ttyUSB0", "--tag", "a", "--tag=-b",
               "--capture", "--capture", "mic", "--", "--window"});
    ASSERT_EQ(o.result, CLI_RUN) << o.err;
    EXPECT_EQ(o.r.window, 1);
    EXPECT_EQ(o.r.port, 81) << "the last one given wins";
    EXPECT_EQ(o.r.frames, 2000000000L);
    EXPECT_EQ(o.r.local, 65535);
    EXPECT_EQ(o.r.rate, 2.5);
    EXPECT_EQ(o.r.baud, 1);
    EXPECT_STREQ(o.r.host, "10.0.0.2");
    EXPECT_STREQ(o.r.feed_host, "10.0.0.3");
    EXPECT_EQ(o.r.feed_port, 7880);
    EXPECT_STREQ(o.r.device, "/dev/ttyUSB0");
    EXPECT_EQ(o.seen, (strings{"song.wav", "a", "-b", "(none)", "mic", "--window"}));

    EXPECT_EQ(parse({"-h", "--bogus"}).result, CLI_HELP) << "nothing after --help is read";
    EXPECT_EQ(parse({"--version"}).result, CLI_VERSION);
}

TEST(Cli, EveryRefusalIsOneLineNamingTheOptionAndWhatItWants)
{
    const struct {
        strings args;
        std::string err;
    } cases[] = {
        {{"--port", "70000"}, "demo: --port: expected a whole number from 1 to 65535, got '70000'"},
        {{"--port", "3x"}, "demo: --port: expected a whole number from 1 to 65535, got '3x'"},
        {{"--rate", "nan"}, "demo: --rate: expected a number from 0.1 to 20000, got 'nan'"},
        {{"--baud", "9600"}, "demo: --baud: expected one of 38400|57600, got '9600'"},
        {{"--host", "localhost"},
         "demo: --host: expected a dotted-decimal IPv4 address such as 127.0.0.1, got 'localhost'"},
        {{"--feed", "1.2.3.4:0"}, "demo: --feed: expected HOST[:PORT], a dotted-decimal IPv4 "
                                  "address and a port from 1 to 65535, got '1.2.3.4:0'"},
        {{"--device", ""}, "demo: --device: expected a path of 1 to 4095 bytes, got ''"},
        {{"--tag", "bad"}, "demo: --tag: expected anything but 'bad'"},
        {{"--port"}, "demo: --port needs a value (N)"},
        {{"--win"}, "demo: unknown option '--win' (try --help)"},
        {{"--window=1"}, "demo: unknown option '--window=1' (try --help)"},
        {{"-x"}, "demo: unknown option '-x' (try --help)"},
        {{"--port", "1\n2"}, "demo: --port: expected a whole number from 1 to 65535, got '1?2'"},
        {{"--host", std::string(100, 'a')},
         "demo: --host: expected a dotted-decimal IPv4 address such as 127.0.0.1, got '" +
             std::string(60, 'a') + "...'"},
    };
    for (const auto &c : cases) {
        auto o = parse(c.args);
        EXPECT_EQ(o.result, CLI_REFUSED) << c.args[0];
        EXPECT_EQ(o.err, c.err) << c.args[0];
    }
    static const cli_program no_operands = {"plain", nullptr, nullptr, rows, nullptr, nullptr};
    char arg0[] = "plain", arg1[] = "extra", *argv[] = {arg0, arg1, nullptr};
    record r{};
    char err[200];
    EXPECT_EQ(cli_parse(&no_operands, 2, argv, &r, err, sizeof err), CLI_REFUSED);
    EXPECT_STREQ(err, "plain: unexpected argument 'extra' (try --help)");
}

TEST(Cli, HelpIsMadeFromTheRows)
{
    parse({});
    char text[4096];
    ASSERT_LT(cli_usage(&demo, text, sizeof text), (int)sizeof text);
    const char *expected =
        "Usage: demo [options] [FILE]\n"
        "Does nothing.\n"
        "Options:\n"
        "  --window            a window\n"
        "  --port N            UDP port (1..65535, default 7878)\n"
        "  --frames N          stop after N frames (1..2000000000, default run for ever)\n"
        "  --local N           (1..65535)\n"
        "  --rate HZ           callbacks a second (0.1..20000)\n"
        "  --baud 38400|57600  (default 38400)\n"
        "  --host ADDR\n"
        "  --feed HOST[:PORT]  (default 127.0.0.1)\n"
        "  --device PATH       serial device; a long help text that goes on and on until\n"
        "                      it has to be wrapped onto a second line (default\n"
        "                      /dev/ttyS0)\n"
        "  --tag TEXT\n"
        "  --capture [SOURCE]\n"
        "  -h, --help          this text\n"
        "  --version           the program's name and version\n"
        "Footer.\n";
    EXPECT_EQ(std::string(text), expected);
}

} // namespace
