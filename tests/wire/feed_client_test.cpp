/* feed_client_test.cpp -- open, subscribe and read frames over real
 * sockets on 127.0.0.1. */
#include <gtest/gtest.h>

#include <fcntl.h>

#include <vector>

#include "wire/feed_client.h"
#include "support/udp.h"

namespace {

using namespace testing_udp;

class FeedClient : public ::testing::Test {
protected:
    int sock = -1;     /* the consumer's socket under test */
    int peer = -1;     /* plays the producer */
    unsigned short port = 0;

    void SetUp() override
    {
        peer = open_socket();
        for (int tries = 0; sock < 0 && tries < 20; tries++) {
            port = free_port();
            sock = open_udp_server(port);
        }
        ASSERT_GE(sock, 0);
    }
    void TearDown() override
    {
        close(sock);
        close(peer);
    }
    void send_bytes(const std::vector<unsigned char> &d)
    {
        ASSERT_EQ(send_to(peer, port, d.data(), d.size()), (ssize_t)d.size());
        usleep(10000);
    }
};

TEST_F(FeedClient, SixtyByteFrameBytesAreUnsigned)
{
    std::vector<unsigned char> d(60);
    for (int i = 0; i < 60; i++)
        d[i] = (unsigned char)(i % 3 == 0 ? 0 : i % 3 == 1 ? 128 : 255);
    send_bytes(d);
    int values[60];
    ASSERT_EQ(read_data_packet(sock, values), 1);
    for (int i = 0; i < 60; i++)
        EXPECT_EQ(values[i], d[i]) << i;
}

TEST_F(FeedClient, LongDatagramGivesItsFirstSixtyBytes)
{
    std::vector<unsigned char> d(100);
    for (int i = 0; i < 100; i++)
        d[i] = (unsigned char)(200 - i);
    send_bytes(d);
    int values[60];
    ASSERT_EQ(read_data_packet(sock, values), 1);
    EXPECT_EQ(values[0], 200);
    EXPECT_EQ(values[59], 141);
}

/* Each is refused; said at most once a second, the next line counting
 * the ones not said. */
TEST_F(FeedClient, ShortDatagramsAreRejectedAndLeaveTheFrameAlone)
{
    int values[60];
    for (int i = 0; i < 60; i++)
        values[i] = 7;
    usleep(1100000); /* after whatever another test said */
    ::testing::internal::CaptureStderr();
    for (size_t len : {0u, 1u, 59u}) {
        send_bytes(std::vector<unsigned char>(len, 99));
        EXPECT_EQ(read_data_packet(sock, values), -1);
    }
    usleep(1100000);
    send_bytes(std::vector<unsigned char>(1, 99));
    EXPECT_EQ(read_data_packet(sock, values), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Small packet of size: 0\nSmall packet of size: 1 (and 2 more not shown)\n");
    for (int i = 0; i < 60; i++)
        EXPECT_EQ(values[i], 7);
}

TEST_F(FeedClient, NothingWaitingOnANonBlockingSocketIsZero)
{
    fcntl(sock, F_SETFL, O_NONBLOCK);
    int values[60];
    EXPECT_EQ(read_data_packet(sock, values), 0);
}

TEST_F(FeedClient, ReceiveErrorPrintsTheZeroAddressThenTheError)
{
    int values[60];
    int bad = open("/dev/null", O_RDONLY); /* not a socket: recvfrom fails */
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(read_data_packet(bad, values), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "0.0.0.0\n");
    EXPECT_EQ(err.rfind("read_data_packet: recvfrom: ", 0), 0u) << err;
    close(bad);
}

TEST_F(FeedClient, RequestGoesFromTheFeedSocketToTheTarget)
{
    struct sockaddr_in producer;
    memset(&producer, 0, sizeof producer);
    producer.sin_family = AF_INET;
    producer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    producer.sin_port = htons(local_port(peer));
    EXPECT_EQ(feed_request_to(sock, &producer), 0);
    bool got;
    unsigned short from = 0;
    auto d = receive(peer, 1000, &got, &from);
    ASSERT_TRUE(got);
    EXPECT_EQ(d, std::vector<unsigned char>{'A'});
    EXPECT_EQ(from, port) << "frames must come back to the feed socket itself";
}

TEST_F(FeedClient, PortInUseIsReportedAndRefused)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(open_udp_server(port), -1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("start_net: binding socket: ", 0), 0u) << err;
    EXPECT_NE(err.find("\nERROR!\n"), std::string::npos) << err;
}

TEST(FeedSocket, PortTakesTheLowSixteenBits)
{
    unsigned short p = free_port();
    int s = open_udp_server(p + 65536);
    ASSERT_GE(s, 0);
    EXPECT_EQ(local_port(s), p);
    close(s);
}

} // namespace
