/* emulator_test.cpp -- boxemu as a process, with the test writing the
 * driver's end of its line: frames come out as lamps at the line's pace
 * and no faster, garbage is counted and passed over, and the command
 * line's refusals. Free ports only. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <random>

#include "boxemu/emu_support.h"

using namespace emu_test;

namespace {

const std::string BOXEMU = std::string(HALL_BINARY_DIR) + "/bin/boxemu";

std::vector<unsigned char> frame_bytes(const unsigned char frame[60])
{
    int levels[60];
    for (int i = 0; i < 60; i++)
        levels[i] = frame[i];
    std::vector<unsigned char> out(BOXLINE_FRAME_BYTES);
    boxline_frame(levels, out.data());
    return out;
}

class Boxemu : public ::testing::Test {
protected:
    Emulator emu;
    Subscriber lamps;
    int line = -1;  /* the driver's end */

    void start(std::vector<std::string> extra = {})
    {
        ASSERT_TRUE(emu.start(BOXEMU, extra)) << emu.out() << emu.err();
        line = open(emu.device.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(line, 0) << emu.device;
        lamps.open(emu.port);
        unsigned char first[60];
        ASSERT_TRUE(lamps.next(first, 5000)) << "the emulator publishes the lamps";
    }
    void TearDown() override
    {
        emu.stop();
        lamps.close_it();
        if (line >= 0)
            close(line);
    }
    void put(const std::vector<unsigned char> &b)
    {
        ASSERT_EQ(write(line, b.data(), b.size()), (ssize_t)b.size());
    }

    /* Twenty numbered frames written at once take the emulator at least
     * twenty frame times: the line's pace, not the pty's. (Load can only make
     * it slower, so the bound holds on a busy machine.) */
    void frames_take_the_lines_time(long baud)
    {
        unsigned char frame[60], seen[60];
        number_frame(0, frame, 255);
        put(frame_bytes(frame));
        ASSERT_TRUE(lamps.wait_for([](unsigned char *f) { return frame_number(f) == 0; }, 5000, seen));
        EXPECT_EQ(seen[0], 255);

        long long from = now_ns();
        std::vector<unsigned char> all;
        for (int n = 1; n <= 20; n++) {
            number_frame(n, frame, n);
            auto b = frame_bytes(frame);
            all.insert(all.end(), b.begin(), b.end());
        }
        put(all);
        ASSERT_TRUE(lamps.wait_for([](unsigned char *f) { return frame_number(f) == 20; }, 10000, seen));
        long long took = now_ns() - from;
        EXPECT_GE(took, boxline_line_ns(baud, 20 * BOXLINE_FRAME_BYTES) * 95 / 100)
            << "20 frames in " << took / 1e6 << " ms";
        EXPECT_EQ(seen[0], boxline_level(boxline_delay(20)));
    }
};

TEST_F(Boxemu, DecodesFramesAtTheLinesPace)
{
    char link_dir[] = "/tmp/boxemu_linkXXXXXX";
    ASSERT_NE(mkdtemp(link_dir), nullptr);
    std::string link = std::string(link_dir) + "/line";
    start({"--link", link});
    char target[256] = "";
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(emu.device, target) << "the link points at the device it printed";

    frames_take_the_lines_time(38400);

    emu.stop();
    EXPECT_EQ(testing_process::exit_code(emu.child), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link goes when boxemu does";
    rmdir(link_dir);
}

TEST_F(Boxemu, TakesTheFasterLineAtItsOwnPace)
{
    start({"--baud", "57600"});
    frames_take_the_lines_time(57600);
}

TEST_F(Boxemu, GarbageIsCountedAndPassedOver)
{
    start({"--stats"});
    std::mt19937 random(12345);
    std::vector<unsigned char> junk;
    for (int i = 0; i < 3000; i++)
        junk.push_back((unsigned char)random());
    put(junk);
    put({5, 6, 7});                   /* delay bytes with no address */
    put({0x84, 9, 0x88, 9});          /* a command cut short by another */
    put({0xAC, 1, 1, 0x80, 2, 2, 0xAB, 3, 3}); /* box 11, box 0, pair 3 */

    unsigned char frame[60], seen[60];
    number_frame(42, frame, 128);
    put(frame_bytes(frame));
    ASSERT_TRUE(lamps.wait_for([](unsigned char *f) { return frame_number(f) == 42; }, 10000, seen))
        << emu.out();
    for (int i = 0; i < 58; i++)
        EXPECT_EQ(seen[i], 132) << "every lamp of the frame after the garbage, " << i;

    /* The once-a-second lines count them, and the emulator runs on. */
    ASSERT_TRUE(testing_process::wait_for_output(emu.child, "faults/s", 5000));
    ASSERT_TRUE(testing_process::wait_for_output(emu.child, "on the line (", 5000));
    std::string out = emu.out();
    EXPECT_NE(out.find("stray delay bytes: "), std::string::npos) << out;
    EXPECT_NE(out.find("unknown box or pair: "), std::string::npos) << out;
    EXPECT_NE(out.find("cut short: "), std::string::npos) << out;
    EXPECT_EQ(waitpid(emu.child.pid, nullptr, WNOHANG), 0) << "still running";
    number_frame(43, frame, 255);
    put(frame_bytes(frame));
    EXPECT_TRUE(lamps.wait_for([](unsigned char *f) { return frame_number(f) == 43; }, 5000, seen));
    EXPECT_EQ(emu.err(), "");
}

struct Outcome {
    int code;
    std::string out, err;
};

Outcome run(std::vector<std::string> args)
{
    args.insert(args.begin(), BOXEMU);
    auto c = testing_process::start(args);
    if (!testing_process::wait_for(c, 10000))
        testing_process::stop(c, SIGKILL);
    return {testing_process::exit_code(c), testing_process::out(c), testing_process::err(c)};
}

bool one_line(const std::string &text, const std::string &start)
{
    return text.rfind(start, 0) == 0 && text.find('\n') == text.size() - 1;
}

TEST(BoxemuStopping, InterruptAndHangupEndItWithItsCounts)
{
    for (int sig : {SIGINT, SIGHUP}) {
        Emulator emu;
        ASSERT_TRUE(emu.start(BOXEMU)) << emu.err();
        kill(emu.child.pid, sig);
        ASSERT_TRUE(testing_process::wait_for(emu.child, 5000));
        EXPECT_EQ(testing_process::exit_code(emu.child), 0) << sig;
        EXPECT_NE(emu.out().find("boxemu: stopped (0 frames, 0 faults in all)\n"),
                  std::string::npos)
            << emu.out();
    }
}

TEST(BoxemuCommandLine, RefusesWithOneLine)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"--baud", "9600"}, {"--port", "0"}, {"--port"}, {"--bogus"}, {"extra"},
             {"--device", "/dev/null", "--link", "/tmp/x"}}) {
        Outcome r = run(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_TRUE(one_line(r.err, "boxemu: ")) << r.err;
        EXPECT_EQ(r.out, "");
    }
    Outcome help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--baud"), std::string::npos);

    Outcome missing = run({"--device", "/dev/no_such_line", "--port", std::to_string(testing_udp::free_port())});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "boxemu: /dev/no_such_line: No such file or directory\n");

    int holder = testing_udp::hold_port(0);
    unsigned short held = testing_udp::local_port(holder);
    Outcome busy = run({"--port", std::to_string(held)});
    close(holder);
    EXPECT_EQ(busy.code, 1);
    EXPECT_EQ(busy.err, "boxemu: UDP port " + std::to_string(held) + ": Address already in use\n");

    char file[] = "/tmp/boxemu_notlinkXXXXXX";
    close(mkstemp(file));
    Outcome taken = run({"--link", file, "--port", std::to_string(testing_udp::free_port())});
    unlink(file);
    EXPECT_EQ(taken.code, 1);
    EXPECT_TRUE(one_line(taken.err, "boxemu: --link ")) << taken.err;
}

} // namespace
