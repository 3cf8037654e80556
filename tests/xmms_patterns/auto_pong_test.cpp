/* auto_pong_test.cpp -- the auto_pong game through the library's exported
 * functions: the serve wait, the paddles' drawing, the ball's court and
 * the end of a game on the third miss. */
#include <cmath>

#include <gtest/gtest.h>

#include "fresh_glim.h"
#include "hall_frame.h"

using namespace hall_frame;
using fresh_glim::Library;
using fresh_glim::Pattern;

namespace {

int ball_index(const Hall &hall)
{
    int found = -1;
    for (int k = 0; k < 60; k++)
        if (hall.light[k] == 255) {
            EXPECT_EQ(found, -1) << "two balls";
            found = k;
        }
    return found;
}

int paddle_pulse(int counter)
{
    float ft = 175 + 75 * sin(counter / 5.0);
    return (int)ft;
}

} // namespace

TEST(AutoPong, BallWaitsSixtyFramesThenIsServed)
{
    Library glim;
    Pattern p = glim.pattern("auto_pong");
    Hall hall;
    srand(1);
    EXPECT_EQ(printed([&] { EXPECT_EQ(p.init(nullptr), 0); }), "");
    for (int frame = 1; frame < 60; frame++) {
        hall.fill(42);
        ASSERT_EQ(hall.run(p), 0);
        ASSERT_EQ(ball_index(hall), -1) << "frame " << frame;
        /* Freshly loaded paddles sit at channel 0 at both ends. */
        ASSERT_EQ(hall.light[0], paddle_pulse(frame));
        ASSERT_EQ(hall.light[1], 0);
        ASSERT_EQ(hall.light[54],
                  (int)(175 + 75 * sin((frame + 2) / 5.0)));
        for (int k = 2; k < 54; k++)
            ASSERT_EQ(hall.light[k], 0) << "frame " << frame;
    }
    ASSERT_EQ(hall.run(p), 0);
    int ball = ball_index(hall);
    /* Served from the middle (5.0 + 0.1 along, box 5). */
    EXPECT_EQ(ball / 6, 5);
    EXPECT_EQ(p.deinit(), 0);
}

TEST(AutoPong, BallNeverInBoxZeroAndThirdMissEndsTheGame)
{
    Library glim;
    Pattern p = glim.pattern("auto_pong");
    Hall hall;
    srand(12345);
    for (int game = 0; game < 5; game++) {
        p.init(nullptr);
        int misses = 0;
        bool had_ball = false;
        int frame = 0;
        for (;; frame++) {
            ASSERT_LT(frame, 200000) << "game " << game << " never ended";
            int r = hall.run(p);
            int ball = ball_index(hall);
            ASSERT_TRUE(ball == -1 || ball >= 6) << "ball in box 0";
            ASSERT_TRUE(hall.guards_intact());
            if (had_ball && ball == -1)
                misses++; /* the ball went back to the middle to wait */
            had_ball = ball != -1;
            if (r < 0) {
                EXPECT_EQ(misses, 3) << "game " << game;
                EXPECT_EQ(ball, -1);
                /* Both paddles are still shown on the last frame. */
                int p1 = 0, p2 = 0;
                for (int k = 0; k < 7; k++)
                    p1 += hall.light[k] > 0;
                for (int k = 54; k < 60; k++)
                    p2 += hall.light[k] > 0;
                EXPECT_GE(p1, 1);
                EXPECT_EQ(p2, 1);
                break;
            }
            ASSERT_EQ(r, 0);
        }
        p.deinit();
    }
}
