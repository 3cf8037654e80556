/* main_test.cpp -- hallsim end to end: the real program under a private
 * Xvfb, fed over real UDP sockets on 127.0.0.1, quit with real key
 * presses (xdotool). Its producer is a test socket on a free port
 * (--feed), so only the receiving range from 7879 is shared (lock). */
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "sim_support.h"
#include "support/process.h"
#include "support/udp.h"
#include "support/xvfb.h"

namespace tp = testing_process;
using sim_support::image;

namespace {

const std::string HALLSIM = std::string(HALL_BINARY_DIR) + "/bin/hallsim";

int port_printed(const tp::Child &c)
{
    std::string out = tp::out(c);
    size_t at = out.find("sock: ");
    return at == std::string::npos ? -1 : atoi(out.c_str() + at + 6);
}

/* Lines of `text` for which `match` holds. */
template <typename M> int count_lines(const std::string &text, M match)
{
    int n = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        n += match(text.substr(start, end - start));
        start = end + 1;
    }
    return n;
}

/* "%f fps.": digits, a point, six digits, " fps." */
bool fps_line(const std::string &line)
{
    size_t i = 0;
    while (i < line.size() && isdigit((unsigned char)line[i]))
        i++;
    if (i == 0 || i >= line.size() || line[i] != '.')
        return false;
    size_t frac = ++i;
    while (i < line.size() && isdigit((unsigned char)line[i]))
        i++;
    return i - frac == 6 && line.substr(i) == " fps.";
}

bool load_failure(const std::string &line)
{
    return line.rfind("Unable to load ", 0) == 0;
}

class Main : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (sim.pid > 0)
            tp::stop(sim, SIGKILL);
        if (producer >= 0)
            close(producer);
        if (!dir.empty())
            sim_support::remove_dir(dir);
        testing_xvfb::stop(xvfb);
    }

    void start_x(const char *screen = "640x480x24")
    {
        xvfb = testing_xvfb::start(screen);
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
    }

    /* Start hallsim fed by a fresh producer socket on `at`; wait for its
     * first subscription request. */
    void start_fed(std::vector<std::string> extra = {}, uint32_t at = INADDR_LOOPBACK)
    {
        producer = testing_udp::bind_socket(at, 0);
        ASSERT_GE(producer, 0);
        dir = sim_support::texture_dir();
        char host[16];
        uint32_t net = htonl(at);
        inet_ntop(AF_INET, &net, host, sizeof host);
        std::vector<std::string> argv = {HALLSIM, "--feed",
                                         std::string(host) + ":" +
                                             std::to_string(testing_udp::local_port(producer))};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = tp::start(argv, -1, dir.c_str());
        bool got = false;
        std::vector<unsigned char> request = testing_udp::receive(producer, 20000, &got, &sim_port);
        ASSERT_TRUE(got) << "no subscription request; stderr: " << tp::err(sim);
        ASSERT_EQ(request, std::vector<unsigned char>{'A'});
    }

    void send_frame(int value, size_t bytes = 60)
    {
        std::vector<unsigned char> f(bytes, (unsigned char)value);
        ASSERT_EQ(testing_udp::send_to(producer, sim_port, f.data(), f.size()), (ssize_t)bytes);
    }

    /* Screenshots until `pred` holds or the deadline passes. */
    template <typename P> bool screen_becomes(P pred, int timeout_ms = 10000)
    {
        for (int waited = 0; waited < timeout_ms; waited += 100) {
            if (pred(sim_support::screenshot()))
                return true;
            usleep(100000);
        }
        return false;
    }

    void press_escape()
    {
        ASSERT_EQ(system("xdotool key Escape"), 0);
    }

    testing_xvfb::Server xvfb;
    tp::Child sim;
    int producer = -1;
    unsigned short sim_port = 0;
    std::string dir;
};

TEST_F(Main, HelpAndBadArguments)
{
    tp::Child c = tp::start({HALLSIM, "--help"});
    ASSERT_TRUE(tp::wait_for(c, 10000));
    EXPECT_EQ(tp::exit_code(c), 0);
    EXPECT_NE(tp::out(c).find("Usage: hallsim"), std::string::npos);
    EXPECT_NE(tp::out(c).find("--feed HOST[:PORT]"), std::string::npos);

    for (std::vector<std::string> bad : {std::vector<std::string>{"--fullscreen"},
                                         {"--feed"},
                                         {"--feed", "hallway.local"},
                                         {"--feed", "127.0.0.1:0"},
                                         {"--feed", "127.0.0.1:65536"},
                                         {"--feed", "300.1.1.1"},
                                         {"extra"}}) {
        bad.insert(bad.begin(), HALLSIM);
        tp::Child b = tp::start(bad);
        ASSERT_TRUE(tp::wait_for(b, 10000));
        EXPECT_EQ(tp::exit_code(b), 2) << bad.back();
        EXPECT_NE(tp::err(b).find("hallsim: "), std::string::npos) << bad.back();
    }
}

TEST_F(Main, TakenPortMovesToTheNextAndSubscribesFromIt)
{
    start_x();
    int held = testing_udp::hold_port(7879);
    ASSERT_GE(held, 0) << "port 7879 is busy outside the test's lock";
    start_fed();
    EXPECT_TRUE(tp::wait_for_output(sim, "sock: ", 5000));
    int port = port_printed(sim);
    EXPECT_EQ(port, sim_port) << "the printed port is the one frames must go to";
    EXPECT_GT(port, 7879);
    EXPECT_LE(port, 8999);
    close(held);

    /* It renews the subscription every 250 loop turns. */
    bool got = false;
    unsigned short from = 0;
    auto again = testing_udp::receive(producer, 30000, &got, &from);
    EXPECT_TRUE(got) << "no renewal";
    EXPECT_EQ(from, sim_port);
}

TEST_F(Main, FramesFromTheProducerAreDrawnAndEscapeQuits)
{
    start_x();
    start_fed();
    /* Nothing received yet: every wall and ceiling patch at 0.2. */
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 51) > 20000;
    }));
    send_frame(255);
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 51) < 100;
    })) << "a full frame lights every patch";
    send_frame(0);
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 51) > 20000;
    })) << "and a dark one darkens them again";
    /* A datagram longer than a frame counts by its first 60 bytes. */
    send_frame(255, 100);
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 51) < 100;
    }));

    press_escape();
    ASSERT_TRUE(tp::wait_for(sim, 10000));
    EXPECT_EQ(tp::exit_code(sim), 0);
    EXPECT_EQ(count_lines(tp::out(sim), fps_line), 1) << tp::out(sim);
}

long differing_pixels(const image &a, const image &b)
{
    long n = 0;
    for (size_t i = 0; i < a.px.size() && i < b.px.size(); i++)
        n += abs(a.px[i] - b.px[i]) > 16;
    return n;
}

/* Real X key presses and mouse motion move the view, with no feed. */
TEST_F(Main, KeysAndMouseMoveTheViewWithoutAFeed)
{
    start_x();
    start_fed();
    ASSERT_TRUE(tp::wait_for_output(sim, "sock: ", 5000));
    usleep(300000);
    image before = sim_support::screenshot();
    ASSERT_EQ(system("xdotool keydown Up sleep 0.7 keyup Up"), 0);
    usleep(500000);
    image walked = sim_support::screenshot();
    EXPECT_GT(differing_pixels(before, walked), 10000) << "Up walks down the hallway";

    ASSERT_EQ(system("xdotool mousemove_relative -- 60 0"), 0);
    EXPECT_TRUE(screen_becomes([&](const image &im) {
        return differing_pixels(walked, im) > 10000;
    })) << "moving the mouse turns the view";
    EXPECT_FALSE(tp::wait_for(sim, 0)) << "still running";
}

/* Its producer on the hostile host 127.0.0.2 sends short datagrams: each
 * is passed over, said once a second, and the frames still come. */
TEST_F(Main, ShortDatagramsArePassedOverAndTheFramesGoOn)
{
    start_x();
    start_fed({}, 0x7f000002);
    ASSERT_TRUE(tp::wait_for_output(sim, "sock: ", 5000));
    for (size_t len : {59, 1, 1, 0})
        send_frame(255, len);
    send_frame(255);
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 51) < 100;
    })) << "a full frame after them lights every patch";
    usleep(3100000);  /* past the second, however late a slow build read the first */
    send_frame(0, 1);
    EXPECT_TRUE(tp::wait_for_output(sim, "(and 3 more not shown)", 5000, true));
    EXPECT_FALSE(tp::wait_for(sim, 0)) << "still running";
    EXPECT_EQ(tp::err(sim),
              "Small packet of size: 59\nSmall packet of size: 1 (and 3 more not shown)\n");
}

TEST_F(Main, MissingCeilingTextureEndsWithStatusOneAfterTheOthersLoaded)
{
    start_x();
    dir = sim_support::texture_dir({"ceiling.bmp"});
    sim = tp::start({HALLSIM}, -1, dir.c_str());
    ASSERT_TRUE(tp::wait_for(sim, 20000));
    EXPECT_EQ(tp::exit_code(sim), 1);
    std::string err = tp::err(sim);
    EXPECT_EQ(err.rfind("Unable to load ceiling.bmp: ", 0), 0u) << err;
    EXPECT_EQ(count_lines(err, load_failure), 1) << err;
    EXPECT_EQ(tp::out(sim).find("sock:"), std::string::npos);
}

TEST_F(Main, ScreenTooSmallForTheModeIsReported)
{
    start_x("320x240x24");
    dir = sim_support::texture_dir();
    sim = tp::start({HALLSIM}, -1, dir.c_str());
    ASSERT_TRUE(tp::wait_for(sim, 20000));
    EXPECT_EQ(tp::exit_code(sim), 255);
    EXPECT_EQ(tp::err(sim).rfind("Unable to create OpenGL screen: ", 0), 0u) << tp::err(sim);
}

TEST_F(Main, WindowOptionOpensSixFortyByFourEightyAtTheTopLeft)
{
    start_x("800x600x24");
    start_fed({"--window"});
    image im;
    bool drawn = screen_becomes(
        [&](const image &shot) {
            im = shot;
            return sim_support::count_grey(shot, 51) > 20000;
        },
        10000);
    ASSERT_TRUE(drawn);
    im = sim_support::screenshot(800, 600);
    long outside = 0, inside = 0;
    for (int y = 0; y < 600; y++)
        for (int x = 0; x < 800; x++) {
            sim_support::rgb c = im.at(x, 599 - y); /* y counted from the top */
            bool lit = c.r + c.g + c.b > 0;
            if (x < 640 && y < 480)
                inside += lit;
            else
                outside += lit;
        }
    EXPECT_GT(inside, 200000);
    EXPECT_EQ(outside, 0);
    press_escape();
    ASSERT_TRUE(tp::wait_for(sim, 10000));
    EXPECT_EQ(tp::exit_code(sim), 0);
}

/* Without an X display SDL either finds no video driver or one without
 * OpenGL; either way a clear message and -1. */
TEST_F(Main, NoDisplayIsReported)
{
    unsetenv("DISPLAY");
    dir = sim_support::texture_dir();
    sim = tp::start({HALLSIM}, -1, dir.c_str());
    ASSERT_TRUE(tp::wait_for(sim, 20000));
    EXPECT_EQ(tp::exit_code(sim), 255);
    std::string err = tp::err(sim);
    EXPECT_TRUE(err.rfind("Unable to init SDL: ", 0) == 0 ||
                err.rfind("Unable to create OpenGL screen: ", 0) == 0)
        << err;
}

/* testfeed_sim shares testfeed's command line but tells of itself. */
TEST(TestFeedSim, HelpNamesItselfAndTheSimulator)
{
    tp::Child c = tp::start({std::string(HALL_BINARY_DIR) + "/bin/testfeed_sim", "--help"});
    ASSERT_TRUE(tp::wait_for(c, 10000));
    EXPECT_EQ(tp::exit_code(c), 0);
    std::string help = tp::out(c);
    EXPECT_EQ(help.rfind("Usage: testfeed_sim ", 0), 0u) << help;
    EXPECT_NE(help.find("simulator"), std::string::npos) << help;
    EXPECT_EQ(help.find("subscriber"), std::string::npos) << help;
    EXPECT_EQ(help.find("\"Test pattern\" feed"), std::string::npos) << help;
    EXPECT_NE(help.find("--rate N"), std::string::npos) << help;
}

/* The back-end linked straight into a producer: the test feed draws into
 * the simulator with no network in between. */
TEST_F(Main, TestFeedLinkedWithTheBackEndDrawsItsFrames)
{
    start_x();
    dir = sim_support::texture_dir();
    sim = tp::start({std::string(HALL_BINARY_DIR) + "/bin/testfeed_sim", "--rate", "50",
                     "--frames", "150", "all"},
                    -1, dir.c_str());
    EXPECT_TRUE(screen_becomes([](const image &im) {
        return sim_support::count_grey(im, 255) > 50000 && sim_support::count_grey(im, 51) < 100;
    })) << tp::err(sim);
    ASSERT_TRUE(tp::wait_for(sim, 20000));
    EXPECT_EQ(tp::exit_code(sim), 0) << tp::err(sim);
    EXPECT_EQ(count_lines(tp::out(sim), fps_line), 1) << tp::out(sim);
}

} // namespace
