/* auto_pong_state_test.cpp -- auto_pong's drawing of paddle 1 at places
 * play cannot reach: it moves in steps of 0.33 from 0.0, so it never sits
 * on a whole channel again, and only near the edges past them. The module
 * is compiled into this test so the test can place the paddle. */
#include "game_patterns.cpp"

#include <cmath>

#include <gtest/gtest.h>

namespace {

struct Drawn {
    int guard_lo[8];
    int light[60];
    int guard_hi[8];
};

/* Draw one waiting frame (ball not in play) with paddle 1 at pos. */
void draw_with_paddle(Drawn &d, float pos, int *ft)
{
    for (int &g : d.guard_lo)
        g = 7777;
    for (int &g : d.guard_hi)
        g = 7777;
    auto_pong_init(nullptr);
    pong_paddle_1_pos = pos;
    int16_t raw[2][256] = {};
    auto_pong_frame(nullptr, nullptr, d.light, raw, 0);
    *ft = (int)(float)(175 + 75 * sin(pong_counter / 5.0));
}

} // namespace

TEST(AutoPongDrawing, PaddleOnAWholeChannelLightsOnlyThatChannel)
{
    Drawn d;
    int ft;
    draw_with_paddle(d, 3.0f, &ft);
    EXPECT_EQ(d.light[3], ft);
    EXPECT_EQ(d.light[4], 0);
    EXPECT_EQ(d.light[2], 0);
}

TEST(AutoPongDrawing, PaddleBetweenChannelsSharesItsLight)
{
    Drawn d;
    int ft;
    draw_with_paddle(d, 2.5f, &ft);
    EXPECT_EQ(d.light[2], (int)(ft * 0.5f));
    EXPECT_EQ(d.light[3], (int)(ft * 0.5f));
}

TEST(AutoPongDrawing, PaddlePastTheEdgesStaysInsideTheFrame)
{
    Drawn d;
    int ft;
    draw_with_paddle(d, 5.28f, &ft);
    EXPECT_GT(d.light[6], 0); /* channel 0 of box 1 takes the share */
    EXPECT_GT(d.light[5], 0);
    draw_with_paddle(d, -0.33f, &ft);
    EXPECT_GT(d.light[0], ft); /* sent as at most 255 */
    EXPECT_LT(d.light[1], 0);  /* sent as 0 */
    for (int g : d.guard_lo)
        EXPECT_EQ(g, 7777);
    for (int g : d.guard_hi)
        EXPECT_EQ(g, 7777);
}
