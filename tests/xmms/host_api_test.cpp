/* host_api_test.cpp -- the host API (xmms/glim_host_api.h) as a host uses
 * it: the entry checks the version, the listed names are the patterns
 * that run by name, the current pattern's name follows the scheduler
 * (also read from another thread), and the port setter moves the light
 * server. */
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "glim_host.h"
#include "support/udp.h"
#include "xmms/glim_host_api.h"

using namespace glim_host;

namespace {

/* What --list-patterns shows: the scheduler's five, then the rest. */
const char *const ALL_NAMES[] = {
    "sine_wave",      "rise",           "random_spots",   "brightness_level",
    "spinning_stripe", "simple_equalizer", "ring_equalizer", "trailing_lines",
    "bar_equalizer",  "center_meter",   "vertical_meter", "swirl_meter",
    "vertical_spectrum", "warp_core",   "explosion",      "auto_pong",
    "beat_pulse",     "beat_chase",
};

class HostApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder::reset();
        glim = load_glim();
        auto get = glim.sym<const glim_host_api *(*)(int)>("glim_get_host_api");
        ASSERT_NE(get, nullptr);
        api = get(GLIM_HOST_API_VERSION);
        ASSERT_NE(api, nullptr);
        fill(spectrum, 12000);
    }
    void TearDown() override
    {
        if (enabled)
            glim.vp->cleanup();
        pump_events();
    }
    /* Enable on a free port, as a host does. */
    void enable()
    {
        ASSERT_TRUE(ensure_display()) << "no X server";
        ASSERT_EQ(api->set_port(testing_udp::free_port()), 0);
        glim.vp->init();
        enabled = true;
    }
    /* One callback; what the plug-in printed during it. */
    std::string render()
    {
        StdoutCapture out;
        glim.vp->render_freq(spectrum);
        return out.finish();
    }
    /* The listed record holding the functions of a scheduler table row. */
    const glim_named_pattern *record_of_row(int row)
    {
        for (const glim_named_pattern *p = api->patterns; p->name; p++)
            if (p->init == glim.patterns[row].init && p->frame == glim.patterns[row].frame)
                return p;
        return nullptr;
    }
    Glim glim;
    const glim_host_api *api = nullptr;
    bool enabled = false;
    Spectrum spectrum;
};

TEST(HostApiEntry, OffersOnlyItsOwnVersion)
{
    Glim glim = load_glim();
    auto get = glim.sym<const glim_host_api *(*)(int)>("glim_get_host_api");
    ASSERT_NE(get, nullptr);
    EXPECT_NE(get(GLIM_HOST_API_VERSION), nullptr);
    EXPECT_EQ(get(GLIM_HOST_API_VERSION), get(GLIM_HOST_API_VERSION));
    EXPECT_EQ(get(0), nullptr);
    EXPECT_EQ(get(GLIM_HOST_API_VERSION + 1), nullptr);
    EXPECT_EQ(get(1), get(2)) << "version 2's table starts with version 1's";
}

TEST_F(HostApi, Version2SteersTheRunningShow)
{
    auto v2 = (const glim_host_api2 *)api;
    enable();
    render();
    EXPECT_EQ(v2->pattern_is_fixed(), 0);
    EXPECT_EQ(v2->fix_pattern("no_such_pattern", nullptr), -1);

    /* A pattern fixed from another thread runs from the next callback. */
    std::thread([&] { EXPECT_EQ(v2->fix_pattern("vertical_meter", "x=1"), 0); }).join();
    std::string said = render();
    EXPECT_NE(said.find("calling deinit for pattern"), std::string::npos) << said;
    EXPECT_STREQ(api->current_pattern(), "vertical_meter");
    EXPECT_EQ(v2->pattern_is_fixed(), 1);

    /* Next ends it at once; the fixed one starts again. */
    v2->next_pattern();
    said = render();
    EXPECT_EQ(count_of(said, "calling init for pattern"), 1) << said;
    EXPECT_STREQ(api->current_pattern(), "vertical_meter");

    /* Back to the rotation: a row of the scheduler's table. */
    ASSERT_EQ(v2->fix_pattern(nullptr, nullptr), 0);
    render();
    EXPECT_EQ(v2->pattern_is_fixed(), 0);
    const char *name = api->current_pattern();
    ASSERT_NE(name, nullptr);
    bool in_rotation = false;
    for (int row = 0; glim.patterns[row].init; row++)
        in_rotation = in_rotation || strcmp(record_of_row(row)->name, name) == 0;
    EXPECT_TRUE(in_rotation) << name;
}

TEST_F(HostApi, ListedNamesAreThePatternsThatRunByName)
{
    int n = 0;
    for (const glim_named_pattern *p = api->patterns; p->name; p++, n++) {
        ASSERT_LT(n, (int)std::size(ALL_NAMES)) << "unexpected " << p->name;
        EXPECT_STREQ(p->name, ALL_NAMES[n]);
        /* the same functions a host finds by symbol name */
        pattern_info exported = glim.pattern(p->name);
        EXPECT_EQ(p->init, exported.init) << p->name;
        EXPECT_EQ(p->frame, exported.frame) << p->name;
        EXPECT_EQ(p->deinit, exported.deinit) << p->name;
        EXPECT_EQ(api->find_pattern(p->name), p) << p->name;
    }
    EXPECT_EQ(n, (int)std::size(ALL_NAMES));
    EXPECT_EQ(api->patterns[n].init, nullptr);

    /* every row the scheduler can draw has a name */
    for (int row = 0; glim.patterns[row].init; row++)
        EXPECT_NE(record_of_row(row), nullptr) << "row " << row;

    for (const char *unknown : {"", "ris", "rise ", "RISE", "rise_init", "no_such_pattern"})
        EXPECT_EQ(api->find_pattern(unknown), nullptr) << "\"" << unknown << "\"";
}

TEST_F(HostApi, CurrentPatternFollowsTheRotation)
{
    enable();
    EXPECT_EQ(api->current_pattern(), nullptr);

    /* A host's main thread reads while the callbacks run: only listed
     * names, or none. */
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, strangers{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const char *name = api->current_pattern();
            if (name && api->find_pattern(name) == nullptr)
                strangers++;
            reads++;
            std::this_thread::yield();
        }
    });

    const char *before = nullptr;
    int starts = 0;
    const std::string key = "calling init for pattern ";
    for (int i = 0; i < 1500; i++) {
        std::string text = render();
        const char *now = api->current_pattern();
        size_t at = text.rfind(key);
        if (at != std::string::npos) {
            const glim_named_pattern *drawn = record_of_row(atoi(text.c_str() + at + key.size()));
            ASSERT_NE(drawn, nullptr) << text;
            EXPECT_EQ(now, drawn->name) << "callback " << i;
            starts++;
        } else if (now != before) {
            /* only a pattern that ends itself leaves without a draw */
            EXPECT_EQ(now, nullptr) << "callback " << i;
            EXPECT_STREQ(before, "rise") << "callback " << i;
        }
        before = now;
    }
    stop.store(true);
    reader.join();
    EXPECT_GE(starts, 4);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(strangers.load(), 0);
}

TEST_F(HostApi, CurrentPatternOfFixedPatternsStartsEndsAndStartsAgain)
{
    /* A pattern the plug-in has no name for runs nameless. */
    recorder::fail_on_frame = 2;
    ASSERT_EQ(api->set_fixed_pattern(&recorder::info, nullptr), 0);
    enable();
    EXPECT_EQ(api->current_pattern(), nullptr);
    render();
    ASSERT_EQ(recorder::frames, 1);
    EXPECT_EQ(api->current_pattern(), nullptr);

    /* The recorder ends itself on its next frame; explosion follows,
     * ends itself on its 44th frame and starts again on the callback
     * after. */
    const glim_named_pattern *explosion = api->find_pattern("explosion");
    ASSERT_NE(explosion, nullptr);
    pattern_info info = {explosion->init, explosion->frame, explosion->deinit};
    ASSERT_EQ(api->set_fixed_pattern(&info, nullptr), 0);
    render();
    ASSERT_EQ(recorder::deinits, 1);
    EXPECT_EQ(api->current_pattern(), nullptr);
    for (int i = 1; i <= 43; i++) {
        render();
        ASSERT_EQ(api->current_pattern(), explosion->name) << "frame " << i;
    }
    render();
    EXPECT_EQ(api->current_pattern(), nullptr);
    render();
    EXPECT_EQ(api->current_pattern(), explosion->name);
}

TEST_F(HostApi, PortSetterPutsTheServerOnThatPort)
{
    for (int bad : {0, -1, 65536})
        EXPECT_EQ(api->set_port(bad), -1) << bad;

    ASSERT_TRUE(ensure_display()) << "no X server";
    unsigned short port = testing_udp::free_port();
    ASSERT_EQ(api->set_port(port), 0);
    glim.vp->init();
    enabled = true;

    int sub = testing_udp::open_socket();
    ASSERT_GE(sub, 0);
    bool got = false;
    std::vector<unsigned char> frame;
    for (int i = 0; i < 50 && !got; i++) {
        unsigned char hello = 1;
        testing_udp::send_to(sub, port, &hello, 1);
        render();
        frame = testing_udp::receive(sub, 200, &got);
    }
    close(sub);
    ASSERT_TRUE(got) << "no frame from port " << port;
    EXPECT_EQ(frame.size(), 60u);
}

} // namespace

namespace {

/* Callbacks at 512 samples of 44.1 kHz, each told its music time. */
const double PERIOD = 512.0 / 44100.0;

const glim_host_api2 *api2_of(const Glim &glim)
{
    auto get = glim.sym<const glim_host_api *(*)(int)>("glim_get_host_api");
    return (const glim_host_api2 *)get(2);
}

/* Without a beat, following it or not runs the same show: the same
 * messages, draws and frames, callback for callback, on sound whose level
 * wanders with no beat in it; and the host reads no beat. */
TEST(HostApiBeat, UnlockedRunsTheShowOfBeatFollowingOff)
{
    ASSERT_TRUE(ensure_display()) << "no X server";
    std::string said[2];
    std::vector<unsigned char> frames[2];
    for (int off = 0; off < 2; off++) {
        Glim glim = load_glim();
        auto api = api2_of(glim);
        unsigned short port = testing_udp::free_port();
        ASSERT_EQ(api->v1.set_port(port), 0);
        api->set_beat_following(!off);
        glim.vp->init();
        int sub = testing_udp::open_socket();
        testing_udp::send_to(sub, port, "A", 1);
        srand(7);
        Spectrum s;
        for (int k = 1; k <= 1500; k++) {
            double level = 2.0 + sin(k / 97.0) + sin(k / 31.3);
            for (int i = 0; i < 256; i++)
                s[0][i] = (int16_t)(level * 6000 / (1 + i / 4));
            api->set_music_time(k * PERIOD);
            StdoutCapture out;
            glim.vp->render_freq(s);
            said[off] += out.finish();
            bool got = true;
            while (got) {
                auto d = testing_udp::receive(sub, 0, &got);
                frames[off].insert(frames[off].end(), d.begin(), d.end());
            }
            glim_beat_state b;
            api->beat_state(&b);
            ASSERT_EQ(b.locked, 0) << "callback " << k;
            ASSERT_EQ(b.beat_count, 0);
        }
        close(sub);
        glim.vp->cleanup();
        pump_events();
    }
    EXPECT_GE(count_of(said[0], "calling init"), 4);
    EXPECT_EQ(said[0], said[1]);
    EXPECT_GT(frames[0].size(), 60u * 1000);
    EXPECT_EQ(frames[0], frames[1]);
}

/* A grid handed over before the music: it takes over at its first bar
 * (not before), its beats come in the callbacks nearest them, and the
 * pattern changes on a bar's first beat: on the first one of a new
 * section (a loud pattern for a loud section), at once on a drop's first
 * beat, and between them when a running time is up. */
TEST(HostApiBeat, GridMovesPatternChangesToTheSectionsFirstDownbeat)
{
    ASSERT_TRUE(ensure_display()) << "no X server";
    Glim glim = load_glim();
    auto api = api2_of(glim);
    ASSERT_EQ(api->v1.set_port(testing_udp::free_port()), 0);
    glim.vp->init();

    /* 120 BPM from 0.75 s, bars of four from the second beat (1.25 s).
     * Sections: quiet, loud from just before the bar at 9.25 s, a drop on
     * the second beat of the bar at 13.25 s. */
    std::vector<glim_grid_beat> beats;
    for (int j = 0; j < 60; j++)
        beats.push_back({0.75 + 0.5 * j, (j + 3) % 4 + 1});
    std::vector<glim_grid_section> sections = {{0.0, 0.1, 0}, {9.2, 0.9, 0}, {13.75, 1.0, 1}};
    glim_grid_beat unsorted[2] = {{1.0, 1}, {1.0, 2}};
    EXPECT_EQ(api->set_beat_grid(unsorted, 2, nullptr, 0), -1);
    ASSERT_EQ(api->set_beat_grid(beats.data(), (int)beats.size(), sections.data(), 3), 0);

    auto callback_of = [](double t) { return lround(t / PERIOD); };
    Spectrum silence;
    fill(silence, 0);
    long beat_count = 0;
    std::string before;  /* the pattern that ran last before this callback */
    const std::string calm = " sine_wave rise trailing_lines ",
                      loud = " beat_pulse beat_chase random_spots spinning_stripe brightness_level ";
    int section_changes = 0, bar_changes = 0;
    for (long k = 1; k <= callback_of(29.0); k++) {
        api->set_music_time(k * PERIOD);
        StdoutCapture out;
        glim.vp->render_freq(silence);
        bool changed = out.finish().find("calling init") != std::string::npos;
        glim_beat_state b;
        api->beat_state(&b);
        int j = -1;  /* the grid's beat in this callback */
        for (int i = 0; i < (int)beats.size(); i++)
            j = callback_of(beats[i].time) == k ? i : j;
        bool switched = k >= callback_of(1.25);
        ASSERT_EQ(b.from_grid, switched) << "callback " << k;
        if (switched) {
            ASSERT_EQ(b.beat_count > beat_count, j >= 0) << "callback " << k;
            EXPECT_NEAR(b.bpm, 120.0, 0.01);
        }
        beat_count = b.beat_count;
        std::string name = api->v1.current_pattern() ? api->v1.current_pattern() : "";
        double t = j >= 0 ? beats[j].time : -1;
        if (t == 9.25 || t == 13.75) {
            EXPECT_TRUE(changed) << "no change for the section at " << t;
            EXPECT_NE(name, before) << t;
            section_changes++;
        } else if (switched && changed && before != "rise") {
            /* rise ends itself: what follows starts at once */
            ASSERT_GE(j, 0) << "change off the beat at callback " << k;
            EXPECT_EQ(beats[j].beat_in_bar, 1) << t;
            bar_changes++;
        }
        if (switched && changed) {
            EXPECT_NE((k * PERIOD < 9.2 ? calm : loud).find(" " + name + " "), std::string::npos)
                << name << " at " << t;
        }
        if (!name.empty())
            before = name;
    }
    EXPECT_EQ(section_changes, 2);
    EXPECT_GE(bar_changes, 2);
    glim.vp->cleanup();
    pump_events();
}

} // namespace
