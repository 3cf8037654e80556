/* hall_test.cpp -- the network light server through its contract, with
 * real subscriber sockets on 127.0.0.1.
 *
 * The server keeps its state in the process; CTest runs every TEST in a
 * process of its own, so each starts from a fresh server. */
#include <gtest/gtest.h>

#include <vector>

#include "netserver/hall.h"
#include "support/udp.h"

namespace {

using namespace testing_udp;

/* A frame whose value i is v[i] where given, 0 elsewhere. */
std::vector<int> frame_of(std::initializer_list<int> v)
{
    std::vector<int> f(60, 0);
    int i = 0;
    for (int x : v)
        f[i++] = x;
    return f;
}

class HallServerFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        server_port = free_port();
        ASSERT_EQ(init_lights(), 0);
    }
    void TearDown() override { deinit_lights(); }

    int render(std::vector<int> f = std::vector<int>(60, 0))
    {
        return renderFrame(f.data());
    }
    /* Subscribe socket s with a datagram of `bytes` bytes. */
    void subscribe(int s, size_t bytes = 1)
    {
        std::vector<char> d(bytes, 'A');
        ASSERT_EQ(send_to(s, server_port, d.data(), d.size()), (ssize_t)bytes);
    }
};
using HallServer = HallServerFixture;

TEST_F(HallServer, NoSubscribersMeansNothingSentAndZeroResult)
{
    EXPECT_EQ(render(), 0);
    EXPECT_EQ(hall_subscriber_count(), 0);
}

TEST_F(HallServer, SubscriberGetsFramesFromTheNextCallOnClampedOnTheWire)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    EXPECT_EQ(render(frame_of({1, 2, 3})), 0); /* takes the request in */
    bool got;
    receive(s, 50, &got);
    EXPECT_FALSE(got) << "the frame of the call that took the request in is not sent to it";
    EXPECT_EQ(hall_subscriber_count(), 1);

    EXPECT_EQ(render(frame_of({-20, 0, 255, 300, 256, -1, 17})), 0);
    auto d = receive(s, 1000, &got);
    ASSERT_TRUE(got);
    ASSERT_EQ(d.size(), 60u);
    std::vector<unsigned char> want(60, 0);
    want[0] = 0;     /* -20 */
    want[1] = 0;     /* 0 */
    want[2] = 255;   /* 255 */
    want[3] = 255;   /* 300 */
    want[4] = 255;   /* 256 */
    want[5] = 0;     /* -1 */
    want[6] = 17;
    EXPECT_EQ(d, want);
    close(s);
}

TEST_F(HallServer, AnyContentAndLongDatagramsSubscribe)
{
    int a = open_socket(), b = open_socket();
    const char z = 'z';
    send_to(a, server_port, &z, 1);
    subscribe(b, 1600); /* cut to 1500 by the receive, counts all the same */
    usleep(20000);
    render();
    EXPECT_EQ(hall_subscriber_count(), 2);
    render();
    bool got_a, got_b;
    receive(a, 1000, &got_a);
    receive(b, 1000, &got_b);
    EXPECT_TRUE(got_a);
    EXPECT_TRUE(got_b);
    close(a);
    close(b);
}

TEST_F(HallServer, SourcePortTellsSubscribersApart)
{
    int a = open_socket(), b = open_socket();
    subscribe(a);
    subscribe(a);
    subscribe(b);
    usleep(20000);
    render();
    EXPECT_EQ(hall_subscriber_count(), 2);
    close(a);
    close(b);
}

TEST_F(HallServer, EmptyDatagramEndsTheDrainAndTheRestWaitsForTheNextFrame)
{
    int a = open_socket(), b = open_socket(), c = open_socket();
    subscribe(a);
    send_to(b, server_port, "", 0);
    subscribe(c);
    usleep(20000);
    render();
    EXPECT_EQ(hall_subscriber_count(), 1);
    render();
    EXPECT_EQ(hall_subscriber_count(), 2) << "c joins, the empty datagram's sender never does";
    close(a);
    close(b);
    close(c);
}

/* Calls from the one that takes the request in until the subscriber is
 * gone, the socket drained as it goes. */
int calls_until_dropped(int s, int limit)
{
    for (int n = 1; n <= limit; n++) {
        std::vector<int> f(60, 0);
        renderFrame(f.data());
        drain(s);
        if (hall_subscriber_count() == 0)
            return n;
    }
    return -1;
}

TEST_F(HallServer, SingleRequestLivesThreeHundredPasses)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render(); /* intake in this call: the 0th call after it */
    int n = calls_until_dropped(s, 4000);
    EXPECT_GE(n, 2990);
    EXPECT_LE(n, 2999);
    close(s);
}

TEST_F(HallServer, RenewalLivesSeventyFivePasses)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render();
    for (int i = 0; i < 123; i++)
        render();
    drain(s);
    subscribe(s); /* renewal: back to 75 whatever it had */
    usleep(20000);
    render();
    int n = calls_until_dropped(s, 4000);
    EXPECT_GE(n, 740);
    EXPECT_LE(n, 749);
    close(s);
}

TEST_F(HallServer, RenewalBeforeTheFirstPassDropsToSeventyFive)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render();
    subscribe(s);
    usleep(20000);
    render();
    int n = calls_until_dropped(s, 4000);
    EXPECT_LE(n, 749);
    EXPECT_GE(n, 740);
    close(s);
}

TEST_F(HallServer, LightStateSetsOneBoxAndSendsWithoutCountingAFrame)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render(frame_of({5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(light_state(2, 1), 0);
    bool got;
    auto d = receive(s, 1000, &got);
    ASSERT_TRUE(got);
    ASSERT_EQ(d.size(), 60u);
    for (int i = 0; i < 60; i++) {
        int want = (i >= 12 && i <= 17) ? 255 : (i < 19 ? 5 : 0);
        EXPECT_EQ(d[i], want) << "index " << i;
    }
    EXPECT_EQ(light_state(2, 0), 0);
    d = receive(s, 1000, &got);
    ASSERT_TRUE(got);
    for (int i = 12; i <= 17; i++)
        EXPECT_EQ(d[i], 0);
    EXPECT_EQ(d[11], 5);

    /* 9 renders + many light_state calls: still no ageing pass, so a
     * lifetime count from here is unchanged by light_state. */
    for (int i = 0; i < 500; i++)
        light_state(0, 1);
    drain(s);
    close(s);
}

TEST_F(HallServer, LightStateOutsideTheHallwayChangesNothing)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render(frame_of({1, 2, 3}));
    for (int box : {-1, 10, 11, 1000000, -1000000}) {
        EXPECT_EQ(light_state(box, 1), 0);
        bool got;
        auto d = receive(s, 1000, &got);
        ASSERT_TRUE(got);
        EXPECT_EQ(d, std::vector<unsigned char>(
                         {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
    close(s);
}

TEST_F(HallServer, DeinitKeepsTheSubscribers)
{
    int s = open_socket();
    subscribe(s);
    usleep(20000);
    render();
    EXPECT_EQ(deinit_lights(), 0);
    EXPECT_EQ(deinit_lights(), 0) << "a second deinit is harmless";
    ASSERT_EQ(init_lights(), 0);
    render(frame_of({9}));
    bool got;
    auto d = receive(s, 1000, &got);
    ASSERT_TRUE(got);
    EXPECT_EQ(d[0], 9);
    close(s);
}

/* Subscribe `count` new sockets from host 127.0.x.y (a loopback address
 * of its own), then let the server take them in. */
void flood(HallServerFixture *t, uint32_t host, int count)
{
    for (int k = 0; k < count; k++) {
        int s = bind_socket(host, 0);
        ASSERT_GE(s, 0);
        t->subscribe(s);
        close(s);
        if (k % 100 == 99)
            t->render();
    }
    usleep(5000);
    t->render();
}

TEST_F(HallServer, OneHostHoldsItsShareAndTheListStaysBounded)
{
    /* 1,100 sockets of one host take its 16 places and no more ... */
    flood(this, 0x7f000002, 1100);
    EXPECT_EQ(hall_subscriber_count(), HALL_MAX_PER_HOST);
    /* ... so a subscriber on another host still gets in, and frames. */
    int other = bind_socket(0x7f000003, 0);
    subscribe(other);
    usleep(20000);
    render();
    render(frame_of({42}));
    bool got;
    std::vector<unsigned char> d;
    do
        d = receive(other, 1000, &got);
    while (got && d[0] != 42);
    EXPECT_TRUE(got) << "the other host is served";

    /* Many hosts fill the whole list; then a newcomer is ignored, while a
     * known subscriber still renews and receives. */
    for (uint32_t host = 0x7f000100; hall_subscriber_count() < HALL_MAX_SUBSCRIBERS; host++)
        flood(this, host, HALL_MAX_PER_HOST);
    EXPECT_EQ(hall_subscriber_count(), HALL_MAX_SUBSCRIBERS);
    int late = bind_socket(0x7f000004, 0);
    subscribe(late);
    subscribe(other);
    usleep(20000);
    render();
    drain(other);
    render();
    receive(late, 200, &got);
    EXPECT_FALSE(got) << "a new sender beyond the bound is ignored";
    receive(other, 1000, &got);
    EXPECT_TRUE(got) << "known subscribers keep receiving";
    EXPECT_EQ(hall_subscriber_count(), HALL_MAX_SUBSCRIBERS);
    close(other);
    close(late);
}

TEST(HallServerLifecycle, RenderBeforeInitReturnsZeroAndSendsNothing)
{
    std::vector<int> f(60, 100);
    EXPECT_EQ(renderFrame(f.data()), 0);
    EXPECT_EQ(light_state(3, 1), 0);
    EXPECT_EQ(deinit_lights(), 0);
}

TEST(HallServerLifecycle, BindFailureIsReportedAndLeavesNoSocket)
{
    /* a free port held on every address, so that the server's bind fails */
    int holder = hold_port(0);
    ASSERT_GE(holder, 0);
    unsigned short port = local_port(holder);

    server_port = port;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(init_lights(), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("could not bind to socket\n: ", 0), 0u) << err;
    EXPECT_NE(err.find("Address already in use"), std::string::npos) << err;

    std::vector<int> f(60, 1);
    EXPECT_EQ(renderFrame(f.data()), 0) << "rendering goes on without a socket";
    close(holder);
}

TEST(HallServerLifecycle, DefaultPortIs7878)
{
    EXPECT_EQ(server_port, 7878);
}

} // namespace
