/* dmx_support.h -- what the DMX program tests share: a private olad with
 * a client registered on its universe, the test itself as the producer
 * of a feed, and the paths of the programs. */
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ola_client.h"
#include "support/olad.h"
#include "support/process.h"
#include "support/udp.h"

namespace dmx_test {

inline const std::string DMXOUT = HALL_BINARY_DIR "/bin/dmxout";
inline const std::string DMXIN = HALL_BINARY_DIR "/bin/dmxin";

/* A frame whose 60 values all differ, none of them 0. */
inline std::vector<uint8_t> distinct_frame(int seed = 0)
{
    std::vector<uint8_t> f(60);
    for (int i = 0; i < 60; i++)
        f[i] = (uint8_t)(10 + i * 4 + seed);
    return f;
}

/* The test as a producer: a UDP socket on a free port that takes one
 * subscriber and sends it frames. */
struct Feed {
    int sock = -1;
    unsigned short port = 0;
    unsigned short subscriber = 0; /* the consumer's port, once it asked */
};

inline void open_feed(Feed &f)
{
    f.sock = testing_udp::open_socket(0);
    f.port = testing_udp::local_port(f.sock);
}

/* Wait for the consumer's subscription request; false after timeout_ms. */
inline bool wait_subscriber(Feed &f, int timeout_ms = 10000)
{
    bool got = false;
    testing_udp::receive(f.sock, timeout_ms, &got, &f.subscriber);
    return got;
}

inline void send_frame(Feed &f, const std::vector<uint8_t> &frame)
{
    testing_udp::send_to(f.sock, f.subscriber, frame.data(), frame.size());
}

/* A private olad and a client registered on universe 1 of it. */
class WithOlad : public ::testing::Test {
protected:
    testing_olad::Olad olad;
    testing_ola::Client client;

    void SetUp() override
    {
        ASSERT_TRUE(testing_olad::start(olad)) << olad.error;
        ASSERT_TRUE(testing_ola::connect(client, olad.port));
        ASSERT_TRUE(testing_ola::listen(client, 1));
    }
    void TearDown() override
    {
        testing_ola::close(client);
        testing_olad::remove(olad);
    }
    std::string port() const { return std::to_string(olad.port); }
};

} // namespace dmx_test
