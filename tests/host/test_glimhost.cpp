/* test_glimhost.cpp -- glimhost as a whole, driving stand-in plug-ins
 * under a private Xvfb: lifecycle and threads, frames on the wire, the
 * spectrum of real files, disabling from either thread, the --pattern
 * path, and clear failures. Every run is muted (no sound server here). */
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <math.h>
#include <sndfile.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/notify.h"
#include "support/udp.h"
#include "support/xvfb.h"

using host_run::count;
using host_run::run;

namespace {

const std::string probe = PROBE_DIR "/libprobe.so";
const std::string probe_disable = PROBE_DIR "/libprobe_disable.so";
const std::string probe_window = PROBE_DIR "/libprobe_window.so";
const std::string probe_hang = PROBE_DIR "/libprobe_hang.so";

class Glimhost : public ::testing::Test {
protected:
    void SetUp() override
    {
        /* No sound server, ever: a wrong address fails at once. */
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
        char dir[] = "/tmp/glimhost_testXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        tmp = dir;
    }
    void TearDown() override
    {
        testing_xvfb::stop(xvfb);
        std::string cmd = "rm -rf '" + tmp + "'";
        (void)!system(cmd.c_str());
    }
    std::vector<std::string> probe_args(const std::string &plugin = probe)
    {
        port = testing_udp::free_port();
        return {"--plugin", plugin, "--mute", "--port", std::to_string(port)};
    }
    testing_xvfb::Server xvfb;
    std::string tmp;
    unsigned short port = 0;
};

using host_run::callbacks;

/* Position of the first occurrence, npos as a large number. */
size_t at(const std::string &text, const std::string &what)
{
    return text.find(what);
}

// ---- command line and start-up failures ----------------------------------

TEST_F(Glimhost, HelpNeedsNoDisplay)
{
    unsetenv("DISPLAY");
    auto r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: glimhost"), std::string::npos);
    for (const char *opt : {"--demo", "--capture", "--mute", "--pattern", "--port", "--rate",
                            "--frames", "--list-patterns", "--plugin", "--keep-playing",
                            "--beat-log", "--pattern-log", "--fast"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    EXPECT_EQ(r.err, "");
}

TEST_F(Glimhost, BadCommandLinesAreOneLineAndExit2)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--port", "70000"}, {"--rate", "fast"}, {"--frames", "0"},
          {"--pattern", "ri se"}, {"--bogus"}, {"a.wav", "b.wav"}, {"--capture", "--demo"}}) {
        auto r = run(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind("glimhost: ", 0), 0u) << r.err;
    }
}

TEST_F(Glimhost, NoDisplayIsAClearError)
{
    unsetenv("DISPLAY");
    auto args = probe_args();
    args.insert(args.end(), {"--frames", "5"});
    auto r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("X display"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.out, "probe: init"), 0);
}

TEST_F(Glimhost, MissingFileIsOneLineNamingIt)
{
    std::string path = tmp + "/no such song.flac";
    auto args = probe_args();
    args.push_back(path);
    auto r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_EQ(count(r.out, "probe:"), 0) << "plug-in touched before the file was checked";
}

TEST_F(Glimhost, CorruptFileIsOneLineNamingIt)
{
    std::string path = tmp + "/broken.wav";
    {
        std::ofstream f(path, std::ios::binary);
        f << "RIFF\x10\0\0\0WAVEfmt this is not a sound file at all";
    }
    auto args = probe_args();
    args.push_back(path);
    auto r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
}

TEST_F(Glimhost, CaptureWithoutServerFailsCleanly)
{
    auto args = probe_args();
    args.push_back("--capture");
    auto r = run(args);
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.ended);
    EXPECT_NE(r.err.find("cannot capture"), std::string::npos) << r.err;
    EXPECT_EQ(count(r.out, "probe: init"), 0);
}

TEST_F(Glimhost, NotAPluginIsAClearError)
{
    auto r = run({"--plugin", tmp + "/missing.so", "--mute"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot load plug-in"), std::string::npos) << r.err;

    /* A real library without the entry point. */
    auto libm = run({"--plugin", "libm.so.6", "--mute"});
    EXPECT_EQ(libm.code, 1);
}

TEST_F(Glimhost, ListPatternsShowsWhatResolves)
{
    unsetenv("DISPLAY");
    auto r = run({"--plugin", probe, "--list-patterns"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "rise\n");  /* the probe exports only this one */
}

TEST_F(Glimhost, ListPatternsWithoutTheHostApiIsAClearError)
{
    unsetenv("DISPLAY");
    /* a real library that offers no host API: this process's libm */
    Dl_info where{};
    ASSERT_NE(dladdr((void *)(double (*)(double))cos, &where), 0);
    auto r = run({"--plugin", where.dli_fname, "--list-patterns"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("glim_get_host_api"), std::string::npos) << r.err;
}

// ---- lifecycle and threads ------------------------------------------------

TEST_F(Glimhost, FramesOptionEndsCleanlyWithCleanupOnce)
{
    auto args = probe_args();
    args.insert(args.end(), {"--rate", "500", "--frames", "30"});
    auto r = run(args);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.out, "probe: init\n"), 1);
    EXPECT_EQ(count(r.out, "probe: playback_start\n"), 1);
    EXPECT_EQ(count(r.out, "probe: playback_stop\n"), 1);
    EXPECT_EQ(count(r.out, "probe: cleanup\n"), 1);
    EXPECT_EQ(callbacks(r.out).size(), 30u);
    EXPECT_EQ(count(r.out, "THREAD ERROR"), 0) << r.out;
    /* enable, start, callbacks, stop, disable */
    EXPECT_LT(at(r.out, "probe: init"), at(r.out, "probe: playback_start"));
    EXPECT_LT(at(r.out, "probe: playback_start"), at(r.out, "probe: freq 1 "));
    EXPECT_LT(at(r.out, "probe: freq 30 "), at(r.out, "probe: playback_stop"));
    EXPECT_LT(at(r.out, "probe: playback_stop"), at(r.out, "probe: cleanup"));
    EXPECT_EQ(r.err.find("callbacks/s"), std::string::npos) << "status line off a terminal";
}

TEST_F(Glimhost, StatusLineOnATerminal)
{
    auto args = probe_args();
    args.insert(args.end(), {"--rate", "100", "--frames", "250"});
    auto r = host_run::run_on_terminal(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("demo music | silent |"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("callbacks/s | random patterns"), std::string::npos) << r.err;
}

TEST_F(Glimhost, SigtermStopsPlaybackAndDisables)
{
    auto args = probe_args();
    args.insert(args.begin(), GLIMHOST);
    args.insert(args.end(), {"--rate", "200"});
    auto c = testing_process::start(args);
    for (int i = 0; i < 500 && count(testing_process::out(c), "probe: freq") < 3; i++)
        usleep(10000);
    kill(c.pid, SIGTERM);
    ASSERT_TRUE(testing_process::wait_for(c, 10000));
    std::string out = testing_process::out(c);
    EXPECT_EQ(testing_process::exit_code(c), 0);
    EXPECT_EQ(count(out, "probe: playback_stop\n"), 1);
    EXPECT_EQ(count(out, "probe: cleanup\n"), 1);
    EXPECT_EQ(count(out, "THREAD ERROR"), 0);
}

/* Interrupted at a terminal, or its terminal gone: the same clean end. */
TEST_F(Glimhost, SigintAndSighupEndAsSigtermDoes)
{
    for (int sig : {SIGINT, SIGHUP}) {
        auto args = probe_args();
        args.insert(args.begin(), GLIMHOST);
        args.insert(args.end(), {"--rate", "200"});
        auto c = testing_process::start(args);
        for (int i = 0; i < 500 && count(testing_process::out(c), "probe: freq") < 3; i++)
            usleep(10000);
        kill(c.pid, sig);
        ASSERT_TRUE(testing_process::wait_for(c, 10000)) << strsignal(sig);
        std::string out = testing_process::out(c);
        EXPECT_EQ(testing_process::exit_code(c), 0) << strsignal(sig);
        EXPECT_EQ(count(out, "probe: playback_stop\n"), 1) << strsignal(sig);
        EXPECT_EQ(count(out, "probe: cleanup\n"), 1) << strsignal(sig);
    }
}

/* Under a service manager: ready, then alive with its state while the
 * callbacks go on, and silent once the rendering hangs (the main loop
 * still turning), so that the watchdog restarts it. */
TEST_F(Glimhost, TellsTheServiceManagerItIsAliveOnlyWhileItRenders)
{
    testing_notify::Manager manager;
    ASSERT_TRUE(manager.open(1000000));
    auto args = probe_args(probe_hang);
    args.insert(args.begin(), GLIMHOST);
    args.insert(args.end(), {"--rate", "100"});
    auto c = testing_process::start(args);
    manager.close_it_env();
    EXPECT_TRUE(manager.wait_for("READY=1\nSTATUS=Playing ", 10000));
    EXPECT_TRUE(manager.wait_for("WATCHDOG=1", 5000));
    ASSERT_TRUE(testing_process::wait_for_output(c, "probe: hanging", 10000));
    manager.wait_for("(settling: the last check may still see callbacks)", 1000);
    size_t heard = manager.seen.size();
    manager.wait_for("(nothing: two seconds of silence)", 2000);
    EXPECT_EQ(manager.seen.size(), heard) << "alive while the rendering hangs";
    EXPECT_EQ(kill(c.pid, 0), 0) << "still running";
    testing_process::stop(c, SIGKILL);
    manager.close_it();
}

TEST_F(Glimhost, DisableFromRenderThreadStopsCallsAndExits)
{
    auto args = probe_args(probe_disable);
    args.insert(args.end(), {"--rate", "500", "--frames", "1000"});
    auto r = run(args);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(callbacks(r.out).size(), 5u);
    EXPECT_EQ(count(r.out, "CALLED AFTER DISABLE"), 0);
    EXPECT_EQ(count(r.out, "probe: cleanup\n"), 1);
    EXPECT_EQ(count(r.out, "THREAD ERROR"), 0) << r.out;
    EXPECT_NE(r.out.find("glimhost: plug-in disabled"), std::string::npos);
    EXPECT_LT(at(r.out, "probe: asking"), at(r.out, "probe: cleanup"));
}

TEST_F(Glimhost, KeepPlayingGoesOnWithoutThePlugin)
{
    auto args = probe_args(probe_disable);
    args.insert(args.end(), {"--rate", "500", "--frames", "40", "--keep-playing"});
    auto r = run(args);
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(callbacks(r.out).size(), 5u);
    EXPECT_EQ(count(r.out, "probe: cleanup\n"), 1);
    EXPECT_EQ(count(r.out, "probe: playback_stop"), 0);  /* disabled before the end */
    EXPECT_NE(r.out.find("plug-in disabled, playing on"), std::string::npos);
}

TEST_F(Glimhost, WindowDestroyDisablesWithoutCrash)
{
    auto args = probe_args(probe_window);
    args.insert(args.begin(), GLIMHOST);
    args.insert(args.end(), {"--rate", "300"});
    auto c = testing_process::start(args);
    unsigned long id = 0;
    for (int i = 0; i < 1000 && !id; i++) {
        usleep(10000);
        id = host_run::find_window("probe window");
    }
    ASSERT_NE(id, 0u) << testing_process::err(c);
    /* let some callbacks draw into it first */
    for (int i = 0; i < 500 && count(testing_process::out(c), "probe: freq") < 10; i++)
        usleep(10000);
    ASSERT_TRUE(host_run::close_window(id));
    bool ended = testing_process::wait_for(c, 15000);
    if (!ended)
        testing_process::stop(c, SIGKILL);
    std::string out = testing_process::out(c);
    ASSERT_TRUE(ended) << out;
    EXPECT_EQ(testing_process::exit_code(c), 0) << testing_process::err(c);
    EXPECT_NE(out.find("probe: window destroyed"), std::string::npos);
    EXPECT_NE(out.find("glimhost: plug-in disabled"), std::string::npos);
    EXPECT_EQ(count(out, "probe: cleanup\n"), 1);
    EXPECT_EQ(count(out, "THREAD ERROR"), 0) << out;
}

// ---- frames on the wire ---------------------------------------------------

TEST_F(Glimhost, SubscriberGetsOneFramePerCallback)
{
    const long frames = 200;
    auto args = probe_args();
    args.insert(args.begin(), GLIMHOST);
    args.insert(args.end(), {"--rate", "400", "--frames", std::to_string(frames)});
    int sock = testing_udp::open_socket();
    ASSERT_GE(sock, 0);
    auto c = testing_process::start(args);

    std::vector<long> numbers;
    bool got = false;
    for (int i = 0; i < 1000 && !got; i++) {
        testing_udp::send_to(sock, port, "A", 1);
        auto d = testing_udp::receive(sock, 10, &got);
        if (got) {
            ASSERT_EQ(d.size(), 60u);
            numbers.push_back(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24);
        }
    }
    ASSERT_TRUE(got) << "no frame came";
    for (;;) {
        auto d = testing_udp::receive(sock, 2000, &got);
        if (!got)
            break;
        ASSERT_EQ(d.size(), 60u);
        numbers.push_back(d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24);
    }
    ASSERT_TRUE(testing_process::wait_for(c, 10000));
    EXPECT_EQ(testing_process::exit_code(c), 0);
    close(sock);
    /* Every callback from the first one seen to the last, once each. */
    for (size_t i = 1; i < numbers.size(); i++)
        ASSERT_EQ(numbers[i], numbers[i - 1] + 1) << "at " << i;
    EXPECT_EQ(numbers.back(), frames);
}

// ---- the spectrum of real files -------------------------------------------

TEST_F(Glimhost, ToneFilePeaksAtBinMinusOneWithItsAmplitude)
{
    const int rate = 44100, bin = 12;
    const double amp = 12000;
    std::vector<int16_t> s;
    for (long n = 0; n < rate; n++) {
        int16_t v = host_run::tone(bin, amp, n);
        s.push_back(v);
        s.push_back(v);
    }
    std::string path = tmp + "/tone.wav";
    host_run::write_wav(path, rate, 2, s);
    auto args = probe_args();
    args.insert(args.end(), {"--rate", "400", "--frames", "100", path});
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    auto cb = callbacks(r.out);
    ASSERT_EQ(cb.size(), 100u);
    for (size_t i = 50; i < cb.size(); i++) {
        EXPECT_EQ(cb[i].peak, bin - 1) << "callback " << i;
        EXPECT_NEAR(cb[i].value, amp, amp * 0.01) << "callback " << i;
        EXPECT_EQ(cb[i].row1, 0);
    }
}

TEST_F(Glimhost, FileAtItsOwnRateMixesToMonoAndEndsOnTime)
{
    /* 22.05 kHz, no resampling: bins are rate / 512 apart, one callback
     * per 512 frames, 43 a second, and the file's end ends the show. */
    const int rate = 22050, frames = rate / 2;
    std::vector<int16_t> s;
    for (long n = 0; n < frames; n++) {
        s.push_back(host_run::tone(8, 16000, n));   /* left: half of it in the mix */
        s.push_back(host_run::tone(30, 6000, n));   /* right: smaller */
    }
    std::string path = tmp + "/mix.wav";
    host_run::write_wav(path, rate, 2, s);
    auto args = probe_args();
    args.push_back(path);
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("at 22050 Hz, 43.1 callbacks a second"), std::string::npos) << r.out;
    auto cb = callbacks(r.out);
    EXPECT_EQ(cb.size(), (size_t)((frames + 511) / 512));
    /* the last block is the file's end filled with silence */
    for (size_t i = 1; i + 1 < cb.size(); i++) {
        EXPECT_EQ(cb[i].peak, 7);
        EXPECT_NEAR(cb[i].value, 8000, 80);
    }
    EXPECT_EQ(count(r.out, "probe: cleanup\n"), 1);
}

TEST_F(Glimhost, FlacOggAndMp3FilesPlay)
{
    std::vector<int16_t> s;
    for (long n = 0; n < 44100; n++) {
        int16_t v = host_run::tone(20, 10000, n);
        s.push_back(v);
        s.push_back(v);
    }
    /* mp3 only where this libsndfile can write it; its encoder delay
     * shifts the tone, so only the last callbacks are compared */
    for (auto [ext, format, tolerance] :
         {std::tuple{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 100},
          std::tuple{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1000},
          std::tuple{"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1500}}) {
        std::string path = tmp + "/tone." + ext;
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = format;
        SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!f && std::string(ext) == "mp3")
            continue;
        ASSERT_NE(f, nullptr) << ext << ": " << sf_strerror(nullptr);
        sf_writef_short(f, s.data(), 44100);
        sf_close(f);
        auto args = probe_args();
        args.insert(args.end(), {"--rate", "400", "--frames", "120", path});
        auto r = run(args);
        EXPECT_EQ(r.code, 0) << ext << ": " << r.err;
        auto cb = callbacks(r.out);
        ASSERT_EQ(cb.size(), 120u) << ext;
        EXPECT_EQ(cb.back().peak, 19) << ext;
        EXPECT_NEAR(cb.back().value, 10000, tolerance) << ext;
    }
}

TEST_F(Glimhost, MonoFileIsHeardOnBothChannels)
{
    std::vector<int16_t> s;
    for (long n = 0; n < 8000; n++)
        s.push_back(host_run::tone(5, 8000, n));
    std::string path = tmp + "/mono.wav";
    host_run::write_wav(path, 16000, 1, s);
    auto args = probe_args();
    args.insert(args.end(), {"--rate", "400", "--frames", "40", path});
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    auto cb = callbacks(r.out);
    ASSERT_EQ(cb.size(), 40u);
    for (size_t i = 20; i < cb.size(); i++) {
        EXPECT_EQ(cb[i].peak, 4);
        EXPECT_NEAR(cb[i].value, 8000, 80);
    }
}

TEST_F(Glimhost, NoSoundServerPlaysSilently)
{
    port = testing_udp::free_port();
    auto r = run({"--plugin", probe, "--port", std::to_string(port), "--rate", "500",
                  "--frames", "10"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("playing silently"), std::string::npos) << r.err;
    EXPECT_EQ(callbacks(r.out).size(), 10u);
}

// ---- blocks and --light-delay ---------------------------------------------

/* Every sample is analysed once, in consecutive 512-sample blocks: each
 * click shows in exactly one callback, its block's. Lights later than the
 * sound start with blocks of silence (so the click comes that many
 * callbacks later and the music's end is still shown); lights earlier
 * hand the first blocks over at once. --fast cuts the same blocks. */
TEST_F(Glimhost, EveryClickIsSeenOnceInItsOwnBlock)
{
    std::vector<long> clicks;
    std::string path = tmp + "/clicks.wav";
    host_run::write_clicks(path, &clicks);
    const long blocks = (3 * 44100 + 511) / 512;
    struct Case {
        int delay;
        bool fast;
    };
    for (Case c : {Case{0, false}, Case{-200, false}, Case{150, false}, Case{150, true}}) {
        SCOPED_TRACE("--light-delay " + std::to_string(c.delay) + (c.fast ? " --fast" : ""));
        auto args = probe_args();
        args.insert(args.end(), {"--light-delay", std::to_string(c.delay), path});
        if (c.fast)
            args.push_back("--fast");
        auto r = run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        long lead = c.delay > 0 ? (c.delay * 44100 / 1000 + 511) / 512 : 0;
        auto cb = callbacks(r.out);
        EXPECT_EQ((long)cb.size(), blocks + lead);
        std::vector<long> heard, expected;
        for (auto &k : cb)
            if (k.value > 0)
                heard.push_back(k.n);
        for (long at : clicks)
            expected.push_back(lead + at / 512 + 1);
        EXPECT_EQ(heard, expected);
    }
}

TEST_F(Glimhost, LightDelayIsRefusedAheadOfLiveInputAndShownOnTheStatusLine)
{
    auto r = run({"--capture", "--light-delay", "-20"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("--capture"), std::string::npos) << r.err;

    auto args = probe_args();
    args.insert(args.end(), {"--rate", "100", "--frames", "150", "--light-delay", "-35"});
    auto t = host_run::run_on_terminal(args);
    EXPECT_EQ(t.code, 0) << t.err;
    EXPECT_NE(t.err.find("| lights -35 ms"), std::string::npos) << t.err;
}

/* The light delay changed over --control while a file plays: three
 * bursts of different tones, 1.5 s apart, each found by its own bin;
 * after the first is seen the lights go 300 ms early, after the second
 * 200 ms late. Every block still reaches the plug-in once, so the
 * callbacks between the bursts stay the music's; what moves is when
 * they come. A plug-in of host API version 1 is not steered. */
TEST_F(Glimhost, ControlMovesTheLightsWhileTheMusicPlays)
{
    const int rate = 44100, bins[] = {12, 60, 120};
    std::vector<int16_t> s;
    for (long n = 0; n < rate * 9 / 2; n++) {
        long k = (n - rate) / (rate * 3 / 2), into = (n - rate) % (rate * 3 / 2);
        int16_t v = n >= rate && into < 2048 ? host_run::tone(bins[k], 12000, n) : 0;
        s.push_back(v);
        s.push_back(v);
    }
    host_run::write_wav(tmp + "/bursts.wav", rate, 2, s);
    unsigned short control = testing_udp::free_port();
    std::vector<std::string> args = probe_args();
    args.insert(args.begin(), GLIMHOST);
    args.insert(args.end(), {"--control", std::to_string(control), tmp + "/bursts.wav"});
    auto host = testing_process::start(args);
    int asker = testing_udp::open_socket(0);
    auto command = [&](const std::string &text) {
        testing_udp::send_to(asker, control, text.data(), text.size());
        auto line = testing_udp::receive(asker, 2000);
        return std::string(line.begin(), line.end());
    };
    /* The callback at which each burst fills most of the window, and
     * when it was seen. */
    long at[3] = {-1, -1, -1};
    double seen[3] = {0, 0, 0};
    auto heard = [&](int i) {
        for (int waited = 0; waited < 10000 && at[i] < 0; waited += 5, usleep(5000))
            for (auto &c : callbacks(testing_process::out(host)))
                if (c.peak == bins[i] - 1 && c.value > 6000) {
                    at[i] = c.n;
                    seen[i] = std::chrono::duration<double>(
                        std::chrono::steady_clock::now().time_since_epoch()).count();
                    break;
                }
        return at[i];
    };
    ASSERT_GE(heard(0), 0) << testing_process::err(host);
    EXPECT_NE(command("delay -300").find("\"delay\":-300,"), std::string::npos);
    ASSERT_GE(heard(1), 0);
    EXPECT_NE(command("delay 200").find("\"delay\":200,"), std::string::npos);
    EXPECT_NE(command("pattern rise").find("version 1"), std::string::npos);
    ASSERT_GE(heard(2), 0);
    ASSERT_TRUE(testing_process::wait_for(host, 10000));
    close(asker);
    EXPECT_EQ(testing_process::exit_code(host), 0) << testing_process::err(host);
    const double per_ms = rate / 512.0 / 1000;
    EXPECT_NEAR(at[1] - at[0], 1500 * per_ms, 1.0);
    EXPECT_NEAR(at[2] - at[0], 3000 * per_ms, 1.0);
    EXPECT_NEAR(seen[1] - seen[0], 1.2, 0.15);
    EXPECT_NEAR(seen[2] - seen[0], 3.2, 0.15);
}

// ---- --pattern --------------------------------------------------------------

TEST_F(Glimhost, PatternAndOptionsReachThePlugin)
{
    auto args = probe_args();
    args.insert(args.end(), {"--rate", "500", "--frames", "3", "--pattern",
                             "rise:center=4 speed=2"});
    auto r = run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("probe: fixed pattern set, options \"center=4 speed=2\""),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("probe rise_init param=center=4 speed=2"), std::string::npos);
    /* handed over before the plug-in is enabled */
    EXPECT_LT(at(r.out, "probe: fixed pattern set"), at(r.out, "probe: init"));
}

/* A beat log from a plug-in that tells no beat, a log that cannot be
 * written: one line, before the plug-in is enabled. */
TEST_F(Glimhost, LogsThatCannotBeWrittenAreClearErrors)
{
    for (std::vector<std::string> log : {std::vector<std::string>{"--beat-log", tmp + "/b"},
                                         {"--pattern-log", tmp + "/no/such/folder"}}) {
        auto args = probe_args();
        args.insert(args.end(), log.begin(), log.end());
        auto r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(host_run::lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(log[0]), std::string::npos) << r.err;
        EXPECT_EQ(count(r.out, "probe: init"), 0);
    }
}

TEST_F(Glimhost, UnknownPatternIsAClearError)
{
    auto args = probe_args();
    args.insert(args.end(), {"--pattern", "no_such_pattern:x=1"});
    auto r = run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no pattern \"no_such_pattern\""), std::string::npos) << r.err;
    EXPECT_EQ(count(r.out, "probe: init"), 0);
}

} // namespace
