/* test_sound.cpp -- glimhost with a real sound server: a private
 * PulseAudio daemon with a null sink (nothing reaches a loudspeaker).
 * One glimhost plays a tone file into it; the analysis follows the
 * stream's own clock; another glimhost captures the sink's monitor and
 * finds the same tone. Skipped when the pulseaudio program is missing. */
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/pulse.h"
#include "support/udp.h"
#include "support/xvfb.h"

using host_run::count;
using host_run::run;

namespace {

const std::string probe = PROBE_DIR "/libprobe.so";

double now_s(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Peak {
    int peak = -1, value = 0;
};

/* Peak of the n-th "probe: freq" line from the end (1 = last). */
Peak peak_from_end(const std::string &out, int n)
{
    Peak p;
    size_t at = std::string::npos;
    for (int i = 0; i < n; i++) {
        at = out.rfind("probe: freq ", at == std::string::npos ? at : at - 1);
        if (at == std::string::npos)
            return p;
    }
    long k;
    sscanf(out.c_str() + at, "probe: freq %ld peak %d value %d", &k, &p.peak, &p.value);
    return p;
}

class WithSoundServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testing_pulse::installed())
            GTEST_SKIP() << "pulseaudio is not installed";
        char dir[] = "/tmp/glimhost_paXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        tmp = dir;
        server = testing_pulse::start(tmp);
        ASSERT_GT(server, 0) << "pulseaudio did not come up";
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";

        /* five seconds of a tone at bin 12 of a 512-point window */
        std::vector<int16_t> s;
        for (long n = 0; n < 5 * 44100; n++) {
            int16_t v = host_run::tone(12, 12000, n);
            s.push_back(v);
            s.push_back(v);
        }
        tone = tmp + "/tone.wav";
        host_run::write_wav(tone, 44100, 2, s);
    }
    void TearDown() override
    {
        testing_xvfb::stop(xvfb);
        testing_pulse::stop(server);
        if (!tmp.empty()) {
            std::string cmd = "rm -rf '" + tmp + "'";
            (void)!system(cmd.c_str());
        }
    }
    std::vector<std::string> probe_args()
    {
        return {"--plugin", probe, "--port", std::to_string(testing_udp::free_port())};
    }
    pid_t server = -1;
    testing_xvfb::Server xvfb;
    std::string tmp, tone;
};

TEST_F(WithSoundServer, PlaysAFileInStepWithTheStream)
{
    auto args = probe_args();
    args.insert(args.end(), {"--frames", "86", tone});
    double start = now_s();
    auto r = run(args);
    double took = now_s() - start;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("silently"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("silently"), std::string::npos) << r.out;
    /* 86 callbacks of 512 frames are a second of sound: not faster */
    EXPECT_GT(took, 0.9);
    Peak p = peak_from_end(r.out, 1);
    EXPECT_EQ(p.peak, 11);
    EXPECT_NEAR(p.value, 12000, 120);
    EXPECT_EQ(count(r.out, "probe: cleanup\n"), 1);
}

/* The stream reports its position in steps; still no click falls between
 * two blocks, and none is analysed twice. */
TEST_F(WithSoundServer, EveryClickIsSeenOnceThroughTheStream)
{
    std::vector<long> clicks;
    std::string path = tmp + "/clicks.wav";
    host_run::write_clicks(path, &clicks);
    auto args = probe_args();
    args.push_back(path);
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("silently"), std::string::npos) << r.err;
    std::vector<long> heard, expected;
    for (auto &c : host_run::callbacks(r.out))
        if (c.value > 0)
            heard.push_back(c.n);
    for (long at : clicks)
        expected.push_back(at / 512 + 1);
    EXPECT_EQ(heard, expected);
}

TEST_F(WithSoundServer, CaptureHearsWhatIsPlaying)
{
    auto play_args = probe_args();
    play_args.insert(play_args.begin(), GLIMHOST);
    play_args.push_back(tone);
    auto player = testing_process::start(play_args);
    for (int i = 0; i < 300 && count(testing_process::out(player), "probe: freq") < 20; i++)
        usleep(10000);

    for (const char *source : {"", "hallsink.monitor"}) {
        auto args = probe_args();
        args.push_back("--capture");
        if (*source)
            args.push_back(source);
        args.insert(args.end(), {"--frames", "30"});
        auto r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        Peak p = peak_from_end(r.out, 1);
        EXPECT_EQ(p.peak, 11) << source << "\n" << r.out;
        EXPECT_NEAR(p.value, 12000, 360) << source;
    }
    /* --rate sets the pace of a live source too */
    auto args = probe_args();
    args.insert(args.end(), {"--capture", "--rate", "300", "--frames", "60"});
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("300.0 callbacks a second"), std::string::npos) << r.out;
    EXPECT_EQ(peak_from_end(r.out, 1).peak, 11);
    testing_process::stop(player);
}

TEST_F(WithSoundServer, UnknownCaptureSourceFailsCleanly)
{
    auto args = probe_args();
    args.insert(args.end(), {"--capture", "no_such_source", "--frames", "5"});
    auto r = run(args);
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("no_such_source"), std::string::npos) << r.err;
}

} // namespace
