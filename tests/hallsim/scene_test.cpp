/* scene_test.cpp -- the hallway picture, read back from a real OpenGL
 * context (Mesa under a private Xvfb). The textures are plain white, so
 * a surface's pixel shows its brightness directly: 0.2 for a channel at
 * 0 is 51, full is 255. Each channel must light exactly its own patches. */
#include <gtest/gtest.h>

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "hallsim/hall.h"
#include "sim_support.h"
#include "support/xvfb.h"

using sim_support::image;
using sim_support::rgb;

namespace {

/* An axis-aligned patch of wall or ceiling in world coordinates (one of
 * its three extents is flat). */
struct patch {
    double x0, x1, y0, y1, z0, z1;
    double cx() const { return (x0 + x1) / 2; }
    double cy() const { return (y0 + y1) / 2; }
    double cz() const { return (z0 + z1) / 2; }
};

/* Where channel k of box b should show: the hallway's layout. */
std::vector<patch> patches_of(int channel)
{
    int b = channel / 6, k = channel % 6;
    double wall = 39.79 - 8.6 * b, door = 35.49 - 8.6 * b, ceil = 38.7 - 8.6 * b;
    double side = (k < 3) ? -1.95 : 1.95;
    switch (k) {
    case 0:
    case 5: /* lower half of the wall section */
        return {{side, side, -3.301, 0, wall - 3.211, wall + 3.211}};
    case 1:
    case 4: /* upper half, and the band over the door after it */
        return {{side, side, 0, 3.301, wall - 3.211, wall + 3.211},
                {side, side, 2.85, 3.301, door - 1.091, door + 1.091}};
    case 2:
        return {{-1.952, 0, 3.3, 3.3, ceil - 4.3, ceil + 4.3}};
    default:
        return {{0, 1.952, 3.3, 3.3, ceil - 4.3, ceil + 4.3}};
    }
}

view_state looking_at(const patch &p)
{
    view_state v{};
    if (p.x0 == p.x1) { /* a wall: stand at the far side, face it */
        v.x = p.x0 < 0 ? 1.8f : -1.8f;
        v.y = (float)std::clamp(p.cy(), -3.18, 3.18);
        v.z = (float)p.cz();
        v.yaw = p.x0 < 0 ? 90.0f : 270.0f;
    } else {            /* the ceiling: look straight up */
        v.x = (float)p.cx();
        v.z = (float)p.cz();
        v.pitch = 90.0f;
    }
    return v;
}

view_state start_view()
{
    view_state v{};
    v.y = 1.5f;
    v.z = 45.0f;
    return v;
}

struct frame {
    int v[60] = {};
};

frame only(int channel, int value = 255)
{
    frame f;
    f.v[channel] = value;
    return f;
}

/* Pixel of the world point under the last drawn view; {-1..} if off screen. */
rgb probe(const image &im, double x, double y, double z)
{
    double wx, wy;
    if (!sim_support::project(x, y, z, &wx, &wy) || wx < 0 || wy < 0 || wx >= im.w ||
        wy >= im.h)
        return {-1, -1, -1};
    return im.at((int)wx, (int)wy);
}

bool is_grey(rgb c, int v, int tol = 3)
{
    return abs(c.r - v) <= tol && abs(c.g - v) <= tol && abs(c.b - v) <= tol;
}

struct screen_box {
    double x0, y0, x1, y1;
};

screen_box box_of(const patch &p)
{
    screen_box b{1e9, 1e9, -1e9, -1e9};
    for (double x : {p.x0, p.x1})
        for (double y : {p.y0, p.y1})
            for (double z : {p.z0, p.z1}) {
                double wx, wy;
                sim_support::project(x, y, z, &wx, &wy);
                b.x0 = std::min(b.x0, wx);
                b.y0 = std::min(b.y0, wy);
                b.x1 = std::max(b.x1, wx);
                b.y1 = std::max(b.y1, wy);
            }
    return b;
}

/* Count pixels that differ between a and b; every one of them must lie
 * on the screen box of one of `allowed` (2 pixels of slack for edges). */
long changed_only_inside(const image &a, const image &b, const std::vector<patch> &allowed,
                         long *outside)
{
    std::vector<screen_box> boxes;
    for (auto &p : allowed)
        boxes.push_back(box_of(p));
    long changed = 0;
    *outside = 0;
    for (int y = 0; y < a.h; y++)
        for (int x = 0; x < a.w; x++) {
            rgb p = a.at(x, y), q = b.at(x, y);
            if (abs(p.r - q.r) + abs(p.g - q.g) + abs(p.b - q.b) <= 6)
                continue;
            changed++;
            bool inside = false;
            for (auto &s : boxes)
                inside |= x >= s.x0 - 2 && x <= s.x1 + 2 && y >= s.y0 - 2 && y <= s.y1 + 2;
            *outside += !inside;
        }
    return changed;
}

class Scene : public ::testing::Test {
protected:
    void SetUp() override
    {
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
        dir = sim_support::texture_dir();
        ASSERT_NE(getcwd(old_dir, sizeof old_dir), nullptr);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        ASSERT_EQ(init_lights(), 0);
        opened = true;
    }
    void TearDown() override
    {
        if (opened)
            deinit_lights();
        if (chdir(old_dir) != 0)
            perror("chdir");
        sim_support::remove_dir(dir);
        testing_xvfb::stop(xvfb);
    }

    image draw(view_state v, frame f)
    {
        hall_draw_scene(&v, f.v);
        return sim_support::read_back_buffer();
    }

    testing_xvfb::Server xvfb;
    std::string dir;
    char old_dir[PATH_MAX];
    bool opened = false;
};

TEST_F(Scene, DarkFrameShowsWallsAndCeilingAtOneFifthAndFixedSurfacesInTheirColours)
{
    /* Box 0 from the middle of the hallway, facing the left wall's door. */
    view_state v{};
    v.x = 1.8f;
    v.z = 35.49f;
    v.yaw = 90.0f;
    image im = draw(v, frame{});
    /* wall beside the door, lower and upper */
    EXPECT_TRUE(is_grey(probe(im, -1.95, -1.0, 37.5), 51));
    EXPECT_TRUE(is_grey(probe(im, -1.95, 1.0, 37.5), 51));
    /* door leaf: wood texture (white here) at full colour */
    EXPECT_TRUE(is_grey(probe(im, -1.95 + 0.09, 0.0, 35.49), 255));
    /* casing front of the trim: its own colour 0.3, 0.27, 0.16 */
    rgb casing = probe(im, -1.95 + 0.03, 0.0, 35.49 + 1.0455);
    EXPECT_NEAR(casing.r, 0.3 * 255, 2);
    EXPECT_NEAR(casing.g, 0.27 * 255, 2);
    EXPECT_NEAR(casing.b, 0.16 * 255, 2);

    image up = draw(start_view(), frame{});
    EXPECT_TRUE(is_grey(probe(up, -1.0, 3.3, 30.0), 51)) << "ceiling";
    EXPECT_TRUE(is_grey(probe(up, 0.0, -3.3, 25.0), 255)) << "floor, white carpet";
}

TEST_F(Scene, FirstChannelLightsTheLowerLeftWallOfTheFirstBoxOnly)
{
    /* From the far side at mid height the whole wall section shows,
     * lower and upper half. */
    view_state v{};
    v.x = 1.8f;
    v.z = 39.79f;
    v.yaw = 90.0f;
    image dark = draw(v, frame{});
    image lit = draw(v, only(0));
    EXPECT_TRUE(is_grey(probe(dark, -1.95, -1.0, 39.79), 51));
    EXPECT_GE(probe(lit, -1.95, -1.0, 39.79).r, 250);
    EXPECT_TRUE(is_grey(probe(lit, -1.95, 1.0, 39.79), 51)) << "upper half stays dark";
    long outside;
    EXPECT_GT(changed_only_inside(dark, lit, patches_of(0), &outside), 10000);
    EXPECT_EQ(outside, 0);
}

TEST_F(Scene, SecondChannelLightsUpperWallAndTheBandOverTheFollowingDoor)
{
    view_state v{};
    v.x = 1.8f;
    v.y = 2.4f;
    v.z = 37.6f;
    v.yaw = 90.0f;
    image dark = draw(v, frame{});
    image lit = draw(v, only(1));
    EXPECT_TRUE(is_grey(probe(dark, -1.95, 1.65, 38.5), 51));
    EXPECT_TRUE(is_grey(probe(dark, -1.95, 3.07, 36.0), 51));
    EXPECT_GE(probe(lit, -1.95, 1.65, 38.5).r, 250) << "upper wall";
    EXPECT_GE(probe(lit, -1.95, 3.07, 36.0).r, 250) << "band over the door";
    long outside;
    EXPECT_GT(changed_only_inside(dark, lit, patches_of(1), &outside), 1000);
    EXPECT_EQ(outside, 0);
}

TEST_F(Scene, LastChannelLightsTheLowerRightWallOfTheFarBox)
{
    patch p = patches_of(59)[0];
    EXPECT_NEAR(p.cz(), -37.61, 1e-9);
    view_state v = looking_at(p);
    image dark = draw(v, frame{});
    image lit = draw(v, only(59));
    EXPECT_TRUE(is_grey(probe(dark, 1.95, -1.65, -37.61), 51));
    EXPECT_GE(probe(lit, 1.95, -1.65, -37.61).r, 250);
}

TEST_F(Scene, EveryChannelLightsItsOwnPatchesAndNothingElse)
{
    image dark_start = draw(start_view(), frame{});
    for (int c = 0; c < 60; c++) {
        SCOPED_TRACE("channel " + std::to_string(c));
        /* Down the whole hallway: whatever changes is on the patch. */
        image lit = draw(start_view(), only(c));
        long outside;
        EXPECT_GT(changed_only_inside(dark_start, lit, patches_of(c), &outside), 0);
        EXPECT_EQ(outside, 0);

        /* Face on: the middle of each patch goes from 51 to full. */
        for (const patch &p : patches_of(c)) {
            view_state v = looking_at(p);
            image dark = draw(v, frame{});
            EXPECT_TRUE(is_grey(probe(dark, p.cx(), p.cy(), p.cz()), 51));
            image on = draw(v, only(c));
            EXPECT_GE(probe(on, p.cx(), p.cy(), p.cz()).r, 250);
        }
    }
}

TEST_F(Scene, ValuesBeyondTheByteRangeAreDrawnClamped)
{
    patch p = patches_of(0)[0];
    view_state v = looking_at(p);
    image over = draw(v, only(0, 1000));
    EXPECT_TRUE(is_grey(probe(over, p.cx(), p.cy(), p.cz()), 255));
    image under = draw(v, only(0, -1000));
    EXPECT_TRUE(is_grey(probe(under, p.cx(), p.cy(), p.cz()), 0));
}

TEST_F(Scene, DrawGLSceneShowsThePictureOnTheScreen)
{
    view_state v = start_view();
    frame all;
    for (int &x : all.v)
        x = 255;
    DrawGLScene(&v, frame{}.v);
    image dark = sim_support::screenshot();
    ASSERT_EQ(dark.w, 640);
    EXPECT_GT(sim_support::count_grey(dark, 51), 20000);
    DrawGLScene(&v, all.v);
    image lit = sim_support::screenshot();
    EXPECT_LT(sim_support::count_grey(lit, 51), 100);
}

uint32_t fake_now = 0;
uint32_t fake_clock(void)
{
    return fake_now;
}

/* light_state draws through renderFrame, from the start view. */
class LightState : public Scene {
protected:
    void SetUp() override
    {
        Scene::SetUp();
        /* The pacing deadline lives as long as the process; the cases
         * count from a fresh one (ctest runs each case on its own). */
        if (hall_frames_drawn() != 0)
            GTEST_SKIP() << "needs a back-end that has not drawn yet";
        hall_set_clock(fake_clock);
    }
    void TearDown() override
    {
        hall_set_clock(nullptr);
        Scene::TearDown();
    }
    /* Brightness at the middle of each patch of `channel` on the screen. */
    std::vector<int> shown(const image &screen, int channel)
    {
        std::vector<int> out;
        for (const patch &p : patches_of(channel)) {
            int v = probe(screen, p.cx(), p.cy(), p.cz()).r;
            if (v >= 0) /* skip what is off the screen */
                out.push_back(v);
        }
        return out;
    }
};

TEST_F(LightState, SetsTheSixChannelsOfTheBoxAndDrawsThem)
{
    fake_now = 0;
    uint32_t before = hall_frames_drawn();
    EXPECT_EQ(light_state(3, 1), 0);
    EXPECT_EQ(hall_frames_drawn(), before + 1);
    glFinish();
    image screen = sim_support::screenshot();
    for (int c = 18; c <= 23; c++)
        EXPECT_EQ(shown(screen, c).size(), patches_of(c).size()) << "box 3 in sight";
    for (int c = 0; c < 60; c++)
        for (int v : shown(screen, c)) {
            if (c >= 18 && c <= 23)
                EXPECT_GE(v, 250) << "channel " << c;
            else
                EXPECT_NEAR(v, 51, 3) << "channel " << c;
        }

    fake_now = 28;
    EXPECT_EQ(light_state(3, 0), 0);
    glFinish();
    screen = sim_support::screenshot();
    for (int c = 18; c <= 23; c++)
        for (int v : shown(screen, c))
            EXPECT_NEAR(v, 51, 3) << "channel " << c << " off again";
}

TEST_F(LightState, DrawsAtMostOncePer28MillisecondsAndCatchesUpAfterAPause)
{
    fake_now = 0;
    uint32_t start = hall_frames_drawn();
    light_state(3, 1); /* draws; next at 28 */
    for (uint32_t t : {0u, 10u, 27u}) {
        fake_now = t;
        light_state(3, 1);
    }
    EXPECT_EQ(hall_frames_drawn() - start, 1u);
    fake_now = 28;
    light_state(3, 1);
    light_state(3, 1);
    EXPECT_EQ(hall_frames_drawn() - start, 2u);

    /* After a pause the deadline moves on from the last one, not from
     * now: every call draws until 56, 84, ... 980 are used up. */
    fake_now = 1000;
    for (int i = 0; i < 100; i++)
        light_state(3, 1);
    EXPECT_EQ(hall_frames_drawn() - start, 2u + 34u);
    fake_now = 1008;
    light_state(3, 1);
    light_state(3, 1);
    EXPECT_EQ(hall_frames_drawn() - start, 2u + 35u);
}

TEST_F(LightState, BoxOutsideTheHallwayChangesNothing)
{
    fake_now = 0;
    for (int box : {-1, 10, 11, INT_MAX, INT_MIN}) {
        EXPECT_EQ(light_state(box, 1), 0);
        fake_now += 28;
    }
    glFinish();
    image screen = sim_support::screenshot();
    for (int c = 0; c < 60; c++)
        for (int v : shown(screen, c))
            EXPECT_NEAR(v, 51, 3) << "channel " << c;
}

TEST_F(LightState, OnValuesBeyondOneSaturateInsteadOfOverflowing)
{
    fake_now = 0;
    light_state(3, INT_MAX);
    glFinish();
    image screen = sim_support::screenshot();
    for (int c = 18; c <= 23; c++)
        for (int v : shown(screen, c))
            EXPECT_GE(v, 250) << "channel " << c;
    fake_now = 28;
    light_state(3, INT_MIN);
    glFinish();
    screen = sim_support::screenshot();
    for (int c = 18; c <= 23; c++)
        for (int v : shown(screen, c))
            EXPECT_EQ(v, 0) << "channel " << c;
}

TEST_F(Scene, RenderFrameDrawsCountsAndGoesOn)
{
    uint32_t before = hall_frames_drawn();
    frame f;
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(renderFrame(f.v), 0);
    EXPECT_EQ(hall_frames_drawn(), before + 5);
}

} // namespace
