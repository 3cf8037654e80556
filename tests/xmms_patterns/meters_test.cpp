/* meters_test.cpp -- bar_equalizer, center_meter and vertical_meter
 * through the library's exported functions. The bass level is set through
 * the spectrum (bins 0 to 5) and checked against a twin library. */
#include <algorithm>

#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

/* A fresh library's pattern run once on a spectrum giving bass level
 * `level`, from a frame of all 100s. `factor` is the meter's length scale:
 * the test first checks that the level gives length `len`. */
struct MeterRun {
    Library glim, twin;
    Hall hall;
    Pattern p;

    MeterRun(const char *name, const char *options, double level, int factor,
             int len)
    {
        p = glim.pattern(name);
        Options opt(options);
        printed([&] { EXPECT_EQ(p.init(options ? (char *)opt : nullptr), 0); });
        int bin = level >= 1.0 ? 32767 : level <= 0 ? 0 : bass_bin_for(level);
        hall.set_spectrum(bin);
        double val;
        twin.levels()(hall.raw, &val, 1);
        EXPECT_EQ((int)(val * factor), len) << "level " << val;
        hall.fill(100);
        EXPECT_EQ(hall.run(p), 0);
    }

    /* Boxes listed at full, every other box faded once from 100. */
    void expect_lit_boxes(std::initializer_list<int> lit)
    {
        for (int b = 0; b < 10; b++) {
            bool on = std::find(lit.begin(), lit.end(), b) != lit.end();
            EXPECT_TRUE(hall.box_is(b, on ? 255 : 52)) << "box " << b;
        }
    }
};

} // namespace

TEST(MeterPatterns, SilenceOnlyFades)
{
    for (const char *name : {"bar_equalizer", "center_meter",
                             "vertical_meter"}) {
        MeterRun run(name, nullptr, 0.0, 10, 0);
        for (int k = 0; k < 60; k++)
            ASSERT_EQ(run.hall.light[k], 52) << name << " index " << k;
    }
}

TEST(MeterPatterns, FullLevelLightsTheWholeHallway)
{
    MeterRun bar("bar_equalizer", nullptr, 1.0, 10, 10);
    bar.expect_lit_boxes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    MeterRun center("center_meter", nullptr, 1.0, 5, 5);
    center.expect_lit_boxes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    MeterRun vertical("vertical_meter", nullptr, 1.0, 3, 3);
    vertical.expect_lit_boxes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
}

TEST(MeterPatterns, CenterMeterGrowsFromTheTwoMiddleBoxes)
{
    MeterRun one("center_meter", nullptr, 0.3, 5, 1);
    one.expect_lit_boxes({4, 5});
    MeterRun three("center_meter", nullptr, 0.7, 5, 3);
    three.expect_lit_boxes({2, 3, 4, 5, 6, 7});
}

TEST(MeterPatterns, VerticalMeterFillsPairsFromTheFloor)
{
    MeterRun run("vertical_meter", nullptr, 0.5, 3, 1);
    for (int b = 0; b < 10; b++) {
        EXPECT_EQ(run.hall.at(b, 0), 255);
        EXPECT_EQ(run.hall.at(b, 5), 255);
        for (int c : {1, 2, 3, 4})
            EXPECT_EQ(run.hall.at(b, c), 52);
    }
    MeterRun two("vertical_meter", nullptr, 0.8, 3, 2);
    for (int b = 0; b < 10; b++) {
        EXPECT_EQ(two.hall.at(b, 1), 255);
        EXPECT_EQ(two.hall.at(b, 4), 255);
        EXPECT_EQ(two.hall.at(b, 2), 52);
    }
}

TEST(BarEqualizer, DirectionMinusOneGrowsFromBoxNine)
{
    MeterRun run("bar_equalizer", "dir=-1", 0.35, 10, 3);
    run.expect_lit_boxes({9, 8, 7});
    MeterRun fwd("bar_equalizer", "dir=1", 0.35, 10, 3);
    fwd.expect_lit_boxes({0, 1, 2});
}

TEST(BarEqualizer, DirectionsOtherThanPlusMinusOneStayInTheHallway)
{
    /* Only the sign counts; 0 runs from box 9 like any non-positive one. */
    MeterRun big("bar_equalizer", "dir=4", 1.0, 10, 10);
    big.expect_lit_boxes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_TRUE(big.hall.guards_intact());
    MeterRun neg("bar_equalizer", "dir=-100", 0.35, 10, 3);
    neg.expect_lit_boxes({9, 8, 7});
    MeterRun zero("bar_equalizer", "dir=0", 0.35, 10, 3);
    zero.expect_lit_boxes({9, 8, 7});
    MeterRun huge("bar_equalizer", "dir=2147483647", 1.0, 10, 10);
    EXPECT_TRUE(huge.hall.guards_intact());
}

TEST(BarEqualizer, DirectionIsAnnouncedAndKeptWhenTheStringHasNone)
{
    Library glim;
    Pattern p = glim.pattern("bar_equalizer");
    srand(9);
    int dir = (rand() % 2) * 2 - 1;
    srand(9);
    EXPECT_EQ(printed([&] { p.init(nullptr); }),
              "bar_equalizer_init called\nRandomly picking direction " +
                  std::to_string(dir) + ".\n");
    Options told("dir=-1");
    EXPECT_EQ(printed([&] { p.init(told); }),
              "bar_equalizer_init called\nBeing told to use direction -1.\n");
    Options other("speed=3");
    EXPECT_EQ(printed([&] { p.init(other); }),
              "bar_equalizer_init called\nBeing told to use direction -1.\n");
    Options odd("dir=9");
    EXPECT_EQ(printed([&] { p.init(odd); }),
              "bar_equalizer_init called\nBeing told to use direction 1.\n");
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.deinit(), 0); }), "");
}
