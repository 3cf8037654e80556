/* pong_game_test.cpp -- the pong rules, the picture and the light frame,
 * driven through start_game, do_physics and render_frame. The window
 * tests use SDL's dummy video driver (an 8-bit software surface). */
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <math.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "pong/my_pong.h"

namespace {

/* A quiet field: ball parked in play far off the picture, paddles off
 * the picture, no trail. Tests then place what they need. */
void quiet_field()
{
    memset(frmbuf, 0, sizeof frmbuf);
    ball_pos_x = 1000;
    ball_pos_y = 1000;
    ball_spd_x = ball_spd_y = 0;
    pdl_pos_1 = pdl_pos_2 = last_pdl1_pos = last_pdl2_pos = -100;
    last_pdl1_frame = last_pdl2_frame = 0;
    frames = 100;
}

/* Ball in play at (x, y) with the given speed; paddles in the middle. */
void ball_at(double x, double y, double sx, double sy)
{
    quiet_field();
    pdl_pos_1 = pdl_pos_2 = last_pdl1_pos = last_pdl2_pos = 30;
    ball_pos_x = x;
    ball_pos_y = y;
    ball_spd_x = sx;
    ball_spd_y = sy;
}

/* What do_physics printed over `n` frames. */
std::string physics_output(int n)
{
    testing::internal::CaptureStdout();
    for (int i = 0; i < n; i++)
        do_physics();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

int light(int box, int channel)
{
    return master_light_data[box * LIGHT_CHANNELS_PER_BOX + channel];
}

int lit_channels()
{
    int n = 0;
    for (int c = 0; c < LIGHT_CHANNELS; c++)
        n += master_light_data[c] != 0;
    return n;
}

} // namespace

TEST(PongServe, LeavesCentreAtSpeedTwoNeverFlatterThanHalf)
{
    for (unsigned seed = 1; seed <= 2000; seed++) {
        srand(seed);
        ball_pos_x = ball_pos_y = -7;
        start_game();
        ASSERT_EQ(ball_pos_x, 30);
        ASSERT_EQ(ball_pos_y, 50);
        ASSERT_GE(fabs(ball_spd_y), 0.5) << "seed " << seed;
        ASSERT_NEAR(hypot(ball_spd_x, ball_spd_y), 2.0, 1e-9) << "seed " << seed;
    }
}

TEST(PongServe, GoesBothWaysAlongAndAcross)
{
    /* the angle covers a full turn: all four quadrants turn up */
    bool seen[2][2] = {};
    for (unsigned seed = 1; seed <= 400; seed++) {
        srand(seed);
        start_game();
        seen[ball_spd_x > 0][ball_spd_y > 0] = true;
    }
    EXPECT_TRUE(seen[0][0] && seen[0][1] && seen[1][0] && seen[1][1]);
}

TEST(PongPhysics, WallBounceOncePerContactGrowingBy01)
{
    ball_at(6, 50, -2, 0.5);
    EXPECT_EQ(physics_output(1), "Ball hit a wall\n");
    EXPECT_DOUBLE_EQ(ball_pos_x, 4); /* not corrected */
    EXPECT_DOUBLE_EQ(ball_spd_x, 2.1);
    /* still at x <= 5 next frame? moving away now: no second bounce */
    ball_pos_x = 2;
    EXPECT_EQ(physics_output(1), "");
    EXPECT_DOUBLE_EQ(ball_spd_x, 2.1);

    ball_at(54, 50, 2, 0.5);
    EXPECT_EQ(physics_output(1), "Ball hit a wall\n");
    EXPECT_DOUBLE_EQ(ball_spd_x, -2.1);
    EXPECT_EQ(physics_output(1), "");
}

TEST(PongPhysics, NoBounceInsideTheWalls)
{
    ball_at(8, 50, -1, 0.5); /* heading for the wall, reaches 7 */
    EXPECT_EQ(physics_output(1), "");
    EXPECT_DOUBLE_EQ(ball_spd_x, -1);
    ball_at(52, 50, 2, 0.5); /* reaches 54 */
    EXPECT_EQ(physics_output(1), "");
    EXPECT_DOUBLE_EQ(ball_spd_x, 2);
}

TEST(PongPhysics, RallySpeedsUpOnEveryBounce)
{
    ball_at(30, 50, 3, 0.5);
    double last = fabs(ball_spd_x);
    int bounces = 0;
    for (int i = 0; i < 60; i++) {
        do_physics();
        if (fabs(ball_spd_x) != last) {
            EXPECT_NEAR(fabs(ball_spd_x), last + 0.1, 1e-9);
            last = fabs(ball_spd_x);
            bounces++;
        }
    }
    EXPECT_GE(bounces, 3);
    EXPECT_GT(ball_pos_x, 0); /* still in play */
}

TEST(PongPhysics, Paddle1ReachesElevenColumnsNotTwelve)
{
    struct { double x; bool hit; } cases[] = {
        {41, true}, {41.9, true}, {42, false}, {19, true}, {18.1, true}, {18, false},
    };
    for (auto c : cases) {
        ball_at(c.x, 16, 0, -2); /* reaches y = 14, inside the zone */
        std::string out = physics_output(1);
        if (c.hit) {
            EXPECT_EQ(out, "Ball hit paddle 1\n") << "x " << c.x;
            EXPECT_DOUBLE_EQ(ball_spd_y, 2.1) << "x " << c.x;
        } else {
            EXPECT_EQ(out, "") << "x " << c.x;
            EXPECT_DOUBLE_EQ(ball_spd_y, -2) << "x " << c.x;
        }
    }
}

TEST(PongPhysics, Paddle2ReachesElevenColumnsNotTwelve)
{
    ball_at(19, 84, 0, 2);
    EXPECT_EQ(physics_output(1), "Ball hit paddle 2\n");
    EXPECT_DOUBLE_EQ(ball_spd_y, -2.1);
    ball_at(42, 84, 0, 2);
    EXPECT_EQ(physics_output(1), "");
    EXPECT_DOUBLE_EQ(ball_spd_y, 2);
}

TEST(PongPhysics, MissedBallIsTestedAgainWhileInTheZone)
{
    ball_at(42, 16, 0, -2);
    EXPECT_EQ(physics_output(1), ""); /* 12 columns: miss at y = 14 */
    pdl_pos_1 = 31;                   /* the player catches up */
    EXPECT_EQ(physics_output(1), "Ball hit paddle 1\n");
    EXPECT_DOUBLE_EQ(ball_pos_y, 12);
}

TEST(PongPhysics, MovingPaddlePushesTheBallSideways)
{
    ball_at(30, 16, 2, -2);
    last_pdl1_pos = 22;
    pdl_pos_1 = 30;
    last_pdl1_frame = 98; /* frames is 100: 8 columns over 2 frames */
    physics_output(1);
    EXPECT_DOUBLE_EQ(ball_spd_x, (3 * 2 + 4.0) / 4);
}

TEST(PongPhysics, MessageStampedThisFrameDoesNotDivideByZero)
{
    ball_at(30, 16, 0, -2);
    last_pdl1_pos = 26;
    pdl_pos_1 = 30;
    last_pdl1_frame = frames;
    physics_output(1);
    EXPECT_TRUE(std::isfinite(ball_spd_x));
    EXPECT_DOUBLE_EQ(ball_spd_x, 1);
}

TEST(PongPhysics, HitOnTheLeavingFrameStillLosesTheBall)
{
    ball_at(30, 1, 0, -2);
    EXPECT_EQ(physics_output(1), "Ball hit paddle 1\nBall lost\n");
    EXPECT_EQ(ball_pos_x, -1);
    EXPECT_EQ(ball_pos_y, -10);

    ball_at(30, 99, 0, 2);
    EXPECT_EQ(physics_output(1), "Ball hit paddle 2\nBall lost\n");
    EXPECT_EQ(ball_pos_x, -1);
}

TEST(PongPhysics, LostBallPausesFiftyNineFramesThenServesFromCentre)
{
    ball_at(50, 2, 0, -3); /* paddle at 30 is 20 columns away */
    EXPECT_EQ(physics_output(1), "Ball lost\n");
    EXPECT_EQ(physics_output(58), "");
    EXPECT_EQ(ball_pos_x, -59);
    EXPECT_EQ(physics_output(1), "Starting new game...\n");
    EXPECT_EQ(ball_pos_x, 30);
    EXPECT_EQ(ball_pos_y, 50);
    /* and the new ball is in play */
    EXPECT_EQ(physics_output(1), "");
    EXPECT_NE(ball_pos_y, 50);
}

TEST(PongPaddles, ValueToColumnWrapsIn32Bits)
{
    struct { int32_t v; int p1, p2; } table[] = {
        {-32768, 60, 0}, {0, 30, 30},      {32767, 1, 59},   {40000, -6, 66},
        {36000, -2, 62}, {4000, 27, 33},   {-4000, 34, 26},
        /* v * 30 wraps: 2^31-1 times 30 is -30 in 32 bits */
        {INT32_MAX, 31, 29}, {INT32_MIN, 30, 30},
    };
    for (auto t : table) {
        EXPECT_EQ(paddle1_column(t.v), t.p1) << "v " << t.v;
        EXPECT_EQ(paddle2_column(t.v), t.p2) << "v " << t.v;
    }
}

TEST(PongPaddles, DatagramMovesPaddleAndStampsTheFrame)
{
    quiet_field();
    pdl_pos_1 = pdl_pos_2 = 30;
    frames = 7;
    /* value 32767 little-endian, button 1 (ignored) */
    const unsigned char full[5] = {0xff, 0x7f, 0x00, 0x00, 0x01};
    EXPECT_EQ(take_paddle_datagram(1, full, 5), 1);
    EXPECT_EQ(pdl_pos_1, 1);
    EXPECT_EQ(last_pdl1_pos, 30);
    EXPECT_EQ(last_pdl1_frame, 7u);
    EXPECT_EQ(pdl_pos_2, 30); /* the other paddle is untouched */

    frames = 9;
    EXPECT_EQ(take_paddle_datagram(2, full, 4), 1); /* button byte optional */
    EXPECT_EQ(pdl_pos_2, 59);
    EXPECT_EQ(last_pdl2_frame, 9u);
}

TEST(PongPaddles, DatagramShorterThanFourBytesIsIgnored)
{
    quiet_field();
    pdl_pos_1 = last_pdl1_pos = 30;
    last_pdl1_frame = 3;
    const unsigned char part[3] = {0xff, 0x7f, 0x00};
    for (size_t n = 0; n < 4; n++)
        EXPECT_EQ(take_paddle_datagram(1, part, n), 0);
    EXPECT_EQ(pdl_pos_1, 30);
    EXPECT_EQ(last_pdl1_frame, 3u);
}

TEST(PongRender, BallAt35_45LightsBox4Channel3)
{
    quiet_field();
    ball_pos_x = 35;
    ball_pos_y = 45;
    render_frame();
    EXPECT_EQ(light(4, 3), 81 * 255 / 100); /* 206 */
    EXPECT_EQ(lit_channels(), 1);
    /* rows 41..49, columns 31..39 in the picture */
    for (int i = 38; i <= 52; i++)
        for (int j = 28; j <= 42; j++) {
            bool in = i >= 41 && i <= 49 && j >= 31 && j <= 39;
            ASSERT_EQ(frmbuf[i * PONG_WIDTH + j], in ? 255 : 0) << i << "," << j;
        }
}

TEST(PongRender, BallWithFractionCoversTenPixels)
{
    quiet_field();
    ball_pos_x = 34.5;
    ball_pos_y = 44.5;
    render_frame();
    int lit = 0;
    for (int k = 0; k < PONG_WIDTH * PONG_HEIGHT; k++)
        lit += frmbuf[k] == 255;
    EXPECT_EQ(lit, 100);
}

TEST(PongRender, Paddle1SpillsIntoBox1Paddle2StaysInBox9)
{
    quiet_field();
    pdl_pos_1 = 35;
    render_frame();
    EXPECT_EQ(light(0, 3), 255);
    EXPECT_EQ(light(1, 3), 25); /* the paddle's eleventh row */
    EXPECT_EQ(light(0, 2), 10 * 255 / 100);
    EXPECT_EQ(light(0, 4), 20 * 255 / 100);

    quiet_field();
    pdl_pos_2 = 35;
    render_frame();
    EXPECT_EQ(light(9, 3), 255);
    EXPECT_EQ(light(8, 3), 0);
    EXPECT_EQ(lit_channels(), 3);
}

TEST(PongRender, PaddleFarOffThePictureDrawsNothing)
{
    quiet_field();
    pdl_pos_1 = -6; /* v = 40000: off the picture, columns -12..0 */
    pdl_pos_2 = 65536;
    render_frame();
    EXPECT_EQ(light(0, 0), 10 * 255 / 100);
    EXPECT_EQ(light(1, 0), 2); /* row 10, column 0: 255 / 100 */
    EXPECT_EQ(lit_channels(), 2);
}

TEST(PongRender, TrailFadesBySevenEighths)
{
    quiet_field();
    ball_pos_x = 35;
    ball_pos_y = 45;
    render_frame();
    ball_pos_x = 1000; /* the ball moves on, off the picture */
    int expect = 255;
    for (int f = 0; f < 5; f++) {
        render_frame();
        expect = expect * 7 >> 3;
        EXPECT_EQ(frmbuf[45 * PONG_WIDTH + 35], expect);
        EXPECT_EQ(light(4, 3), 81 * expect / 100);
    }
    /* paddle rows do not keep trails */
    quiet_field();
    ball_pos_x = 35;
    ball_pos_y = 5;
    render_frame();
    EXPECT_GT(light(0, 3), 0);
    ball_pos_x = 1000;
    render_frame();
    EXPECT_EQ(light(0, 3), 0);
}

TEST(PongRender, LostBallFlashesInBlocksOfSixteenFrames)
{
    quiet_field();
    ball_pos_x = -1;
    std::string seen;
    for (int k = -1; k >= -59; k--) {
        ASSERT_EQ(ball_pos_x, k);
        render_frame();
        int level = master_light_data[0];
        for (int c = 1; c < LIGHT_CHANNELS; c++)
            ASSERT_EQ(master_light_data[c], level) << "k " << k;
        bool on = (k >= -16) || (k <= -33 && k >= -48);
        EXPECT_EQ(level, on ? 255 : 0) << "k " << k;
        physics_output(1);
    }
    EXPECT_EQ(ball_pos_x, 30); /* served again after -59 */
}

class PongWindow : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        ASSERT_EQ(open_window(), 0);
        ASSERT_NE(screen, nullptr);
    }
    unsigned char pixel(int i, int j)
    {
        return ((unsigned char *)screen->pixels)[i * screen->pitch + j];
    }
};

TEST_F(PongWindow, IsSixtyByHundredEightBitWithGreyPalette)
{
    EXPECT_EQ(screen->w, 60);
    EXPECT_EQ(screen->h, 100);
    EXPECT_EQ(screen->format->BitsPerPixel, 8);
    SDL_Palette *pal = screen->format->palette;
    ASSERT_NE(pal, nullptr);
    for (int n : {0, 1, 128, 206, 255}) {
        EXPECT_EQ(pal->colors[n].r, n);
        EXPECT_EQ(pal->colors[n].g, n);
        EXPECT_EQ(pal->colors[n].b, n);
    }
}

TEST_F(PongWindow, ShowsThePictureAndKeepsItWhileFlashing)
{
    quiet_field();
    pdl_pos_1 = 35;
    ball_pos_x = 35;
    ball_pos_y = 45;
    render_frame();
    render_frame(); /* one frame of trail behind nothing: ball stays */
    for (int i = 0; i < PONG_HEIGHT; i++)
        for (int j = 0; j < PONG_WIDTH; j++)
            ASSERT_EQ(pixel(i, j), frmbuf[i * PONG_WIDTH + j]) << i << "," << j;
    EXPECT_EQ(pixel(45, 35), 255);
    EXPECT_EQ(pixel(5, 35), 255);

    unsigned char before[PONG_WIDTH * PONG_HEIGHT];
    for (int i = 0; i < PONG_HEIGHT; i++)
        for (int j = 0; j < PONG_WIDTH; j++)
            before[i * PONG_WIDTH + j] = pixel(i, j);

    ball_pos_x = -1; /* lost: the lights flash, the window stays */
    for (int k = 0; k < 30; k++) {
        render_frame();
        physics_output(1);
    }
    for (int i = 0; i < PONG_HEIGHT; i++)
        for (int j = 0; j < PONG_WIDTH; j++)
            ASSERT_EQ(pixel(i, j), before[i * PONG_WIDTH + j]) << i << "," << j;
}

namespace {

/* A bound UDP socket on a free port of 127.0.0.1 and its address. */
int paddle_socket(sockaddr_in *addr)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    memset(addr, 0, sizeof *addr);
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)addr, sizeof *addr);
    socklen_t len = sizeof *addr;
    getsockname(s, (sockaddr *)addr, &len);
    return s;
}

void send_value(const sockaddr_in &to, int32_t v)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    unsigned char d[5];
    memcpy(d, &v, 4);
    d[4] = 0;
    sendto(s, d, sizeof d, 0, (const sockaddr *)&to, sizeof to);
    close(s);
}

void quiet_alarm(int) {}

} // namespace

class PongClock : public testing::Test {
protected:
    int s1 = -1, s2 = -1;
    sockaddr_in a1, a2;
    void SetUp() override
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_TIMER), 0);
        s1 = paddle_socket(&a1);
        s2 = paddle_socket(&a2);
        srand(3);
        reset_game();
    }
    void TearDown() override
    {
        close(s1);
        close(s2);
        SDL_Quit();
    }
};

TEST_F(PongClock, DatagramsWaitingAreTakenAndStampedWithTheFrame)
{
    send_value(a1, 0);
    send_value(a1, 4000);
    send_value(a1, 32767);
    send_value(a2, -32768);
    testing::internal::CaptureStdout();
    frame_loop(s1, s2, 3);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(frames, 3u);
    EXPECT_EQ(pdl_pos_1, 1);
    EXPECT_EQ(last_pdl1_pos, 27); /* the one before the latest */
    EXPECT_EQ(last_pdl1_frame, 0u); /* all taken in frame 0's wait */
    EXPECT_EQ(pdl_pos_2, 0);
    EXPECT_EQ(last_pdl2_frame, 0u);
}

TEST_F(PongClock, ShortDatagramsDoNotMoveThePaddles)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sendto(s, "\xff\x7f", 2, 0, (sockaddr *)&a1, sizeof a1);
    sendto(s, "", 0, 0, (sockaddr *)&a2, sizeof a2);
    close(s);
    testing::internal::CaptureStdout();
    frame_loop(s1, s2, 2);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pdl_pos_1, 30);
    EXPECT_EQ(pdl_pos_2, 30);
}

/* A select interrupted by a signal leaves its sets as they went in (both
 * sockets marked); reading them then would block the frame clock until a
 * datagram came. The loop must go on without one. */
TEST_F(PongClock, InterruptedWaitDoesNotReadTheSockets)
{
    pid_t child = fork();
    if (child == 0) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = quiet_alarm;
        /* select fails with EINTR even so; a read would be restarted */
        sa.sa_flags = SA_RESTART;
        sigaction(SIGALRM, &sa, nullptr);
        itimerval every{{0, 3000}, {0, 3000}};
        setitimer(ITIMER_REAL, &every, nullptr);
        if (!freopen("/dev/null", "w", stdout))
            _exit(3);
        frame_loop(s1, s2, 10);
        _exit(pdl_pos_1 == 30 && pdl_pos_2 == 30 ? 0 : 2);
    }
    int status = -1;
    bool ended = false;
    for (int i = 0; i < 500 && !ended; i++) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended)
            usleep(10000);
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended) << "the frame loop blocked in a read";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
