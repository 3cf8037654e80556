/* equalizers_test.cpp -- simple_equalizer, ring_equalizer, swirl_meter and
 * vertical_spectrum through the library's exported functions. */
#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

/* Seed so that simple_equalizer_init draws `mode`; returns its fade. */
int seed_simple_equalizer(int mode)
{
    unsigned s = seed_where([mode] { return rand() % 3 == mode; });
    srand(s);
    rand();
    int fade = rand() % 20 + 10;
    srand(s);
    return fade;
}

} // namespace

TEST(SimpleEqualizer, EdgeModeLightsFromTheFloorUp)
{
    Library glim;
    Pattern p = glim.pattern("simple_equalizer");
    Hall hall;
    seed_simple_equalizer(0);
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(nullptr), 0); }),
              "simple_equalizer_init called\n");

    hall.fill(123);
    hall.set_heights(10);
    EXPECT_EQ(hall.run(p), 0);
    for (int b = 0; b < 10; b++)
        EXPECT_TRUE(hall.box_is(b, 0)) << "box " << b;

    hall.set_heights(99);
    hall.run(p);
    for (int b = 0; b < 10; b++) {
        EXPECT_EQ(hall.at(b, 0), 255);
        EXPECT_EQ(hall.at(b, 5), 255);
        EXPECT_EQ(hall.at(b, 1), 255);
        EXPECT_EQ(hall.at(b, 4), 255);
        EXPECT_EQ(hall.at(b, 2), 250);
        EXPECT_EQ(hall.at(b, 3), 250);
    }

    /* Each bar drives its own box; in between a pair is partly lit. */
    for (int b = 0; b < 10; b++)
        hall.heights[b] = (int16_t)(b * 10);
    hall.heights[3] = 40; /* bottom 150, middle 75, top 0 */
    hall.run(p);
    EXPECT_EQ(hall.at(3, 0), 150);
    EXPECT_EQ(hall.at(3, 1), 75);
    EXPECT_EQ(hall.at(3, 2), 0);
    EXPECT_TRUE(hall.box_is(0, 0));
    EXPECT_EQ(hall.at(9, 2), 5 * 90 - 245);

    EXPECT_EQ(printed([&] { EXPECT_EQ(p.deinit(), 0); }),
              "simple_equalizer_deinit called\n");
}

TEST(SimpleEqualizer, SweepModesClimbAcrossAndFadeAbove)
{
    for (int mode = 1; mode <= 2; mode++) {
        Library glim;
        Pattern p = glim.pattern("simple_equalizer");
        Hall hall;
        int fade = seed_simple_equalizer(mode);
        printed([&] { p.init(nullptr); });
        hall.fill(200);
        hall.set_heights(27);
        for (int frame = 1; frame <= 30; frame++) {
            hall.run(p);
            int left = 200 - frame * fade;
            if (left < 0)
                left = 0;
            for (int b = 0; b < 10; b++)
                for (int j = 0; j < 6; j++) {
                    int c = mode == 1 ? j : 5 - j;
                    int want = j == 0 ? 255 : j == 1 ? 16 : left;
                    ASSERT_EQ(hall.at(b, c), want)
                        << "mode " << mode << " frame " << frame << " box "
                        << b << " channel " << c;
                }
        }
    }
}

/* Runs a travelling pattern with the given options on a loud random
 * spectrum; after the first frame the entry box's values must reach the far
 * box nine frames later, dimmed by the fade at every box. */
static void check_travel(const char *name, const char *options, int entry,
                         int fade)
{
    Library glim;
    Pattern p = glim.pattern(name);
    Hall hall;
    srand(7);
    Options opt(options);
    printed([&] { ASSERT_EQ(p.init(opt), 0); });
    hall.set_spectrum(20000);
    hall.run(p);
    int first[6];
    for (int c = 0; c < 6; c++)
        first[c] = hall.at(entry, c);
    int step = entry == 0 ? 1 : -1;
    for (int n = 1; n <= 9; n++) {
        hall.random_spectrum();
        EXPECT_EQ(hall.run(p), 0);
        for (int c = 0; c < 6; c++) {
            int want = first[c] - n * fade;
            ASSERT_EQ(hall.at(entry + n * step, c), want < 0 ? 0 : want)
                << name << " " << options << " frame " << n + 1;
        }
    }
    printed([&] { p.deinit(); });
}

TEST(TravellingPictures, ZeroFadeCarriesTheEntryBoxToTheFarEnd)
{
    check_travel("ring_equalizer", "dir=1 fade=0", 0, 0);
    check_travel("swirl_meter", "dir=1 fade=0", 0, 0);
}

TEST(TravellingPictures, NegativeDirectionEntersAtBoxNine)
{
    check_travel("ring_equalizer", "dir=-1 fade=0", 9, 0);
    check_travel("swirl_meter", "dir=-1 fade=0", 9, 0);
    /* Only the sign of an option's direction counts. */
    check_travel("ring_equalizer", "dir=-7 fade=0", 9, 0);
    check_travel("swirl_meter", "dir=5 fade=0", 0, 0);
}

TEST(TravellingPictures, FadeDimsEveryBoxTravelled)
{
    check_travel("ring_equalizer", "dir=1 fade=20", 0, 20);
    check_travel("swirl_meter", "fade=7 dir=-1", 9, 7);
}

TEST(TravellingPictures, RingEqualizerPutsSixBandsOnTheEntryBox)
{
    Library glim, twin;
    Pattern p = glim.pattern("ring_equalizer");
    Hall hall;
    Options opt("dir=1 fade=3");
    printed([&] { p.init(opt); });
    srand(11);
    hall.random_spectrum();
    hall.run(p);
    double lev[6];
    twin.levels()(hall.raw, lev, 6);
    for (int c = 0; c < 6; c++)
        EXPECT_EQ(hall.at(0, c), (int)(lev[c] * 255.0)) << "channel " << c;
    EXPECT_EQ(printed([&] { p.deinit(); }), "ring_equalizer_deinit called\n");
}

TEST(TravellingPictures, OptionsAndRandomDrawsAreAnnounced)
{
    Library glim;
    Pattern ring = glim.pattern("ring_equalizer");
    Pattern swirl = glim.pattern("swirl_meter");

    unsigned s = 5;
    srand(s);
    int dir = (rand() & 1) * 2 - 1;
    int fade = rand() & 15;
    srand(s);
    EXPECT_EQ(printed([&] { ring.init(nullptr); }),
              "Randomly picking direction " + std::to_string(dir) +
                  ".\nRandomly picking fade val " + std::to_string(fade) +
                  ".\n");

    srand(s);
    rand();
    int sfade = rand() & 7;
    srand(s);
    EXPECT_EQ(printed([&] { swirl.init(nullptr); }),
              "Randomly picking direction " + std::to_string(dir) +
                  ".\nRandomly picking fade val " + std::to_string(sfade) +
                  ".\n");

    Options told("dir=-3 fade=4");
    EXPECT_EQ(printed([&] { ring.init(told); }),
              "Being told to use direction -3.\n");
    /* Direction 0 is no direction: drawn like an unset one. */
    Options zero("dir=0 fade=2");
    std::string out = printed([&] { swirl.init(zero); });
    EXPECT_EQ(out.rfind("Randomly picking direction ", 0), 0u) << out;
    EXPECT_EQ(out.find("fade"), std::string::npos) << out;
    EXPECT_EQ(printed([&] { swirl.deinit(); }), "");
}

TEST(SwirlMeter, SpotAtZeroShowsLowBandOnChannelZeroHighBandOppositeOnFour)
{
    Library glim, twin;
    Pattern p = glim.pattern("swirl_meter");
    Hall hall;
    Options opt("dir=1 fade=0");
    printed([&] { p.init(opt); });
    hall.fill(99);
    /* Loud low bins, quieter high bins: the two bands differ. */
    for (int i = 0; i < 256; i++)
        hall.raw[0][i] = (int16_t)(i < 4 ? 30000 : 300);
    hall.run(p);
    double lev[2];
    twin.levels()(hall.raw, lev, 2);
    ASSERT_NE((int)(lev[0] * 255.0), (int)(lev[1] * 255.0));
    EXPECT_EQ(hall.at(0, 0), (int)(lev[0] * 255.0));
    EXPECT_EQ(hall.at(0, 4), (int)(lev[1] * 255.0));
    for (int c : {1, 2, 3, 5})
        EXPECT_EQ(hall.at(0, c), 0) << "channel " << c;
}

TEST(SwirlMeter, SpotGoesOnWhereTheLastRunStopped)
{
    Library glim, twin;
    Pattern p = glim.pattern("swirl_meter");
    Hall hall;
    Options opt("dir=1 fade=0");
    printed([&] { p.init(opt); });
    hall.set_spectrum(2000);
    double lev[2];
    for (int i = 0; i < 5; i++) { /* 5 x 0.2: the spot is at channel 1 */
        hall.run(p);
        twin.levels()(hall.raw, lev, 2); /* keeps the twin's gain in step */
    }
    p.deinit();
    printed([&] { p.init(opt); });
    for (int i = 0; i < 256; i++)
        hall.raw[0][i] = (int16_t)(i < 4 ? 30000 : 300);
    hall.run(p);
    twin.levels()(hall.raw, lev, 2);
    EXPECT_EQ(hall.at(0, 1), (int)(lev[0] * 255.0));
    EXPECT_EQ(hall.at(0, 5), (int)(lev[1] * 255.0));
    for (int c : {0, 2, 3, 4})
        EXPECT_EQ(hall.at(0, c), 0) << "channel " << c;
}

TEST(VerticalSpectrum, FullBandClimbsOnePairPerFrameLosingTheFade)
{
    Library glim;
    Pattern p = glim.pattern("vertical_spectrum");
    Hall hall;
    Options opt("fade=10");
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(opt), 0); }), "");
    hall.set_spectrum(32767); /* every band at full on a fresh gain */
    hall.run(p);
    for (int b = 0; b < 10; b++) {
        EXPECT_EQ(hall.at(b, 0), 256);
        EXPECT_EQ(hall.at(b, 5), 256);
        EXPECT_EQ(hall.at(b, 1), 0);
        EXPECT_EQ(hall.at(b, 2), 0);
    }
    hall.run(p);
    for (int b = 0; b < 10; b++) {
        EXPECT_EQ(hall.at(b, 0), 256);
        EXPECT_EQ(hall.at(b, 1), 246);
        EXPECT_EQ(hall.at(b, 4), 246);
        EXPECT_EQ(hall.at(b, 3), 0);
    }
    hall.run(p);
    EXPECT_EQ(hall.at(4, 2), 236);
    EXPECT_EQ(hall.at(4, 3), 236);

    /* Silence: the bottom pair sinks by 8 a frame from its peak. */
    hall.set_spectrum(0);
    hall.run(p);
    EXPECT_EQ(hall.at(0, 0), 248);
    EXPECT_EQ(hall.at(0, 5), 248);
    EXPECT_EQ(p.deinit(), 0);
}

TEST(VerticalSpectrum, UnsetFadeIsDrawnAndAnnounced)
{
    Library glim;
    Pattern p = glim.pattern("vertical_spectrum");
    srand(3);
    int fade = rand() & 127;
    srand(3);
    EXPECT_EQ(printed([&] { p.init(nullptr); }),
              "Randomly picking fade val " + std::to_string(fade) + ".\n");
    Options neg("fade=-4");
    srand(3);
    EXPECT_EQ(printed([&] { p.init(neg); }),
              "Randomly picking fade val " + std::to_string(fade) + ".\n");
}
