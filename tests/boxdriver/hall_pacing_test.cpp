/* hall_pacing_test.cpp -- the serial back-end pacing itself to the line
 * (a pty): a frame that comes while the one before is still on the line
 * waits, the newest of several wins, and it goes out once the line is
 * free; with pacing off every frame is written as it comes. */
#include <gtest/gtest.h>
#include <sys/select.h>

#include "boxdriver/box_support.h"
#include "boxdriver/hall.h"
#include "boxline/line.h"

using box_test::frame_data;
using box_test::level_byte;
using box_test::read_bytes;

namespace {

const long long FRAME_NS = boxline_line_ns(BOX_BAUD, BOXLINE_FRAME_BYTES);

long long now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

class BoxPacing : public ::testing::Test {
protected:
    box_test::Pty line;
    void SetUp() override
    {
        ASSERT_TRUE(line.open_pair());
        ASSERT_EQ(hall_set_device(line.path.c_str()), 0);
        ASSERT_EQ(init_lights(), 0);
    }
    void TearDown() override
    {
        hall_line_pace(0);
        deinit_lights();
        line.close_pair();
    }
    void render_all(int level)
    {
        int values[60];
        for (int &v : values)
            v = level;
        renderFrame(values);
    }
};

TEST_F(BoxPacing, TheNewestFrameWaitsForTheLineAndGoesOutWhenItIsFree)
{
    hall_line_pace(1);
    long long written0, replaced0, written, replaced;
    hall_line_counts(&written0, &replaced0);
    /* Three frames at once; tried again should the machine stall between
     * them for longer than the line takes a frame. */
    long long took = 0;
    for (int attempt = 0; attempt < 5; attempt++) {
        box_test::drain(line.master);
        usleep(FRAME_NS / 1000 * 2);  /* the line is free */
        hall_line_counts(&written0, &replaced0);
        long long from = now_ns();
        render_all(10);
        render_all(20);
        render_all(30);
        took = now_ns() - from;
        if (took < FRAME_NS)
            break;
        hall_line_service();
    }
    ASSERT_LT(took, FRAME_NS);
    auto first = frame_data(read_bytes(line.master, 90, 5000));
    ASSERT_EQ(first.size(), 60u);
    EXPECT_EQ(first[0], level_byte(10)) << "the first goes out at once";

    /* the loop is told to wake when the line frees, within a frame time */
    struct timeval timeout = {10, 0};
    ASSERT_EQ(hall_line_timeout(&timeout), 1);
    EXPECT_EQ(timeout.tv_sec, 0);
    EXPECT_LE(timeout.tv_usec, FRAME_NS / 1000 + 1);
    hall_line_counts(&written, &replaced);
    EXPECT_EQ(written - written0, 1);
    EXPECT_EQ(replaced - replaced0, 1) << "20 was replaced by 30";

    /* once the time is up, 30 goes out */
    select(0, nullptr, nullptr, nullptr, &timeout);
    hall_line_service();
    auto second = frame_data(read_bytes(line.master, 90, 5000));
    ASSERT_EQ(second.size(), 60u);
    EXPECT_EQ(second[0], level_byte(30));
    hall_line_counts(&written, &replaced);
    EXPECT_EQ(written - written0, 2);
    timeout = {10, 0};
    EXPECT_EQ(hall_line_timeout(&timeout), 0) << "nothing waits now";
    EXPECT_EQ(timeout.tv_sec, 10);
    EXPECT_TRUE(read_bytes(line.master, 1, 100).empty()) << "20 never went out";
}

TEST_F(BoxPacing, WithoutPacingEveryFrameIsWrittenAsItComes)
{
    render_all(10);
    render_all(20);
    render_all(30);
    for (int level : {10, 20, 30}) {
        auto f = frame_data(read_bytes(line.master, 90, 5000));
        ASSERT_EQ(f.size(), 60u);
        EXPECT_EQ(f[0], level_byte(level));
    }
    struct timeval timeout = {10, 0};
    EXPECT_EQ(hall_line_timeout(&timeout), 0);
}

} // namespace
