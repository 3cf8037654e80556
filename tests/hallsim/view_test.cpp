/* view_test.cpp -- walking and looking: UpdateViewState fed with
 * synthesized SDL events (SDL's dummy video driver, no X needed) and a
 * clock the test advances itself, so each case covers exact seconds. */
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include <initializer_list>
#include <vector>

#include "hallsim/hall.h"

namespace {

uint32_t fake_now = 0;
uint32_t fake_clock(void)
{
    return fake_now;
}

class View : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        hall_set_clock(fake_clock);
        /* One empty step so that time counts from here. */
        fake_now += 1000;
        view_state scratch{};
        UpdateViewState(&scratch);
        v = view_state{};
        v.y = 1.5f;
        v.z = 45.0f;
    }
    void TearDown() override
    {
        /* Release whatever is still held, so tests run in one process
         * leave no inputs behind. */
        std::vector<SDLKey> keys = held;
        for (SDLKey k : keys)
            key(k, false);
        std::vector<Uint8> buttons = held_buttons;
        for (Uint8 b : buttons)
            button(b, false);
        step(0.01);
        hall_set_clock(nullptr);
        SDL_Quit();
    }

    void key(SDLKey k, bool down)
    {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = k;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
        if (down)
            held.push_back(k);
        else
            for (size_t i = 0; i < held.size(); i++)
                if (held[i] == k) {
                    held.erase(held.begin() + i);
                    break;
                }
    }
    void press(std::initializer_list<SDLKey> keys)
    {
        for (SDLKey k : keys)
            key(k, true);
    }
    void button(Uint8 b, bool down)
    {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = b;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
        if (down)
            held_buttons.push_back(b);
        else
            for (size_t i = 0; i < held_buttons.size(); i++)
                if (held_buttons[i] == b) {
                    held_buttons.erase(held_buttons.begin() + i);
                    break;
                }
    }
    void motion(int xrel, int yrel)
    {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.xrel = (Sint16)xrel;
        e.motion.yrel = (Sint16)yrel;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    /* Run the navigation for `seconds` in 10 ms frames. */
    int step(double seconds)
    {
        int r = 0;
        for (int i = 0; i < (int)lround(seconds * 100); i++) {
            fake_now += 10;
            r |= UpdateViewState(&v);
        }
        return r;
    }

    view_state v;
    std::vector<SDLKey> held;
    std::vector<Uint8> held_buttons;
};

TEST_F(View, OneSecondOfForwardFromRestCoversAboutSevenUnits)
{
    press({SDLK_UP});
    EXPECT_EQ(step(1.0), 0);
    /* 8 t - (1 - e^(-8 t)) / 1 at t = 1 gives 7.0003; 10 ms steps add a
     * little. */
    EXPECT_NEAR(45.0f - v.z, 7.0, 0.1);
    EXPECT_NEAR(v.vel_z, -8.0 * (1 - exp(-8.0)), 0.01);
    EXPECT_FLOAT_EQ(v.x, 0.0f);
    EXPECT_FLOAT_EQ(v.y, 1.5f);
}

TEST_F(View, ForwardAndRightTogetherKeepEightUnitsPerSecond)
{
    press({SDLK_UP, SDLK_d});
    step(3.0);
    EXPECT_NEAR(v.vel_z, -8 / sqrt(2.0), 1e-3);
    EXPECT_NEAR(v.vel_x, 8 / sqrt(2.0), 1e-3);
    EXPECT_NEAR(hypot(v.vel_x, v.vel_z), 8.0, 1e-3);
}

TEST_F(View, LeftAndRightCancelButStillCountAsTwoInputs)
{
    press({SDLK_s, SDLK_d});
    step(1.0);
    EXPECT_FLOAT_EQ(v.x, 0.0f);
    EXPECT_FLOAT_EQ(v.z, 45.0f);
    press({SDLK_UP});
    step(3.0);
    EXPECT_NEAR(v.vel_z, -8 / sqrt(3.0), 1e-3);
    EXPECT_NEAR(v.vel_x, 0.0, 1e-6);
}

TEST_F(View, LookingStraightUpForwardClimbsToTheCeilingLimit)
{
    motion(0, 450); /* 450 * 0.2 = 90 degrees up */
    press({SDLK_UP});
    step(0.05);
    EXPECT_FLOAT_EQ(v.pitch, 90.0f);
    step(2.0);
    EXPECT_FLOAT_EQ(v.y, 3.18f);
    EXPECT_NEAR(v.z, 45.0f, 1e-3);
    EXPECT_GT(v.vel_y, 7.0f) << "clamping leaves the velocity alone";
}

TEST_F(View, PositionStaysInsideTheHallwayAndTwoUnitsBeyondItsEnds)
{
    press({SDLK_d, SDLK_a, SDLK_DOWN});
    step(3.0);
    EXPECT_FLOAT_EQ(v.x, 1.8f);
    EXPECT_FLOAT_EQ(v.y, 3.18f);
    EXPECT_FLOAT_EQ(v.z, 45.0f);
    key(SDLK_d, false);
    key(SDLK_a, false);
    key(SDLK_DOWN, false);
    press({SDLK_s, SDLK_z, SDLK_UP});
    step(30.0);
    EXPECT_FLOAT_EQ(v.x, -1.8f);
    EXPECT_FLOAT_EQ(v.y, -3.18f);
    EXPECT_FLOAT_EQ(v.z, -45.0f);
}

TEST_F(View, PitchStopsAtStraightUpAndStraightDown)
{
    motion(0, 1000);
    step(0.01);
    EXPECT_FLOAT_EQ(v.pitch, 90.0f);
    motion(0, -2000);
    step(0.01);
    EXPECT_FLOAT_EQ(v.pitch, -90.0f);
}

TEST_F(View, NetTurnOfThreeHundredSeventyLeftLeavesTen)
{
    for (int i = 0; i < 10; i++)
        motion(-185, 0); /* left: yaw grows by 37 each */
    step(0.01);
    EXPECT_NEAR(v.yaw, 10.0, 1e-3);
    motion(100, 0); /* 20 to the right wraps below 0 */
    step(0.01);
    EXPECT_NEAR(v.yaw, 350.0, 1e-3);
}

TEST_F(View, HeadingFarOutOfRangeIsBroughtBack)
{
    v.yaw = 1e30f;
    motion(1, 0);
    step(0.01);
    EXPECT_GE(v.yaw, 0.0f);
    EXPECT_LT(v.yaw, 360.0f);
    v.yaw = INFINITY;
    motion(1, 0);
    step(0.01);
    EXPECT_GE(v.yaw, 0.0f);
    EXPECT_LT(v.yaw, 360.0f);
}

TEST_F(View, ForwardFollowsTheHeading)
{
    motion(-450, 0); /* turn left 90: forward is now -x */
    press({SDLK_UP});
    step(0.2);
    EXPECT_LT(v.vel_x, -1.0f);
    EXPECT_NEAR(v.vel_z, 0.0f, 1e-3);
}

TEST_F(View, MiddleAndRightButtonsWalkForwardAndBack)
{
    button(SDL_BUTTON_MIDDLE, true);
    step(0.5);
    EXPECT_LT(v.vel_z, -7.0f);
    button(SDL_BUTTON_MIDDLE, false);
    button(SDL_BUTTON_RIGHT, true);
    step(2.0);
    EXPECT_GT(v.vel_z, 7.0f);
    button(SDL_BUTTON_RIGHT, false);
    step(2.0);
    EXPECT_NEAR(v.vel_z, 0.0f, 1e-3) << "velocity decays after release";
}

TEST_F(View, OtherKeysAndTheLeftButtonAreIgnored)
{
    press({SDLK_q, SDLK_SPACE, SDLK_LEFT});
    button(SDL_BUTTON_LEFT, true);
    EXPECT_EQ(step(1.0), 0);
    button(SDL_BUTTON_LEFT, false);
    EXPECT_FLOAT_EQ(v.x, 0.0f);
    EXPECT_FLOAT_EQ(v.y, 1.5f);
    EXPECT_FLOAT_EQ(v.z, 45.0f);
}

TEST_F(View, EscapeAndWindowCloseQuitAtOnceWithoutMoving)
{
    press({SDLK_UP});
    step(0.5);
    float z = v.z;
    key(SDLK_ESCAPE, true);
    fake_now += 500;
    EXPECT_EQ(UpdateViewState(&v), 1);
    EXPECT_FLOAT_EQ(v.z, z);
    key(SDLK_ESCAPE, false);
    step(0.01);

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    z = v.z;
    fake_now += 500;
    EXPECT_EQ(UpdateViewState(&v), 1);
    EXPECT_FLOAT_EQ(v.z, z);
}

TEST_F(View, InputCountsOutsideTheSpeedTableAreClamped)
{
    /* A release whose press was never seen counts below zero: no drift. */
    key(SDLK_UP, false);
    step(1.0);
    EXPECT_FLOAT_EQ(v.z, 45.0f);
    key(SDLK_UP, true); /* back to zero held */
    held.clear();
    step(0.1);

    /* All eight movement inputs at once: more than the table's six. */
    press({SDLK_s, SDLK_d, SDLK_a, SDLK_z, SDLK_UP, SDLK_DOWN});
    button(SDL_BUTTON_MIDDLE, true);
    button(SDL_BUTTON_RIGHT, true);
    step(1.0);
    EXPECT_FLOAT_EQ(v.z, 45.0f);
    press({SDLK_UP}); /* a ninth: forward wins, at the six-input speed */
    step(3.0);
    EXPECT_NEAR(v.vel_z, -3.26598632, 1e-3);
    button(SDL_BUTTON_MIDDLE, false);
    button(SDL_BUTTON_RIGHT, false);
}

TEST(ScaleRawValue, ChannelValueToBrightness)
{
    EXPECT_FLOAT_EQ(scaleRawValue(0), 0.2f);
    EXPECT_FLOAT_EQ(scaleRawValue(255), (float)(255 / 319.0 + 0.2));
    EXPECT_NEAR(scaleRawValue(255), 0.9994, 1e-4);
    EXPECT_FLOAT_EQ(scaleRawValue(-64), (float)(-64 / 319.0 + 0.2));
    EXPECT_FLOAT_EQ(scaleRawValue(319), 1.2f);
}

} // namespace
