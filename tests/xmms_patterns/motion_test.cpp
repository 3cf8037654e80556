/* motion_test.cpp -- trailing_lines and warp_core through the library's
 * exported functions, including the option values that must not stop a
 * line from running and leaving. */
#include <vector>

#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

/* Indices that hold 255 (line heads; their trails are dimmer). */
std::vector<int> full_lights(const Hall &hall)
{
    std::vector<int> out;
    for (int k = 0; k < 60; k++)
        if (hall.light[k] == 255)
            out.push_back(k);
    return out;
}

} // namespace

TEST(TrailingLines, FirstFrameStartsALineInBoxZeroAtOnce)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(nullptr), 0); }),
              "trailing_lines_init called\n");
    srand(21);
    rand();
    int channel = rand() % 6;
    srand(21);
    hall.fill(100);
    EXPECT_EQ(hall.run(p), 0);
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(hall.light[k], k == channel ? 255 : 90) << "index " << k;
    EXPECT_EQ(p.deinit(), 0);
}

TEST(TrailingLines, ALineRunsItsChannelToTheFarEndAndLeaves)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    Options opt("max_lines=1 move_count=2 dir=1");
    printed([&] { p.init(opt); });
    /* First frame: the chance draw, then channel 3. */
    seed_where([] {
        rand();
        return rand() % 6 == 3;
    });
    for (int frame = 1; frame <= 20; frame++) {
        hall.run(p);
        int want = 3 + 6 * ((frame - 1) / 2);
        ASSERT_EQ(full_lights(hall), std::vector<int>{want})
            << "frame " << frame;
    }
    /* At 63 the line is gone; a new one starts in box 0 in the same frame. */
    hall.run(p);
    std::vector<int> heads = full_lights(hall);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_LT(heads[0], 6);
    EXPECT_EQ(hall.light[57], 255 - 10);
    EXPECT_EQ(p.deinit(), 0);
}

TEST(TrailingLines, NegativeDirectionStartsAtBoxNine)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    Options opt("dir=-1 max_lines=1 move_count=1");
    printed([&] { p.init(opt); });
    srand(4);
    hall.run(p);
    std::vector<int> heads = full_lights(hall);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_GE(heads[0], 54);
    for (int box = 8; box >= 0; box--) {
        hall.run(p);
        ASSERT_EQ(full_lights(hall), std::vector<int>{heads[0] - 6 * (9 - box)});
    }
    p.deinit();
}

TEST(TrailingLines, NeverRunsMoreThanMaxLines)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    Options opt("max_lines=3 new_line_chance=1 move_count=3");
    printed([&] { p.init(opt); });
    srand(8);
    size_t most = 0;
    for (int frame = 0; frame < 500; frame++) {
        hall.run(p);
        size_t n = full_lights(hall).size();
        ASSERT_LE(n, 3u) << "frame " << frame;
        most = std::max(most, n);
    }
    EXPECT_EQ(most, 3u);
    p.deinit();

    /* The settings stay for the next run without options. */
    printed([&] { p.init(nullptr); });
    for (int frame = 0; frame < 200; frame++) {
        hall.run(p);
        ASSERT_LE(full_lights(hall).size(), 3u);
    }
    p.deinit();
}

TEST(TrailingLines, SettingsThatWouldStallOrCrashAreBroughtIntoRange)
{
    struct Case {
        const char *options;
        const char *message;
    } cases[] = {
        {"new_line_chance=0", "new_line_chance 0 out of range, using 1"},
        {"new_line_chance=-5", "new_line_chance -5 out of range, using 1"},
        {"max_lines=0", "max_lines 0 out of range, using 1"},
        {"max_lines=-2", "max_lines -2 out of range, using 1"},
        {"max_lines=2000000000", "max_lines 2000000000 out of range, using 1000"},
        {"move_count=0", "move_count 0 out of range, using 1"},
        {"move_count=-3", "move_count -3 out of range, using 1"},
        {"dir=0", "dir 0 out of range, using -1"},
        {"dir=2147483647", "dir 2147483647 out of range, using 10"},
        {"dir=-2147483648", "dir -2147483648 out of range, using -10"},
    };
    for (const Case &c : cases) {
        Library glim;
        Pattern p = glim.pattern("trailing_lines");
        Hall hall;
        Options opt(c.options);
        std::string err = printed_err([&] {
            printed([&] { EXPECT_EQ(p.init(opt), 0) << c.options; });
        });
        EXPECT_NE(err.find(c.message), std::string::npos)
            << c.options << ": " << err;
        /* Lines must keep leaving: the table never stays full, so box 0 or
         * box 9 sees a new head again and again. */
        srand(2);
        int starts = 0;
        for (int frame = 0; frame < 400; frame++) {
            ASSERT_EQ(hall.run(p), 0);
            for (int k : full_lights(hall))
                if (k < 6 || k >= 54)
                    starts++;
        }
        EXPECT_GT(starts, 10) << c.options;
        EXPECT_TRUE(hall.guards_intact()) << c.options;
        p.deinit();
    }
}

TEST(TrailingLines, DirectionZeroRunsLinesTowardsBoxZero)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    Options opt("dir=0 max_lines=1 move_count=1");
    printed_err([&] { printed([&] { p.init(opt); }); });
    srand(4);
    hall.run(p);
    std::vector<int> heads = full_lights(hall);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_GE(heads[0], 54);
    hall.run(p);
    EXPECT_EQ(full_lights(hall), std::vector<int>{heads[0] - 6});
    p.deinit();
}

TEST(TrailingLines, FrameWithoutATableEndsThePattern)
{
    Library glim;
    Pattern p = glim.pattern("trailing_lines");
    Hall hall;
    hall.fill(77);
    EXPECT_LT(hall.run(p), 0);
    for (int k = 0; k < 60; k++)
        ASSERT_EQ(hall.light[k], 77);
    printed([&] { p.init(nullptr); });
    p.deinit();
    EXPECT_LT(hall.run(p), 0);
}

/* Which box pair holds the full rings, or -1. */
static int ring_pos(const Hall &hall)
{
    for (int pos = 0; pos < 5; pos++)
        if (hall.box_is(pos, 255) && hall.box_is(9 - pos, 255))
            return pos;
    return -1;
}

TEST(WarpCore, DelayThreeStepsEveryFourthFrame)
{
    Library glim;
    Pattern p = glim.pattern("warp_core");
    Hall hall;
    Options opt("delay=3");
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(opt), 0); }), "");
    std::vector<int> seen;
    for (int frame = 0; frame < 24; frame++) {
        EXPECT_EQ(hall.run(p), 0);
        seen.push_back(ring_pos(hall));
    }
    /* Loaded at place 0 and count 0: three more frames there, then on. */
    std::vector<int> want = {0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3,
                             3, 3, 3, 4, 4, 4, 4, 0, 0, 0, 0, 1};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(p.deinit(), 0);
}

TEST(WarpCore, DelayZeroStepsEveryFrameAndFadesBehind)
{
    Library glim;
    Pattern p = glim.pattern("warp_core");
    Hall hall;
    seed_where([] { return (rand() & 3) == 0; });
    p.init(nullptr);
    std::vector<int> seen;
    for (int frame = 0; frame < 7; frame++) {
        hall.run(p);
        seen.push_back(ring_pos(hall));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 0, 1, 2}));
    /* The ring before last has faded once, the one before twice. */
    EXPECT_TRUE(hall.box_is(1, 207));
    EXPECT_TRUE(hall.box_is(0, 159));

    /* Place and count go on from the last run. */
    p.deinit();
    Options opt("delay=1");
    p.init(opt);
    hall.run(p);
    EXPECT_EQ(ring_pos(hall), 2);
    hall.run(p);
    EXPECT_EQ(ring_pos(hall), 3);
}
