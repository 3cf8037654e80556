/* feed_sub_test.cpp -- the subscription record over real sockets on
 * 127.0.0.1: where it binds, whom it asks, when it renews, what it reads. */
#include <gtest/gtest.h>

#include <vector>

#include "support/udp.h"
#include "wire/feed_sub.h"
#include "wire/wire.h"

namespace {

using namespace testing_udp;

std::vector<unsigned char> frame_of(int first)
{
    std::vector<unsigned char> d(WIRE_FRAME_BYTES);
    for (int i = 0; i < WIRE_FRAME_BYTES; i++)
        d[i] = (unsigned char)(first + i);
    return d;
}

/* A port p such that p and p + 1 were both free a moment ago. */
unsigned short free_pair()
{
    for (int tries = 0; tries < 50; tries++) {
        unsigned short p = free_port();
        int a = hold_port(p), b = hold_port(p + 1);
        if (a >= 0)
            close(a);
        if (b >= 0)
            close(b);
        if (a >= 0 && b >= 0)
            return p;
    }
    return 0;
}

TEST(FeedSub, BindsTheFirstFreePortOfItsRangeAndAsksItsOwnProducer)
{
    int producer_a = open_socket(), producer_b = open_socket();
    unsigned short first = free_pair();
    ASSERT_NE(first, 0);
    int held = hold_port(first);
    ASSERT_GE(held, 0);

    /* Two records in one process, each with its own producer. */
    feed_sub a, b;
    feed_sub_init(&a);
    feed_sub_init(&b);
    ASSERT_EQ(feed_sub_set_target(&a, "127.0.0.1", local_port(producer_a)), 0);
    ASSERT_EQ(feed_sub_set_target(&b, "127.0.0.1", local_port(producer_b)), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(feed_sub_open(&a, first, first + 1), first + 1) << "the held port is passed over";
    testing::internal::GetCapturedStderr();
    ASSERT_GT(feed_sub_open(&b, 0, 0), 0);
    feed_sub_request(&a);
    feed_sub_request(&b);

    bool got;
    unsigned short from = 0;
    EXPECT_EQ(receive(producer_a, 1000, &got, &from), std::vector<unsigned char>{WIRE_REQUEST_BYTE});
    EXPECT_EQ(from, a.local_port);
    receive(producer_b, 1000, &got, &from);
    ASSERT_TRUE(got);
    EXPECT_EQ(from, b.local_port);
    EXPECT_EQ(drain(producer_a) + drain(producer_b), 0) << "each asked its own producer once";

    /* All ports of a range taken: refused, record closed. */
    testing::internal::CaptureStderr();
    EXPECT_EQ(feed_sub_open(&b, first, first), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(b.sock, -1);
    EXPECT_EQ(feed_sub_set_target(&b, "localhost", 1), -1);
    EXPECT_STREQ(b.host, "127.0.0.1");

    feed_sub_close(&a);
    feed_sub_close(&b);
    close(held);
    close(producer_a);
    close(producer_b);
}

TEST(FeedSub, ReadNewestDrainsAndKeepsTheLastFrame)
{
    int producer = open_socket();
    feed_sub s;
    feed_sub_init(&s);
    ASSERT_GT(feed_sub_open(&s, 0, 0), 0);
    int values[60];
    EXPECT_EQ(feed_sub_read_newest(&s, values, 64), 0) << "nothing waiting, no blocking";

    for (int k = 0; k < 5; k++)
        send_to(producer, s.local_port, frame_of(k * 10).data(), WIRE_FRAME_BYTES);
    unsigned char small[3] = {1, 2, 3};
    send_to(producer, s.local_port, small, sizeof small); /* passed over */
    usleep(20000);
    testing::internal::CaptureStderr();
    EXPECT_EQ(feed_sub_read_newest(&s, values, 64), 5);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(values[0], 40);
    EXPECT_EQ(values[59], 99);
    EXPECT_EQ(s.frames, 5);
    EXPECT_GT(s.frame_at, 0);

    /* The bound holds: a flood is taken a slice per call. */
    for (int k = 0; k < 10; k++)
        send_to(producer, s.local_port, frame_of(k).data(), WIRE_FRAME_BYTES);
    usleep(20000);
    EXPECT_EQ(feed_sub_read_newest(&s, values, 4), 4);
    EXPECT_EQ(values[0], 3);
    EXPECT_EQ(feed_sub_read_newest(&s, values, 64), 6);
    EXPECT_EQ(values[0], 9);
    feed_sub_close(&s);
    close(producer);
}

TEST(FeedSub, RenewsEveryRenewTurnsAndAfterTwoSecondsIdle)
{
    int producer = open_socket();
    feed_sub s;
    feed_sub_init(&s);
    feed_sub_set_target(&s, "127.0.0.1", local_port(producer));
    ASSERT_GT(feed_sub_open(&s, 0, 0), 0);
    feed_sub_request(&s);
    ASSERT_EQ(drain(producer), 1);

    int renewed = 0;
    for (int t = 1; t < WIRE_RENEW_TURNS; t++)
        renewed += feed_sub_turn(&s);
    /* The turns ran in far less than two seconds. */
    EXPECT_EQ(renewed, 0);
    EXPECT_EQ(drain(producer), 0);
    EXPECT_EQ(feed_sub_turn(&s), 1);
    bool got;
    receive(producer, 1000, &got);
    EXPECT_TRUE(got) << "the 250th turn asks again";

    /* A slow loop still renews within two seconds. */
    usleep((useconds_t)(WIRE_RENEW_SECONDS * 1e6) + 50000);
    EXPECT_EQ(feed_sub_turn(&s), 1);
    receive(producer, 1000, &got);
    EXPECT_TRUE(got);

    /* Half a second is enough while nothing comes, not while frames do. */
    usleep((useconds_t)(WIRE_RENEW_QUIET_SECONDS * 1e6) + 50000);
    EXPECT_EQ(feed_sub_turn(&s), 1) << "a quiet feed is asked again soon";
    receive(producer, 1000, &got);
    send_to(producer, s.local_port, frame_of(1).data(), WIRE_FRAME_BYTES);
    usleep(20000);
    int values[60];
    ASSERT_EQ(feed_sub_read_newest(&s, values, 4), 1);
    usleep((useconds_t)(WIRE_RENEW_QUIET_SECONDS * 1e6) + 50000);
    EXPECT_EQ(feed_sub_turn(&s), 0) << "a live feed keeps the slow rhythm";
    feed_sub_close(&s);
    close(producer);
}

} // namespace
