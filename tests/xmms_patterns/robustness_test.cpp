/* robustness_test.cpp -- every one of the eleven patterns exported by name,
 * kept out of the scheduler's table, and run for 10 000 frames on random
 * spectra without writing outside the 60 values of the light frame. */
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

const char *const NAMES[] = {
    "simple_equalizer", "ring_equalizer", "swirl_meter",  "vertical_spectrum",
    "bar_equalizer",    "center_meter",   "vertical_meter", "trailing_lines",
    "warp_core",        "auto_pong",      "explosion",
};

struct pattern_row {
    fresh_glim::init_fn *init;
    fresh_glim::frame_fn *frame;
    fresh_glim::deinit_fn *deinit;
};

/* Runs `frames` frames of one pattern with `options`, restarting it when
 * it ends itself, and checks the guards after every frame. */
void soak(const Library &glim, const char *name, const char *options,
          int frames)
{
    Pattern p = glim.pattern(name);
    ASSERT_TRUE(p.init && p.frame && p.deinit);
    Hall hall;
    for (int k = 0; k < 60; k++)
        hall.light[k] = rand() % 256;
    Options opt(options ? options : "");
    /* Whatever the pattern prints is kept out of the test's output. */
    printed_err([&] {
        printed([&] {
            ASSERT_EQ(p.init(options ? (char *)opt : nullptr), 0) << name;
            for (int f = 0; f < frames; f++) {
                hall.random_spectrum();
                int r = hall.run(p, frames - 1 - f);
                ASSERT_TRUE(hall.guards_intact()) << name << " frame " << f;
                if (r < 0) { /* ended itself: start it again */
                    p.deinit();
                    ASSERT_EQ(p.init(options ? (char *)opt : nullptr), 0);
                }
            }
            p.deinit();
        });
    });
}

} // namespace

TEST(PatternExports, AllThirtyThreeFunctionsByNameAndNoneInTheTable)
{
    Library glim;
    ASSERT_TRUE(glim.ok());
    auto *table = static_cast<pattern_row *>(glim.symbol("patterns"));
    ASSERT_NE(table, nullptr);
    for (const char *name : NAMES) {
        Pattern p = glim.pattern(name);
        for (int row = 0; row < 64 && table[row].init; row++) {
            EXPECT_NE(table[row].init, p.init) << name << " row " << row;
            EXPECT_NE(table[row].frame, p.frame) << name << " row " << row;
        }
    }
}

class PatternSoak : public testing::TestWithParam<const char *> {};

TEST_P(PatternSoak, TenThousandRandomFramesStayInsideTheFrame)
{
    Library glim;
    srand(20010);
    soak(glim, GetParam(), nullptr, 10000);
}

TEST_P(PatternSoak, OddOptionStringsStayInsideTheFrame)
{
    Library glim;
    srand(77);
    const char *options[] = {
        "dir=3 fade=300 delay=-4",
        "dir=-2147483648 fade=2147483647 delay=2147483647",
        "max_lines=0 new_line_chance=0 move_count=0 dir=0 fade_count=-50",
        "max_lines=1000 new_line_chance=1 move_count=1 dir=-1 "
        "fade_count=2147483647",
        "fade_count=-2147483648 dir=9",
        "dir= fade=",
    };
    for (const char *o : options)
        soak(glim, GetParam(), o, 500);
}

INSTANTIATE_TEST_SUITE_P(EveryPattern, PatternSoak, testing::ValuesIn(NAMES),
                         [](const testing::TestParamInfo<const char *> &i) {
                             return std::string(i.param);
                         });
