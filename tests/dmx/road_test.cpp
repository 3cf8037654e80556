/* road_test.cpp -- the whole road: testfeed publishes a frame, dmxout
 * puts it on universe 1 of a private olad, dmxin turns the universe back
 * into a feed, and hallview --once shows testfeed's frame. */
#include "dmx_support.h"

using namespace dmx_test;

namespace {

const std::string BIN = HALL_BINARY_DIR "/bin/";

std::string words(const std::vector<uint8_t> &f)
{
    std::string s;
    for (size_t i = 0; i < f.size(); i++)
        s += (i ? " " : "") + std::to_string(f[i]);
    return s;
}

} // namespace

TEST_F(WithOlad, TestfeedThroughDmxoutUniverseAndDmxinReachesHallview)
{
    std::string feed_port = std::to_string(testing_udp::free_port());
    std::string lamp_port = std::to_string(testing_udp::free_port());
    /* box 0 lit at 200 for as long as the test runs */
    auto feed = testing_process::start({BIN + "testfeed", "--port", feed_port, "--level", "200",
                                        "--hold", "1000000", "boxes"});
    auto in = testing_process::start({DMXIN, "--port", lamp_port, "--ola-port", port()});
    auto out = testing_process::start(
        {DMXOUT, "--feed", "127.0.0.1:" + feed_port, "--ola-port", port()});

    std::vector<uint8_t> frame(60, 0);
    for (int i = 0; i < 6; i++)
        frame[i] = 200;
    EXPECT_GE(testing_ola::wait_frame(
                  client, [&](const testing_ola::Frame &f) { return f.data == frame; }, 10000),
              0)
        << "universe 1 carries testfeed's frame: " << testing_process::err(out);

    /* dmxin may still publish a dark frame taken before the DMX came */
    std::string shown, dark = words(std::vector<uint8_t>(60, 0));
    for (int run = 0; run < 5; run++) {
        auto view = testing_process::start(
            {BIN + "hallview", "--port", lamp_port, "--once", "--timeout", "10"});
        ASSERT_TRUE(testing_process::wait_for(view, 15000));
        EXPECT_EQ(testing_process::exit_code(view), 0) << testing_process::err(view);
        shown = testing_process::out(view);
        if (shown != dark + "\n")
            break;
    }
    EXPECT_EQ(shown, words(frame) + "\n");

    for (auto *c : {&out, &in, &feed})
        testing_process::stop(*c);
}
