/* paddle_state_test.cpp -- the paddle state datagram byte for byte, the
 * controllers' command line, and the decoding of joystick event records
 * and key presses. */
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "controllers/paddle_state.h"

namespace {

std::vector<unsigned char> encode(int32_t value, char button)
{
    unsigned char d[PADDLE_DATAGRAM_BYTES];
    paddle_encode(value, button, d);
    return std::vector<unsigned char>(d, d + sizeof d);
}

/* time, value (int16), type, number: the Linux joystick record */
std::vector<unsigned char> js_record(uint32_t time, int16_t value, uint8_t type, uint8_t number)
{
    unsigned char r[JS_EVENT_BYTES];
    memcpy(r, &time, 4);
    memcpy(r + 4, &value, 2);
    r[6] = type;
    r[7] = number;
    return std::vector<unsigned char>(r, r + sizeof r);
}

struct Parsed {
    int result;
    paddle_options opts;
    std::string error;
};

/* The parsed options point into the arguments, so they are kept. */
Parsed parse(std::vector<std::string> given, int with_device = 1)
{
    static std::vector<std::string> args;
    args = std::move(given);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Parsed p;
    char error[128] = "";
    p.result = paddle_parse_command_line((int)args.size(), argv.data(), with_device,
                                         &p.opts, error, sizeof error);
    p.error = error;
    return p;
}

} // namespace

TEST(PaddleDatagram, ValueInMachineOrderThenButton)
{
    using V = std::vector<unsigned char>;
    EXPECT_EQ(encode(32767, 0), (V{0xff, 0x7f, 0x00, 0x00, 0x00}));  /* full travel */
    EXPECT_EQ(encode(-32768, 1), (V{0x00, 0x80, 0xff, 0xff, 0x01})); /* other end, pressed */
    EXPECT_EQ(encode(-4000, 0), (V{0x60, 0xf0, 0xff, 0xff, 0x00}));
    EXPECT_EQ(encode(36000, 0), (V{0xa0, 0x8c, 0x00, 0x00, 0x00}));  /* beyond the stick */
}

TEST(PaddleKeys, AAndSStepBy4000OthersKeepTheValue)
{
    EXPECT_EQ(key_apply(0, 's'), 4000);
    EXPECT_EQ(key_apply(0, 'a'), -4000);
    EXPECT_EQ(key_apply(-4000, 'x'), -4000);
    EXPECT_EQ(key_apply(7, '\n'), 7);
    EXPECT_EQ(key_apply(7, 'S'), 7); /* only the lower-case keys */
    int32_t v = 0;
    for (int i = 0; i < 9; i++)
        v = key_apply(v, 's');
    EXPECT_EQ(v, 36000); /* not limited */
}

TEST(PaddleKeys, WrapsAtThirtyTwoBitsInsteadOfOverflowing)
{
    EXPECT_EQ(key_apply(INT32_MAX, 's'), INT32_MIN + 3999);
    EXPECT_EQ(key_apply(INT32_MIN, 'a'), INT32_MAX - 3999);
}

TEST(JoystickEvents, OnlyAxisZeroAndButtonZeroCount)
{
    int32_t axis = 0;
    char button = 0;
    EXPECT_EQ(js_take_event(js_record(10, 32767, JS_EVENT_AXIS, 0).data(), &axis, &button), 1);
    EXPECT_EQ(axis, 32767);
    EXPECT_EQ(js_take_event(js_record(11, 1, JS_EVENT_BUTTON, 0).data(), &axis, &button), 1);
    EXPECT_EQ(button, 1);
    EXPECT_EQ(axis, 32767);

    /* axis 1 and button 1 are someone else's */
    EXPECT_EQ(js_take_event(js_record(12, -32767, JS_EVENT_AXIS, 1).data(), &axis, &button), 0);
    EXPECT_EQ(js_take_event(js_record(13, 0, JS_EVENT_BUTTON, 1).data(), &axis, &button), 0);
    EXPECT_EQ(axis, 32767);
    EXPECT_EQ(button, 1);
}

TEST(JoystickEvents, InitialStateEventsCountAndAxisIsSignExtended)
{
    int32_t axis = 0;
    char button = 5;
    EXPECT_EQ(js_take_event(js_record(0, 0, JS_EVENT_BUTTON | JS_EVENT_INIT, 0).data(), &axis, &button), 1);
    EXPECT_EQ(button, 0);
    EXPECT_EQ(js_take_event(js_record(0, -32767, JS_EVENT_AXIS | JS_EVENT_INIT, 0).data(), &axis, &button), 1);
    EXPECT_EQ(axis, -32767);
}

TEST(JoystickEvents, OtherTypesOfNumberZeroSendUnchangedState)
{
    int32_t axis = 123;
    char button = 1;
    EXPECT_EQ(js_take_event(js_record(0, 999, 0x04, 0).data(), &axis, &button), 1);
    EXPECT_EQ(axis, 123);
    EXPECT_EQ(button, 1);
    /* a button value beyond one byte keeps its low byte */
    EXPECT_EQ(js_take_event(js_record(0, 0x0102, JS_EVENT_BUTTON, 0).data(), &axis, &button), 1);
    EXPECT_EQ(button, 2);
}

TEST(PaddleCommandLine, DefaultsAndPositionalHostAndPort)
{
    Parsed p = parse({"joysend"});
    ASSERT_EQ(p.result, 0);
    EXPECT_STREQ(p.opts.host, "127.0.0.1");
    EXPECT_EQ(p.opts.port, 8000);
    EXPECT_STREQ(p.opts.device, "/dev/js0");

    p = parse({"keysend", "10.0.0.7", "8001", "extra", "ignored"}, 0);
    ASSERT_EQ(p.result, 0) << p.error;
    EXPECT_STREQ(p.opts.host, "10.0.0.7");
    EXPECT_EQ(p.opts.port, 8001);
}

TEST(PaddleCommandLine, DeviceOptionOnlyForJoysend)
{
    Parsed p = parse({"joysend", "--device", "/tmp/js.fifo", "127.0.0.1", "8001"});
    ASSERT_EQ(p.result, 0) << p.error;
    EXPECT_STREQ(p.opts.device, "/tmp/js.fifo");
    EXPECT_EQ(p.opts.port, 8001);
    p = parse({"joysend", "--device=/dev/input/js1"});
    ASSERT_EQ(p.result, 0);
    EXPECT_STREQ(p.opts.device, "/dev/input/js1");

    EXPECT_EQ(parse({"joysend", "--device"}).result, -1);
    EXPECT_EQ(parse({"joysend", "--device="}).result, -1);
    p = parse({"keysend", "--device", "x"}, 0);
    EXPECT_EQ(p.result, -1);
    EXPECT_NE(p.error.find("unknown option '--device'"), std::string::npos) << p.error;
}

TEST(PaddleCommandLine, HelpWins)
{
    EXPECT_EQ(parse({"joysend", "--help"}).result, CLI_HELP);
    EXPECT_EQ(parse({"keysend", "10.0.0.1", "-h"}, 0).result, CLI_HELP);
}

TEST(PaddleCommandLine, RefusesBadHostsAndPorts)
{
    std::string long_host(256, '1');
    Parsed p = parse({"keysend", long_host}, 0);
    EXPECT_EQ(p.result, -1);
    EXPECT_NE(p.error.find("longer than 255"), std::string::npos) << p.error;

    p = parse({"keysend", "game.local"}, 0);
    EXPECT_EQ(p.result, -1);
    EXPECT_NE(p.error.find("not a dotted-decimal IPv4 address"), std::string::npos);
    EXPECT_EQ(parse({"keysend", "300.1.1.1"}, 0).result, -1);
    EXPECT_EQ(parse({"keysend", ""}, 0).result, -1);

    for (const char *port : {"0", "65536", "80x", "-1", "", "99999999999999999999"}) {
        p = parse({"keysend", "127.0.0.1", port}, 0);
        EXPECT_EQ(p.result, -1) << "port '" << port << "'";
    }
    EXPECT_EQ(parse({"keysend", "127.0.0.1", "65535"}, 0).opts.port, 65535);
    EXPECT_EQ(parse({"keysend", "--loud"}, 0).result, -1);
}

TEST(PaddleCommandLine, AcceptsWhatTheAddressConversionAccepts)
{
    /* 255 characters is the most the host buffer holds */
    EXPECT_EQ(parse({"keysend", "255.255.255.255"}, 0).result, 0);
    EXPECT_EQ(parse({"keysend", "127.1"}, 0).result, 0);
    std::string padded = std::string(250, '0') + "127.1";
    EXPECT_EQ(padded.size(), 255u);
    EXPECT_EQ(parse({"keysend", padded}, 0).result, 0);
}
