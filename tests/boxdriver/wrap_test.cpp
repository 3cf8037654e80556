/* wrap_test.cpp -- after the feed socket on port 10000 the next one is on
 * 7879. Holds the port_7879 lock, since the driver binds that port. */
#include "boxdriver/console_support.h"

using namespace box_test;

namespace {

class BoxPortWrap : public Console {
protected:
    /* The driver's feed ports other than those it inherited. */
    std::set<unsigned short> feed_ports(long timeout_ms, unsigned short expect)
    {
        long deadline = now_ms() + timeout_ms;
        std::set<unsigned short> ports;
        do {
            ports = udp_ports(driver.pid);
            if (ports.count(expect))
                break;
            usleep(20000);
        } while (now_ms() < deadline);
        return ports;
    }
};

TEST_F(BoxPortWrap, PortAfter10000Is7879)
{
    start({"--local-port", "9999"});
    ASSERT_TRUE(wait_output("FEEDS"));
    EXPECT_EQ(feed_ports(10000, 9999), std::set<unsigned short>{9999});
    key('8');
    EXPECT_EQ(feed_ports(10000, 10000), std::set<unsigned short>{10000});
    key('8');
    EXPECT_EQ(feed_ports(10000, 7879), std::set<unsigned short>{7879});
    ASSERT_TRUE(wait_output("FEEDS", 3));
    EXPECT_EQ(count_of(out(), "sock: "), 3u);
}

} // namespace
