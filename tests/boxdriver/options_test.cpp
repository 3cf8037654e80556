/* options_test.cpp -- the box driver's command line, parsed in-process and
 * through both programs (--help, refusals). */
#include <gtest/gtest.h>
#include <limits.h>

#include <string>
#include <vector>

#include "boxdriver/box_options.h"
#include "support/process.h"

namespace {

struct Parsed {
    int result;
    box_options o;
    std::string err;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "boxdriver");
    static std::vector<std::string> keep; /* argv texts outlive the call */
    keep = args;
    std::vector<char *> argv;
    for (auto &a : keep)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p;
    char err[256] = "";
    p.result = box_parse_options((int)keep.size(), argv.data(), &p.o, err, sizeof err);
    p.err = err;
    return p;
}

TEST(BoxOptions, DefaultsAreTheBuiltInSettings)
{
    Parsed p = parse({});
    ASSERT_EQ(p.result, 0);
    EXPECT_STREQ(p.o.device, "/dev/ttyS0");
    for (auto *h : p.o.host)
        EXPECT_STREQ(h, "127.0.0.1");
    EXPECT_EQ(p.o.first_port, 7881);
}

TEST(BoxOptions, EachOptionSetsItsValue)
{
    Parsed p = parse({"--device", "/dev/ttyUSB0", "--host-a", "192.168.1.10",
                      "--host-b", "10.0.0.2", "--host-c", "10.0.0.3",
                      "--local-port", "9000"});
    ASSERT_EQ(p.result, 0) << p.err;
    EXPECT_STREQ(p.o.device, "/dev/ttyUSB0");
    EXPECT_STREQ(p.o.host[0], "192.168.1.10");
    EXPECT_STREQ(p.o.host[1], "10.0.0.2");
    EXPECT_STREQ(p.o.host[2], "10.0.0.3");
    EXPECT_EQ(p.o.first_port, 9000);

    EXPECT_EQ(parse({"--help"}).result, CLI_HELP);
    EXPECT_EQ(parse({"-h"}).result, CLI_HELP);
    std::string long_path = "/dev/serial/by-id/" + std::string(300, 'u');
    EXPECT_EQ(parse({"--device", long_path}).result, 0);
}

TEST(BoxOptions, BadValuesAreRefusedWithAReason)
{
    struct {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"--host-a", "1.2.3"}, "dotted-decimal"},
        {{"--host-b", "example.org"}, "dotted-decimal"},
        {{"--host-c", "256.1.1.1"}, "dotted-decimal"},
        {{"--host-a", ""}, "dotted-decimal"},
        {{"--local-port", "0"}, "1 to 65535"},
        {{"--local-port", "65536"}, "1 to 65535"},
        {{"--local-port", "78x"}, "1 to 65535"},
        {{"--local-port", ""}, "1 to 65535"},
        {{"--device", ""}, "path"},
        {{"--device", std::string(PATH_MAX, 'x')}, "path"},
        {{"--device"}, "needs a value"},
        {{"--speed", "57600"}, "unknown option"},
        {{"extra"}, "unexpected argument"},
    };
    for (auto &c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.result, -1) << c.args[0];
        EXPECT_NE(p.err.find(c.says), std::string::npos) << p.err;
    }
}

TEST(BoxOptions, ProgramsAnswerHelpAndRefuseBadArguments)
{
    for (const char *name : {"boxdriver", "boxdriver57600"}) {
        std::string program = std::string(HALL_BINARY_DIR) + "/bin/" + name;
        auto help = testing_process::start({program, "--help"});
        ASSERT_TRUE(testing_process::wait_for(help, 10000));
        EXPECT_EQ(testing_process::exit_code(help), 0);
        std::string text = testing_process::out(help);
        EXPECT_NE(text.find("Usage: "), std::string::npos);
        EXPECT_NE(text.find(std::string(name) == "boxdriver" ? "38400 baud" : "57600 baud"),
                  std::string::npos) << text;

        auto bad = testing_process::start({program, "--local-port", "99999"});
        ASSERT_TRUE(testing_process::wait_for(bad, 10000));
        EXPECT_EQ(testing_process::exit_code(bad), 2);
        EXPECT_NE(testing_process::err(bad).find("--local-port"), std::string::npos);
        EXPECT_EQ(testing_process::out(bad), ""); /* nothing started */
    }
}

} // namespace
