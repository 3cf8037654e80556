/* test_song.cpp -- glimhost's analysis of whole songs, through the
 * program: a short song rendered from MIDI (fluidsynth and the General
 * MIDI bank: its bars are known to the sample) and the built-in music
 * give their tempo, bars and sections to --analyse; the analysis is kept,
 * taken from the cache the second time, and a damaged cache file is
 * ignored and written anew; music that cannot be analysed plays as
 * before; a plug-in of version 2 is handed the grid while it plays. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/udp.h"

namespace {

const std::string probe = PROBE_DIR "/libprobe.so";
const std::string probe_grid = PROBE_DIR "/libprobe_grid.so";

/* The song: 150 beats a minute, four bars of kick and hats, then six of
 * the band (snare, bass, chords): the chorus starts at 6.4 s. */
const double BAR = 1.6;
const int INTRO = 4, BARS = 10;
/* fluidsynth sounds a note this long after its time in the file. */
const double RENDER_DELAY = 167.0 / 44100;

std::string dir;

std::string midi_song(void)
{
    std::vector<std::pair<int, std::string>> ev; /* tick (480 a beat), bytes */
    auto note = [&](int ch, double beat, double len, int pitch, int vel) {
        int on = (int)(beat * 480), off = (int)((beat + len) * 480);
        ev.push_back({on, std::string{(char)(0x90 | ch), (char)pitch, (char)vel}});
        ev.push_back({off, std::string{(char)(0x80 | ch), (char)pitch, 0}});
    };
    const int roots[4] = {0, 9, 5, 7}; /* C Am F G */
    for (int bar = 0; bar < BARS; bar++) {
        double b0 = bar * 4;
        int root = roots[bar % 4];
        for (int e = 0; e < 8; e++)
            note(9, b0 + e * 0.5, 0.1, 42, 60);
        note(9, b0, 0.1, 36, 110);
        note(9, b0 + 2, 0.1, 36, 105);
        if (bar < INTRO)
            continue;
        note(9, b0 + 1, 0.1, 38, 105);
        note(9, b0 + 3, 0.1, 38, 105);
        for (int q = 0; q < 4; q++) {
            note(0, b0 + q, 0.9, 36 + root, 100);
            for (int k : {0, root == 9 ? 3 : 4, 7})
                note(1, b0 + q, 0.9, 60 + root + k, 70);
        }
    }
    std::stable_sort(ev.begin(), ev.end(), [](auto &a, auto &b) { return a.first < b.first; });
    std::string track = std::string("\x00\xff\x51\x03\x06\x1a\x80", 7) /* 400000 us a beat */
                        + std::string("\x00\xc0\x21\x00\xc1\x00", 6); /* bass, piano */
    int last = 0;
    for (auto &[tick, bytes] : ev) {
        unsigned delta = (unsigned)(tick - last), v = delta & 0x7f;
        while (delta >>= 7)
            v = (v << 8) | 0x80 | (delta & 0x7f);
        for (;; v >>= 8) {
            track += (char)(v & 0xff);
            if (!(v & 0x80))
                break;
        }
        track += bytes;
        last = tick;
    }
    track += std::string("\x00\xff\x2f\x00", 4);
    auto be32 = [](size_t n) {
        return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n};
    };
    return std::string("MThd\0\0\0\x06\0\0\0\x01\x01\xe0", 14) + "MTrk" + be32(track.size()) +
           track;
}

class Song : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char d[] = "/tmp/glimhost_songXXXXXX";
        ASSERT_NE(mkdtemp(d), nullptr);
        dir = d;
        std::ofstream(dir + "/song.mid", std::ios::binary) << midi_song();
        std::string render = "fluidsynth -ni -q -g 0.5 -o synth.cpu-cores=1 -F '" + dir +
                             "/song.wav' -r 44100 /usr/share/sounds/sf2/FluidR3_GM.sf2 '" + dir +
                             "/song.mid' >/dev/null 2>&1";
        ASSERT_EQ(system(render.c_str()), 0) << render;
        /* Too short to find a tempo in, and silence. */
        std::vector<int16_t> tone(2 * 44100 * 3), quiet(2 * 44100 * 2, 0);
        for (size_t i = 0; i < tone.size(); i++)
            tone[i] = host_run::tone(20, (i / 2) % 22050 < 2000 ? 8000 : 0, (long)(i / 2));
        host_run::write_wav(dir + "/short.wav", 44100, 2, tone);
        host_run::write_wav(dir + "/silence.wav", 44100, 2, quiet);
    }
    static void TearDownTestSuite()
    {
        std::string cmd = "rm -rf '" + dir + "'";
        (void)!system(cmd.c_str());
    }
    void SetUp() override
    {
        static int n = 0;
        cache = dir + "/cache" + std::to_string(++n);
        setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        unsetenv("DISPLAY");
    }
    /* The one file in the cache folder ("" when there is none). */
    std::string cache_file()
    {
        std::string folder = cache + "/hallway-lights", found;
        if (DIR *d = opendir(folder.c_str())) {
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.')
                    found = folder + "/" + e->d_name;
            closedir(d);
        }
        return found;
    }
    host_run::Result play(const std::string &plugin, const std::string &file,
                          std::vector<std::string> more = {})
    {
        std::vector<std::string> args{"--headless", "--mute", "--plugin", plugin, "--port",
                                      std::to_string(testing_udp::free_port()), file};
        args.insert(args.end(), more.begin(), more.end());
        return host_run::run(args, 40000);
    }
    std::string cache;
};

/* The numbers of a JSON list named `key` (or the value of a number). */
std::vector<double> numbers(const std::string &json, const std::string &key)
{
    std::vector<double> v;
    size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos)
        return v;
    const char *p = json.c_str() + at + key.size() + 4;
    bool list = *p == '[';
    for (p += list; *p && *p != ']';) {
        char *end;
        double d = strtod(p, &end);
        if (end == p)
            break;
        v.push_back(d);
        p = end + (*end == ',' ? 1 : 0);
        while (*p == ' ')
            p++;
        if (!list)
            break;
    }
    return v;
}

std::vector<double> section_starts(const std::string &json)
{
    std::vector<double> v;
    for (size_t at = json.find("{\"start\": "); at != std::string::npos;
         at = json.find("{\"start\": ", at + 1))
        v.push_back(atof(json.c_str() + at + 10));
    return v;
}

TEST_F(Song, AnalyseFindsTheTempoTheBarsAndTheSections)
{
    struct Case {
        std::string file;
        double bpm, bar, first_bar; /* seconds */
        std::vector<int> starts;    /* bars where sections start */
        std::vector<int> drops;     /* ... and where they start loud after quiet */
    } cases[] = {
        {dir + "/song.wav", 150, BAR, RENDER_DELAY, {0, INTRO}, {INTRO}},
        /* The built-in music: intro, build, drop, breakdown, build (the
         * drums back after the near silence), drop. */
        {"", 124, 4 * 60.0 / 124, 0, {0, 4, 8, 16, 20, 24}, {20}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args{"--analyse"};
        if (!c.file.empty())
            args.push_back(c.file);
        auto r = host_run::run(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NEAR(numbers(r.out, "tempo")[0], c.bpm, c.bpm / 100) << c.file;
        EXPECT_EQ(numbers(r.out, "beats_per_bar")[0], 4);
        auto downbeats = numbers(r.out, "downbeats");
        ASSERT_GE(downbeats.size(), 8u) << r.out;
        for (double t : downbeats) {
            double bars = (t - c.first_bar) / c.bar;
            EXPECT_NEAR(bars, std::round(bars), 0.03 / c.bar) << c.file << " downbeat " << t;
        }
        auto starts = section_starts(r.out);
        ASSERT_EQ(starts.size(), c.starts.size()) << r.out;
        for (size_t i = 0; i < starts.size(); i++)
            EXPECT_NEAR(starts[i], c.first_bar + c.starts[i] * c.bar, 0.1) << c.file;
        auto drops = numbers(r.out, "drops");
        ASSERT_EQ(drops.size(), c.drops.size()) << r.out;
        for (size_t i = 0; i < drops.size(); i++)
            EXPECT_NEAR(drops[i], c.first_bar + c.drops[i] * c.bar, 0.1) << c.file;
    }
}

TEST_F(Song, TheCacheIsUsedAndADamagedOneIgnored)
{
    const std::string song = dir + "/song.wav";
    auto first = host_run::run({"--analyse", song});
    ASSERT_EQ(first.code, 0);
    EXPECT_NE(first.err.find("analysed in"), std::string::npos) << first.err;
    std::string kept = cache_file();
    ASSERT_NE(kept, "");
    std::string good = testing_process::read_file(kept);

    auto again = host_run::run({"--analyse", song});
    EXPECT_NE(again.err.find("from the cache"), std::string::npos) << again.err;
    EXPECT_EQ(again.out, first.out);

    /* Another file's analysis under this name is as untrustworthy as a
     * damaged one. */
    auto other = host_run::run({"--analyse"});
    ASSERT_EQ(other.code, 0);
    std::string foreign;
    std::string folder = cache + "/hallway-lights";
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.' && folder + "/" + e->d_name != kept)
                foreign = testing_process::read_file(folder + "/" + e->d_name);
        closedir(d);
    }
    ASSERT_NE(foreign, "");
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    for (const std::string &damage :
         {good.substr(0, good.size() - 1), flipped, foreign, std::string("not an analysis")}) {
        std::ofstream(kept, std::ios::binary | std::ios::trunc) << damage;
        auto r = host_run::run({"--analyse", song});
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.err.find("a damaged cache file replaced"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, first.out);
        EXPECT_EQ(testing_process::read_file(kept), good);
    }
}

TEST_F(Song, MusicThatCannotBeAnalysedPlaysAsBefore)
{
    struct Case {
        std::string file, verdict;
        double seconds;
    } cases[] = {{dir + "/short.wav", "too short", 3}, {dir + "/silence.wav", "silent", 2}};
    for (const Case &c : cases) {
        auto a = host_run::run({"--analyse", c.file});
        ASSERT_EQ(a.code, 0) << a.err;
        EXPECT_NE(a.out.find("\"analysis\": \"" + c.verdict + "\""), std::string::npos) << a.out;
        EXPECT_TRUE(numbers(a.out, "beats").empty());
        auto r = play(probe_grid, c.file);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("no beat grid"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("probe: grid"), std::string::npos);
        EXPECT_NEAR(host_run::count(r.out, "probe: freq "), c.seconds * 44100 / 512, 3);
    }
}

TEST_F(Song, AVersion2PluginIsHandedTheGridWhileItPlays)
{
    const std::string song = dir + "/song.wav";
    auto r = play(probe_grid, song, {"--frames", "400"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto a = host_run::run({"--analyse", song});
    size_t at = r.out.find("probe: grid ");
    ASSERT_NE(at, std::string::npos) << r.out;
    int beats = 0, sections = 0;
    double first_bar = 0, last_beat = 0, chorus = 0;
    ASSERT_EQ(sscanf(r.out.c_str() + at,
                     "probe: grid %d beats %d sections first bar %lf last beat %lf starts 0.000 %lf",
                     &beats, &sections, &first_bar, &last_beat, &chorus),
              5)
        << r.out;
    EXPECT_EQ(beats, (int)numbers(a.out, "beats").size());
    EXPECT_EQ(sections, 2);
    EXPECT_NEAR(first_bar, numbers(a.out, "downbeats")[0], 1e-3);
    EXPECT_NEAR(last_beat, numbers(a.out, "beats").back(), 1e-3);
    EXPECT_NEAR(chorus, RENDER_DELAY + INTRO * BAR, 0.1);
    EXPECT_NE(r.out.find("glimhost: beat grid handed to the plug-in"), std::string::npos) << r.out;

    /* Not without the analysis, and not to a plug-in of version 1. */
    for (auto &[plugin, more] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {probe_grid, {"--frames", "100", "--no-analysis"}}, {probe, {"--frames", "100"}}}) {
        auto without = play(plugin, song, more);
        EXPECT_EQ(without.code, 0);
        EXPECT_EQ(without.out.find("beat grid"), std::string::npos) << without.out;
        EXPECT_EQ(without.out.find("probe: grid"), std::string::npos);
    }
}

} // namespace
