/* clients_test.cpp -- the pages' senders through their exported calls,
 * with a writer that can hold one page's writes as a page that reads
 * slowly does: that page then gets only the newest frame and status when
 * it is ready, and nobody else waits for it; replies are never lost;
 * detaching waits for a write under way; a page that leaves what it was
 * sent unread gets nothing more until it reads, and is let go. */
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "hallweb/web_clients.h"

namespace {

/* A connection as the writer sees it: what reached it, and a gate that
 * holds its writes while closed. */
struct fake_conn {
    std::vector<std::string> got;   /* "t:TEXT" or "f:N" (the frame's first level) */
    bool open_gate = true;
    int writing = 0;                /* writes under way */
    long unsent = 0;                /* bytes it has left unread */
    int dropped = 0;                /* times its connection was closed for it */
};

std::mutex lock;
std::condition_variable changed;
bool release_all = false;   /* end of a test: every gate opens */

int write_any(void *conn, const std::string &what)
{
    fake_conn *c = (fake_conn *)conn;
    std::unique_lock<std::mutex> l(lock);
    c->writing++;
    changed.notify_all();
    changed.wait(l, [c] { return c->open_gate || release_all; });
    c->got.push_back(what);
    c->writing--;
    changed.notify_all();
    return 0;
}

int write_text(void *conn, const char *text, size_t len)
{
    return write_any(conn, "t:" + std::string(text, len));
}

int write_binary(void *conn, const unsigned char *bytes, size_t len)
{
    EXPECT_EQ(len, 61u);
    return write_any(conn, "f:" + std::to_string(bytes[1]));
}

long unsent_to(void *conn)
{
    std::lock_guard<std::mutex> g(lock);
    return ((fake_conn *)conn)->unsent;
}

void drop(void *conn)
{
    std::lock_guard<std::mutex> g(lock);
    ((fake_conn *)conn)->dropped++;
    changed.notify_all();
}

const web_writer writer = {write_text, write_binary, unsent_to, drop};

void set_unsent(fake_conn &c, long bytes)
{
    std::lock_guard<std::mutex> g(lock);
    c.unsent = bytes;
}

/* Wait until `pred` holds (under the lock); false after ms (5 s). */
template <class P> bool wait_until(P pred, int ms = 5000)
{
    std::unique_lock<std::mutex> l(lock);
    return changed.wait_for(l, std::chrono::milliseconds(ms), pred);
}

void set_gate(fake_conn &c, bool open)
{
    std::lock_guard<std::mutex> g(lock);
    c.open_gate = open;
    changed.notify_all();
}

std::vector<std::string> got(fake_conn &c)
{
    std::lock_guard<std::mutex> g(lock);
    return c.got;
}

void post_frame(int feed, int first)
{
    unsigned char levels[60] = {(unsigned char)first};
    web_clients_post_frame(feed, levels);
}

bool has(fake_conn &c, const std::string &what)
{
    return std::find(c.got.begin(), c.got.end(), what) != c.got.end();
}

class Senders : public ::testing::Test {
protected:
    /* The connections outlive every sender's use of them. */
    fake_conn pages[WEB_MAX_CLIENTS + 1];
    fake_conn &slow = pages[0], &fast = pages[1], &page = pages[0];

    void SetUp() override
    {
        release_all = false;
        ASSERT_EQ(web_clients_start(&writer), 0);
    }
    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> g(lock);
            release_all = true;
            changed.notify_all();
        }
        for (int i = 0; i < WEB_MAX_CLIENTS; i++)
            web_clients_detach(i);
        web_clients_stop();
    }
};

TEST_F(Senders, ASlowPageGetsTheNewestWhenReadyAndHoldsUpNoOne)
{
    int s = web_clients_attach(&slow, "127.0.0.1"), f = web_clients_attach(&fast, "127.0.0.1");
    ASSERT_GE(s, 0);
    ASSERT_GE(f, 0);
    web_clients_ready(s, "hello", 5);
    web_clients_ready(f, "hello", 5);
    ASSERT_TRUE(wait_until([&] { return slow.got.size() == 1 && fast.got.size() == 1; }));

    /* The slow page's first frame is stuck in its write. */
    set_gate(slow, false);
    post_frame(0, 1);
    ASSERT_TRUE(wait_until([&] { return slow.writing == 1 && fast.got.size() == 2; }));

    /* Meanwhile the other page gets everything as it comes. */
    for (int n = 2; n <= 50; n++) {
        post_frame(0, n);
        web_clients_post_status(("status " + std::to_string(n)).c_str(), 8 + (n > 9));
        ASSERT_TRUE(wait_until([&] { return has(fast, "f:" + std::to_string(n)); })) << n;
    }
    ASSERT_EQ(web_clients_reply(s, "reply 1", 7), 0);

    /* Once it reads again: the frame under way, then the reply, the
     * newest status and the newest frame, and nothing in between. */
    set_gate(slow, true);
    ASSERT_TRUE(wait_until([&] { return slow.got.size() == 5; }));
    usleep(100000);
    EXPECT_EQ(got(slow), (std::vector<std::string>{"t:hello", "f:1", "t:reply 1", "t:status 50",
                                                   "f:50"}));

    /* Frames go only to the pages viewing their feed. */
    web_clients_set_view(f, 3);
    post_frame(0, 60);
    post_frame(3, 61);
    ASSERT_TRUE(wait_until([&] { return slow.got.size() == 6 && has(fast, "f:61"); }));
    EXPECT_FALSE(has(fast, "f:60"));
    EXPECT_EQ(got(slow).back(), "f:60");

    web_clients_detach(s);
    web_clients_detach(f);
}

TEST_F(Senders, RepliesWaitTheirTurnAndDetachingWaitsForTheWrite)
{
    int s = web_clients_attach(&page, "127.0.0.1");
    web_clients_ready(s, "hello", 5);
    ASSERT_TRUE(wait_until([&] { return page.got.size() == 1; }));

    set_gate(page, false);
    ASSERT_EQ(web_clients_reply(s, "one", 3), 0);
    ASSERT_TRUE(wait_until([&] { return page.writing == 1; }));
    ASSERT_EQ(web_clients_reply(s, "two", 3), 0);   /* room: "one" is being written */
    std::thread third([s] { EXPECT_EQ(web_clients_reply(s, "three", 5), 0); });
    usleep(100000);
    set_gate(page, true);
    third.join();
    ASSERT_TRUE(wait_until([&] { return page.got.size() == 4; }));
    EXPECT_EQ(got(page), (std::vector<std::string>{"t:hello", "t:one", "t:two", "t:three"}));

    /* Detach returns only once the write under way has ended; nothing
     * reaches the connection afterwards, and a reply is refused. */
    set_gate(page, false);
    post_frame(0, 7);
    ASSERT_TRUE(wait_until([&] { return page.writing == 1; }));
    std::thread opener([&] {
        usleep(200000);
        set_gate(page, true);
    });
    web_clients_detach(s);
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(page.writing, 0);
    }
    opener.join();
    post_frame(0, 8);
    EXPECT_EQ(web_clients_reply(s, "late", 4), -1);
    usleep(100000);
    EXPECT_EQ(got(page).back(), "f:7");
}

TEST_F(Senders, APageThatReadsNothingGetsNothingMoreAndIsLetGo)
{
    int s = web_clients_attach(&page, "127.0.0.1");
    web_clients_ready(s, "hello", 5);
    ASSERT_TRUE(wait_until([&] { return page.got.size() == 1; }));
    set_unsent(page, WEB_UNSENT_MAX + 1);
    for (int n = 1; n <= 5; n++) {
        post_frame(0, n);
        web_clients_post_status("status", 6);
    }
    ASSERT_EQ(web_clients_reply(s, "reply", 5), 0);
    ASSERT_TRUE(wait_until([&] { return page.got.size() == 2; }));
    usleep(100000);
    EXPECT_EQ(got(page), (std::vector<std::string>{"t:hello", "t:reply"})) << "replies still go";

    /* Reading again, it gets the newest frame, not the ones it missed. */
    set_unsent(page, 0);
    post_frame(0, 6);
    ASSERT_TRUE(wait_until([&] { return has(page, "f:6"); }));
    EXPECT_FALSE(has(page, "f:5"));

    /* Reading nothing for long enough: its connection is closed, once. */
    set_unsent(page, WEB_UNSENT_MAX + 1);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 150 && !wait_until([&] { return page.dropped > 0; }, 100); i++)
        web_clients_post_status("status", 6);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::lock_guard<std::mutex> g(lock);
    EXPECT_EQ(page.dropped, 1);
    EXPECT_GE(waited, WEB_PAGE_GONE_SECONDS - 0.5);
}

} // namespace
