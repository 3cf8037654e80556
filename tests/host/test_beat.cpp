/* test_beat.cpp -- the show on the beat, through glimhost and the real
 * plug-in: synthesised drums lock, beat_pulse flashes in the very callback
 * of each beat (frames from the light server), --fast writes the same
 * beat log as real time, pattern changes fall on a bar's first beat and
 * at once on a drop, and silence and noise leave the beat unlocked. */
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/udp.h"
#include "support/xvfb.h"

using host_run::run;

namespace {

const int RATE = 44100;

/* A line of a log: its music time, then a beat's tempo and place in the
 * bar, or a pattern's name. */
struct Line {
    double time, bpm = 0;
    int in_bar = 0;
    std::string name;
};

std::vector<Line> read_log(const std::string &path)
{
    std::vector<Line> v;
    std::ifstream in(path);
    for (Line l; in >> l.time >> std::ws && std::getline(in, l.name); v.push_back(l))
        sscanf(l.name.c_str(), "%lf %*f %d", &l.bpm, &l.in_bar);
    return v;
}

/* Drums from `first` for `seconds`: a kick on every beat, a snare on 2
 * and 4, a hat between beats, over a quiet bass tone; the drums rest from
 * `rest` to `back` (a breakdown, then a drop). */
std::vector<int16_t> drums(double bpm, double first, double seconds, double rest = 1e9,
                           double back = 1e9)
{
    std::vector<double> mix((size_t)(seconds * RATE), 0.0);
    unsigned noise = 12345;
    auto rnd = [&noise] {
        noise = noise * 1103515245u + 12345u;
        return ((noise >> 16) & 0x7fff) / 16384.0 - 1.0;
    };
    for (size_t n = 0; n < mix.size(); n++)
        mix[n] = 0.05 * sin(2 * M_PI * 55.0 * n / RATE);
    int i = 0;
    for (double t = first; t < seconds; t += 60.0 / bpm, i++) {
        if (t >= rest && t < back)
            continue;
        long at = lround(t * RATE), hat = lround((t + 30.0 / bpm) * RATE);
        for (long k = 0; k < RATE / 5 && at + k < (long)mix.size(); k++) {
            double e = exp(-k / (0.04 * RATE));
            mix[at + k] += 0.6 * e * sin(2 * M_PI * (50.0 + 80.0 * e) * k / RATE);
            if (i % 2)
                mix[at + k] += 0.35 * exp(-k / (0.03 * RATE)) * rnd();
        }
        for (long k = 0; k < RATE / 50 && hat + k < (long)mix.size(); k++)
            mix[hat + k] += 0.15 * exp(-k / (0.005 * RATE)) * rnd();
    }
    std::vector<int16_t> out;
    for (double v : mix)
        out.insert(out.end(), 2, (int16_t)lround(fmax(-1.0, fmin(1.0, v)) * 20000));
    return out;
}

/* The callback (1 = first) whose block ends at music time t. */
long callback_at(double t)
{
    return lround(t * RATE / 512);
}

class Beats : public ::testing::Test {
public:
    void SetUp() override
    {
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
        char dir[] = "/tmp/glimhost_beatXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        tmp = dir;
    }
    void TearDown() override
    {
        testing_xvfb::stop(xvfb);
        (void)!system(("rm -rf '" + tmp + "'").c_str());
    }
    /* glimhost on `wav` with logs; more options in `extra`. */
    std::vector<std::string> args(const std::string &wav, std::vector<std::string> extra)
    {
        port = testing_udp::free_port();
        /* The plug-in's own tracker: no grid from an analysis ahead. */
        std::vector<std::string> a{"--mute", "--no-analysis", "--port", std::to_string(port),
                                   "--beat-log",
                                   tmp + "/beats", "--pattern-log", tmp + "/patterns"};
        a.insert(a.end(), extra.begin(), extra.end());
        a.push_back(wav);
        return a;
    }
    std::string wav(const std::string &name, const std::vector<int16_t> &s)
    {
        host_run::write_wav(tmp + "/" + name, RATE, 2, s);
        return tmp + "/" + name;
    }
    testing_xvfb::Server xvfb;
    std::string tmp;
    unsigned short port = 0;
};

TEST_F(Beats, SteadyBeatLocksAndBeatPulseFlashesInTheBeatsCallback)
{
    /* a second of silence first, to subscribe in */
    std::string song = wav("steady.wav", drums(120, 1.05, 12.0));
    auto a = args(song, {"--pattern", "beat_pulse"});
    a.insert(a.begin(), GLIMHOST);
    int sock = testing_udp::open_socket();
    auto c = testing_process::start(a);
    std::vector<int> lamp;  /* lamp 0 of every frame */
    bool got = false;
    for (int i = 0; i < 400 && !got; i++) {
        testing_udp::send_to(sock, port, "A", 1);
        auto d = testing_udp::receive(sock, 5, &got);
        if (got)
            lamp.push_back(d[0]);
    }
    while (got) {
        if (lamp.size() % 200 == 0) /* renew, as a subscriber does */
            testing_udp::send_to(sock, port, "A", 1);
        auto d = testing_udp::receive(sock, 2000, &got);
        if (got)
            lamp.push_back(d[0]);
    }
    ASSERT_TRUE(testing_process::wait_for(c, 10000));
    close(sock);
    ASSERT_EQ(testing_process::exit_code(c), 0) << testing_process::err(c);
    /* The analysis ahead finds the same tempo in drums alone. */
    setenv("XDG_CACHE_HOME", tmp.c_str(), 1);
    auto analysed = run({"--analyse", song});
    unsetenv("XDG_CACHE_HOME");
    size_t at = analysed.out.find("\"tempo\": ");
    ASSERT_NE(at, std::string::npos) << analysed.out;
    EXPECT_NEAR(atof(analysed.out.c_str() + at + 9), 120, 2);
    auto beats = read_log(tmp + "/beats");
    ASSERT_GE(beats.size(), 14u) << "locked late or not at all";
    EXPECT_LT(beats.front().time, 5.5);
    EXPECT_NEAR(beats.back().bpm, 120, 2);

    /* Frames counted back from the last callback: a flash (a rise of more
     * than 60) in exactly the callbacks of the beats, the bar's first
     * brightest. */
    long last = (12 * RATE + 511) / 512;
    auto frame_of = [&](long callback) { return (long)lamp.size() - 1 - (last - callback); };
    ASSERT_LT(frame_of(callback_at(beats.front().time)), (long)lamp.size());
    ASSERT_GT(frame_of(callback_at(beats.front().time)), 0) << "subscribed too late";
    size_t flashes = 0;
    for (long f = frame_of(callback_at(beats.front().time)); f < (long)lamp.size(); f++)
        flashes += lamp[f] > lamp[f - 1] + 60;
    EXPECT_EQ(flashes, beats.size());
    for (const Line &b : beats)
        EXPECT_EQ(lamp[frame_of(callback_at(b.time))], b.in_bar == 1 ? 255 : 176) << b.time;

    /* --fast: the same beats, to the digit. */
    std::string real_log = testing_process::read_file(tmp + "/beats");
    auto f = run(args(song, {"--pattern", "beat_pulse", "--fast"}));
    ASSERT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(testing_process::read_file(tmp + "/beats"), real_log);
}

TEST_F(Beats, PatternsChangeOnABarsFirstBeatAndAtOnceOnTheDrop)
{
    /* 45 s at 124 BPM; the drums rest from 16 s and come back at 19.9 s. */
    const double back = 1.0 + 39 * 60.0 / 124;
    auto r = run(args(wav("bars.wav", drums(124, 1.0, 45.0, 16.0, back)), {"--fast"}));
    ASSERT_EQ(r.code, 0) << r.err;
    auto beats = read_log(tmp + "/beats");
    auto changes = read_log(tmp + "/patterns");
    ASSERT_GE(beats.size(), 40u);
    int checked = 0;
    bool dropped = false;
    for (size_t i = 1; i < changes.size(); i++) {
        const Line &c = changes[i];
        if (c.time >= back - 0.02 && c.time < back + 0.03) {
            dropped = true;
            continue;
        }
        /* rise ends itself; what follows starts at once. In the rest the
         * tracker may let go, and unlocked a running time ends anywhere. */
        if (c.time <= beats.front().time || changes[i - 1].name == "rise" ||
            (c.time > 16.0 && c.time < back))
            continue;
        const Line *on = nullptr;
        for (const Line &b : beats)
            on = fabs(b.time - c.time) < 1e-4 ? &b : on;
        ASSERT_NE(on, nullptr) << "change off the beat at " << c.time;
        EXPECT_EQ(on->in_bar, 1) << "change at " << c.time;
        checked++;
    }
    EXPECT_GE(checked, 4);
    EXPECT_TRUE(dropped) << "no change on the drop at " << back;
}

/* No beat, and the rotation keeps its running times (each pattern at
 * least 126 callbacks, but rise, which ends itself). */
void expect_unlocked(Beats *t, const std::string &name, const std::vector<int16_t> &sound)
{
    auto r = run(t->args(t->wav(name + ".wav", sound), {"--fast"}));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(read_log(t->tmp + "/beats").size(), 0u);
    auto changes = read_log(t->tmp + "/patterns");
    ASSERT_GE(changes.size(), 4u);
    for (size_t i = 1; i < changes.size(); i++) {
        if (changes[i - 1].name != "rise") {
            EXPECT_GE(callback_at(changes[i].time) - callback_at(changes[i - 1].time), 126)
                << changes[i].time;
        }
    }
}

TEST_F(Beats, SilenceStaysUnlocked)
{
    expect_unlocked(this, "silence", std::vector<int16_t>(30 * RATE * 2, 0));
}

TEST_F(Beats, WhiteNoiseStaysUnlocked)
{
    std::vector<int16_t> noise(30 * RATE * 2);
    unsigned x = 99;
    for (size_t n = 0; n < noise.size(); n += 2) {
        x = x * 1664525u + 1013904223u;
        noise[n] = noise[n + 1] = (int16_t)(((int)(x >> 16) - 32768) / 4);
    }
    expect_unlocked(this, "noise", noise);
}

} // namespace
