/* explosion_test.cpp -- the explosion sequence through the library's
 * exported functions: growth from the middle, full at radius 7, burning
 * out, and the end on the 44th call. */
#include <cmath>

#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

double distance(int box, int channel)
{
    return std::sqrt((box - 4.5) * (box - 4.5) +
                     (2 * channel - 5) * (2 * channel - 5));
}

} // namespace

TEST(Explosion, GrowsFromTheMiddleLeavingTheRestAlone)
{
    Library glim;
    Pattern p = glim.pattern("explosion");
    Hall hall;
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(nullptr), 0); }), "");
    hall.fill(100);
    for (int frame = 1; frame <= 3; frame++) {
        ASSERT_EQ(hall.run(p), 0);
        for (int k = 0; k < 60; k++)
            ASSERT_EQ(hall.light[k], 100) << "frame " << frame;
    }
    hall.run(p); /* radius 1.5: the four nearest channels */
    for (int b = 0; b < 10; b++)
        for (int c = 0; c < 6; c++) {
            bool near = (b == 4 || b == 5) && (c == 2 || c == 3);
            EXPECT_EQ(hall.at(b, c), near ? 255 : 100) << b << "," << c;
        }
    for (int frame = 5; frame <= 14; frame++) {
        hall.run(p);
        double radius = (frame - 1) * 0.5;
        for (int b = 0; b < 10; b++)
            for (int c = 0; c < 6; c++)
                ASSERT_EQ(hall.at(b, c), distance(b, c) < radius ? 255 : 100)
                    << "frame " << frame;
    }
    ASSERT_EQ(hall.run(p), 0); /* radius 7.0 */
    for (int k = 0; k < 60; k++)
        ASSERT_EQ(hall.light[k], 255) << "index " << k;
}

TEST(Explosion, BurnsOutAndEndsOnTheFortyFourthCall)
{
    Library glim;
    Pattern p = glim.pattern("explosion");
    Hall hall;
    p.init(nullptr);
    for (int call = 1; call <= 15; call++)
        ASSERT_EQ(hall.run(p), 0);
    ASSERT_EQ(hall.run(p), 0); /* burning radius 1.0 reaches nothing */
    for (int k = 0; k < 60; k++)
        ASSERT_EQ(hall.light[k], 255);
    ASSERT_EQ(hall.run(p), 0); /* radius 1.5 */
    EXPECT_EQ(hall.at(4, 2), 223);
    EXPECT_EQ(hall.at(5, 3), 223);
    EXPECT_EQ(hall.at(3, 2), 255);
    for (int call = 18; call <= 43; call++)
        ASSERT_EQ(hall.run(p), 0) << "call " << call;
    EXPECT_EQ(hall.run(p), -1);
    /* Even the farthest channels were covered for 8 or more frames. */
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(hall.light[k], 0) << "index " << k;
    EXPECT_EQ(p.deinit(), 0);

    /* A new init starts over. */
    p.init(nullptr);
    hall.fill(10);
    for (int call = 1; call <= 43; call++)
        ASSERT_EQ(hall.run(p), 0);
    EXPECT_EQ(hall.run(p), -1);
}
