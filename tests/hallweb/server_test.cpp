/* server_test.cpp -- the web console as a process, through WebSocket
 * clients on 127.0.0.1 and producers and a stand-in box driver of the
 * test's own: frames reach the pages viewing their feed, the slots are
 * shared out between addresses, bad messages get an error and the
 * connection goes on, pages from other sites are refused, and the
 * controls need the token and become the driver's keys. From the
 * hostile host 127.0.0.2, by hand: pages that never read, frames that
 * declare 200 MB, requests naming another host and token guessing leave
 * other addresses served; what the service manager hears. Plus the command line. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "hallweb/hallweb_support.h"
#include "hallweb/raw_client.h"
#include "hallweb/ws_client.h"
#include "support/notify.h"
#include "wire/control.h"

using namespace web_test;
using ws_test::client;
using ws_test::message;

namespace {

const uint32_t HOSTILE = 0x7f000002, OTHER = 0x7f000003;

bool is_frame(const message &m, int feed)
{
    return m.binary && m.data.size() == 61 && (unsigned char)m.data[0] == feed;
}

/* A page opened by hand from `from`: its socket once the handshake is
 * answered, else -1. */
int raw_page(uint32_t from, int port)
{
    int fd = raw_test::connect_from(from, port);
    if (fd >= 0 && (!raw_test::send_request(fd, "/ws", "127.0.0.1", true) ||
                    raw_test::read_status(fd) != 101)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

class Serving : public ::testing::Test {
protected:
    producer a, b;
    console web;

    void SetUp() override
    {
        ASSERT_TRUE(web.start({"--feed", "Alpha=127.0.0.1:" + std::to_string(a.port), "--feed",
                               "Beta=127.0.0.1:" + std::to_string(b.port)}))
            << web.err();
        ASSERT_TRUE(a.wait_subscribed());
        ASSERT_TRUE(b.wait_subscribed());
    }
};

TEST_F(Serving, FramesReachThePagesViewingTheirFeed)
{
    client page;
    ASSERT_TRUE(page.open(web.port)) << page.error;
    int hello = page.wait_text("\"type\":\"hello\"");
    ASSERT_GE(hello, 0);
    EXPECT_NE(page.at(hello).data.find("\"name\":\"Alpha\""), std::string::npos);
    EXPECT_NE(page.at(hello).data.find("\"controls\":\"off\""), std::string::npos);

    /* A page views feed 0 at first: Alpha's frame arrives whole. */
    auto alpha = counting_frame(10);
    a.send(alpha);
    int got = page.wait_for([](const message &m) { return m.binary; });
    ASSERT_GE(got, 0);
    EXPECT_EQ(page.at(got).data, frame_message(0, alpha));

    /* While Alpha sends, a status shows it live and Beta not. */
    int status = -1;
    for (int i = 0; i < 100 && status < 0; i++) {
        a.send(alpha);
        status = page.wait_text("\"live\":true},{\"fps\":0,\"live\":false}", 50);
    }
    EXPECT_GE(status, 0);

    /* Beta's frames go only to pages viewing Beta. */
    b.send(counting_frame(99));
    size_t before_view = page.count();
    ASSERT_TRUE(page.send("{\"type\":\"view\",\"feed\":1}"));
    /* Beta sends until its frame arrives: the view takes effect at once,
     * but the test cannot see when. */
    auto beta = counting_frame(200);
    int beta_at = -1;
    for (int i = 0; i < 50 && beta_at < 0; i++) {
        b.send(beta);
        beta_at = page.wait_for([](const message &m) { return is_frame(m, 1); }, 100);
    }
    ASSERT_GE(beta_at, 0);
    EXPECT_EQ(page.at(beta_at).data, frame_message(1, beta));
    for (size_t i = 0; i < before_view; i++)
        EXPECT_FALSE(is_frame(page.at(i), 1)) << "Beta's frame reached a page viewing Alpha";
    a.send(counting_frame(1));
    size_t after = page.count();
    usleep(200000);
    for (size_t i = after; i < page.count(); i++)
        EXPECT_FALSE(is_frame(page.at(i), 0)) << "Alpha's frame reached a page viewing Beta";
}

TEST_F(Serving, SlotsAreSharedOutAndTheRestTurnedAwayAtOnce)
{
    std::vector<std::unique_ptr<client>> pages;
    for (int i = 0; i < 8; i++) {
        pages.push_back(std::make_unique<client>());
        ASSERT_TRUE(pages.back()->open(web.port)) << i << ": " << pages.back()->error;
        ASSERT_GE(pages.back()->wait_text("\"type\":\"hello\""), 0) << i;
    }
    std::vector<int> others;   /* 8 each from three more addresses */
    for (uint32_t from = 0x7f000002; from <= 0x7f000004; from++)
        for (int i = 0; i < 8; i++) {
            others.push_back(raw_page(from, web.port));
            EXPECT_EQ(raw_test::read_frame(others.back(), "\"type\":\"hello\"").opcode, 1);
        }
    struct {
        uint32_t from;
        const char *says;
    } refused[] = {{0x7f000001, "too many pages open from your address (at most 8)"},
                   {0x7f000005, "too many pages open (at most 32)"}};
    for (auto &r : refused) {
        int extra = raw_page(r.from, web.port);
        EXPECT_EQ(raw_test::read_frame(extra, r.says).opcode, 1);
        EXPECT_EQ(raw_test::read_frame(extra, nullptr).data.substr(0, 2), "\x03\xf5") << "1013";
        EXPECT_TRUE(raw_test::ended(extra, 1000)) << "closed at once";
        close(extra);
    }

    /* The first 8 still get frames; once one leaves, a newcomer gets in. */
    a.send(counting_frame(5));
    for (auto &p : pages)
        EXPECT_GE(p->wait_for([](const message &m) { return is_frame(m, 0); }), 0);
    pages.back()->close();
    pages.pop_back();
    bool admitted = false;
    for (int attempt = 0; attempt < 50 && !admitted; attempt++) {
        client late;
        ASSERT_TRUE(late.open(web.port)) << late.error;
        int first = late.wait_for([](const message &m) { return !m.binary; });
        admitted = first >= 0 && late.at(first).data.find("\"type\":\"hello\"") != std::string::npos;
        if (!admitted)
            usleep(100000);   /* the leaver's slot is not free yet */
    }
    EXPECT_TRUE(admitted);
    for (int fd : others)
        close(fd);
    /* A client takes about a second to close; close them all at once. */
    std::vector<std::thread> closing;
    for (auto &p : pages)
        closing.emplace_back([&p] { p->close(); });
    for (auto &t : closing)
        t.join();
}

TEST_F(Serving, BadMessagesGetAnErrorAndTheConnectionGoesOn)
{
    client page;
    ASSERT_TRUE(page.open(web.port)) << page.error;
    ASSERT_GE(page.wait_text("\"type\":\"hello\""), 0);

    struct {
        std::string message, reply;
    } cases[] = {
        {"{\"type\":", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {"{\"type\":\"dance\"}", "unknown message type"},
        {"{\"type\":\"view\",\"feed\":2}", "no feed 2 here; there are 2"},
        {"{\"type\":\"view\",\"feed\":0.5}", "view needs \\\"feed\\\""},
        {"{\"type\":\"level\",\"level\":100}", "level needs \\\"level\\\", 0 to 256 in steps of 16"},
        {"{\"type\":\"select\",\"feed\":1}", "the controls are off on this server"},
        {"{\"type\":\"auth\",\"token\":\"abcdefgh\"}", "this server takes no token"},
    };
    for (auto &c : cases) {
        size_t from = page.count();
        ASSERT_TRUE(page.send(c.message));
        int error = page.wait_text("\"type\":\"error\"", 5000, from);
        ASSERT_GE(error, 0) << c.message.substr(0, 60);
        EXPECT_NE(page.at(error).data.find(c.reply), std::string::npos)
            << c.message.substr(0, 60) << " -> " << page.at(error).data;
    }
    size_t from = page.count();
    ASSERT_GT(mg_websocket_client_write(page.conn, MG_WEBSOCKET_OPCODE_BINARY, "\x01", 1), 0);
    EXPECT_GE(page.wait_text("binary messages are not understood", 5000, from), 0);

    /* Still connected, still served. */
    ASSERT_TRUE(page.send("{\"type\":\"view\",\"feed\":1}"));
    int frame = -1;
    for (int i = 0; i < 50 && frame < 0; i++) {
        b.send(counting_frame(3));
        frame = page.wait_for([](const message &m) { return is_frame(m, 1); }, 100);
    }
    EXPECT_GE(frame, 0);
    EXPECT_FALSE(page.closed);
}

TEST_F(Serving, PagesFromAnotherSiteAreRefused)
{
    client stranger;
    EXPECT_FALSE(stranger.open(web.port, "http://lights.example"));
    EXPECT_TRUE(testing_process::wait_for_output(web.child, "refused a page from another site", 5000,
                                                 true));
    client own;
    /* CivetWeb's client names the host without the port, as a browser
     * does for a site on port 80. */
    ASSERT_TRUE(own.open(web.port, "http://127.0.0.1")) << own.error;
    EXPECT_GE(own.wait_text("\"type\":\"hello\""), 0);
}

/* 40 pages from one host that never read: most are turned away at once,
 * the rest closed once they have answered no ping for a few seconds, and
 * meanwhile a page from another address loads and gets frames. */
TEST_F(Serving, PagesThatNeverReadLeaveRoomForAnotherHost)
{
    std::vector<int> silent;
    for (int i = 0; i < 40; i++)
        silent.push_back(raw_page(HOSTILE, web.port));
    int load = raw_test::connect_from(OTHER, web.port);
    raw_test::send_request(load, "/", "127.0.0.1", false);
    EXPECT_EQ(raw_test::read_status(load), 200) << "the page loads";
    int page = raw_page(OTHER, web.port);
    raw_test::frame f;
    for (int i = 0; i < 50 && f.opcode != 2; i++) {
        a.send(counting_frame(7));
        f = raw_test::read_frame(page, nullptr, 100);
    }
    EXPECT_EQ(f.data, frame_message(0, counting_frame(7)));
    int ended = 0;
    for (int fd : silent) {
        ended += raw_test::ended(fd, 12000);
        close(fd);
    }
    EXPECT_EQ(ended, 40);
    close(load);
    close(page);
}

/* A frame declaring more than a message may hold closes its connection
 * (1009) before it is stored: four of 200 MB leave the memory as it was. */
TEST_F(Serving, AFrameLongerThanAMessageClosesItsConnectionUnread)
{
    std::string status = "/proc/" + std::to_string(web.child.pid) + "/status";
    auto rss_kb = [&] {
        return atol(strstr(testing_process::read_file(status).c_str(), "VmRSS:") + 6);
    };
    long before = rss_kb();
    for (uint64_t declared : {513ull, 200ull << 20, 200ull << 20, 200ull << 20, 200ull << 20}) {
        int fd = raw_page(HOSTILE, web.port);
        raw_test::send_frame(fd, 0x82, std::string(std::min<uint64_t>(declared, 16 << 20), 'x'),
                             declared);
        EXPECT_EQ(raw_test::read_frame(fd, nullptr).data.substr(0, 2), "\x03\xf1") << declared;
        close(fd);
    }
    EXPECT_LT(rss_kb() - before, 8 << 10) << "kB more";
}

/* Every request must name this server: its address, localhost or an
 * --allow-host name; any other name may have been pointed here. */
TEST(Hosts, OnlyThisServersNamesAreServed)
{
    producer feed;
    console web;
    ASSERT_TRUE(web.start({"--feed", "F=127.0.0.1:" + std::to_string(feed.port), "--allow-host",
                           "Hallway.local"}));
    std::string port = ":" + std::to_string(web.port);
    struct {
        std::string host, path;
        int status;
    } cases[] = {{"evil.example", "/", 403},          {"evil.example" + port, "/ws", 403},
                 {"", "/", 403},                      {"127.0.0.2" + port, "/", 403},
                 {"hallway.local.evil.example", "/", 403}, {"127.0.0.1:80x", "/", 403},
                 {"hallway.local" + port, "/", 200},  {"HALLWAY.LOCAL", "/ws", 101},
                 {"localhost" + port, "/", 200},      {"127.0.0.1" + port, "/hallweb.js", 200}};
    for (auto &c : cases) {
        int fd = raw_test::connect_from(HOSTILE, web.port);
        raw_test::send_request(fd, c.path, c.host, c.path == "/ws");
        EXPECT_EQ(raw_test::read_status(fd), c.status) << c.host << c.path;
        close(fd);
    }
}

/* A stand-in for the box driver's control socket: answers every
 * datagram with the state line of wire/control.h and keeps the keys. */
struct fake_driver {
    int sock;
    unsigned short port;
    std::mutex lock;
    std::string keys;          /* every key but "?" */
    int feed = 0, level = 256;
    std::atomic<bool> stop{false};
    std::thread thread;

    explicit fake_driver(unsigned short on_port = 0)
        : sock(testing_udp::open_socket(on_port)), port(testing_udp::local_port(sock)),
          thread([this] { run(); })
    {
    }

    ~fake_driver()
    {
        stop = true;
        thread.join();
        close(sock);
    }
    void run()
    {
        static const control_feed feeds[] = {
            {"Main Music", "127.0.0.1", 7878}, {"Test pattern", "127.0.0.1", 7879},
            {"Pong! Pong!", "127.0.0.1", 7880}, {"Guest 1", "127.0.0.1", 7878}};
        while (!stop) {
            pollfd p{sock, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char buf[64];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(sock, buf, sizeof buf, 0, (sockaddr *)&from, &len);
            if (n < 0)
                continue;
            char answer[CONTROL_ANSWER_MAX];
            {
                std::lock_guard<std::mutex> g(lock);
                int key = control_key(buf, (size_t)n);
                if (key && key != CONTROL_KEY_ASK)
                    keys += (char)key;
                if (key >= '0' && key <= '3')
                    feed = key - '0';
                if (key == CONTROL_KEY_UP && level < 256)
                    level += 16;
                if (key == CONTROL_KEY_DOWN && level > 0)
                    level -= 16;
                control_state s = {feeds, 4, feed, level, 1};
                control_format_state(answer, sizeof answer, &s);
            }
            sendto(sock, answer, strlen(answer), 0, (sockaddr *)&from, len);
        }
    }
    std::string seen()
    {
        std::lock_guard<std::mutex> g(lock);
        return keys;
    }
    bool wait_keys(const std::string &want, int timeout_ms = 5000)
    {
        for (int waited = 0; waited < timeout_ms; waited += 20) {
            if (seen() == want)
                return true;
            usleep(20000);
        }
        return seen() == want;
    }
};

std::string write_token_file(const std::string &token)
{
    char path[] = "/tmp/hallweb_tokenXXXXXX";
    int fd = mkstemp(path);
    std::string line = token + "\n";
    EXPECT_EQ(write(fd, line.data(), line.size()), (ssize_t)line.size());
    close(fd);
    return path;
}

TEST(Controls, NeedTheTokenAndBecomeTheDriversKeys)
{
    producer feed;
    std::string token_file = write_token_file("correct-horse-battery");
    unsigned short driver_port = testing_udp::free_port();
    console web;
    ASSERT_TRUE(web.start({"--feed", "F=127.0.0.1:" + std::to_string(feed.port), "--driver",
                           "127.0.0.1:" + std::to_string(driver_port), "--token-file",
                           token_file}))
        << web.err();
    unlink(token_file.c_str());
    /* The driver starts later: the questions asked meanwhile are lost. */
    usleep(800000);
    fake_driver driver(driver_port);
    ASSERT_EQ(driver.port, driver_port);
    EXPECT_NE(web.out().find("hallweb: controls for pages that give the token"), std::string::npos);

    client page;
    ASSERT_TRUE(page.open(web.port)) << page.error;
    int hello = page.wait_text("\"type\":\"hello\"");
    ASSERT_GE(hello, 0);
    EXPECT_NE(page.at(hello).data.find("\"driver\":true,\"controls\":\"token\""), std::string::npos)
        << page.at(hello).data;

    /* The driver's state reaches the page whoever it is. */
    int status = page.wait_text("\"reachable\":true");
    ASSERT_GE(status, 0);
    EXPECT_NE(page.at(status).data.find(
                  "\"driver\":{\"reachable\":true,\"feeds\":[\"Main Music\",\"Test pattern\","
                  "\"Pong! Pong!\",\"Guest 1\"],\"feed\":0,\"level\":256,\"live\":true}"),
              std::string::npos)
        << page.at(status).data;

    /* No token, no control; a wrong token is refused. */
    size_t from = page.count();
    page.send("{\"type\":\"select\",\"feed\":2}");
    EXPECT_GE(page.wait_text("the controls need the token", 5000, from), 0);
    page.send("{\"type\":\"auth\",\"token\":\"correct-horse-battery-staple\"}");
    EXPECT_GE(page.wait_text("{\"type\":\"auth\",\"ok\":false}", 5000, from), 0);
    from = page.count();
    page.send("{\"type\":\"level\",\"level\":0}");
    EXPECT_GE(page.wait_text("the controls need the token", 5000, from), 0);

    /* Guessing from another host: a few tries, the rest refused unread,
     * one line in the log; this page's tries are its own. */
    int guesser = raw_page(HOSTILE, web.port);
    for (int i = 0; i < 8; i++)
        raw_test::send_frame(guesser, 0x81, "{\"type\":\"auth\",\"token\":\"guess-" +
                                                std::to_string(i) + "\"}", 33);
    int wrong = 0, refused = 0;
    for (raw_test::frame f; wrong + refused < 8 && (f = raw_test::read_frame(guesser)).opcode > 0;) {
        wrong += f.data.find("\"ok\":false") != std::string::npos;
        refused += f.data.find("too many tokens tried from your address") != std::string::npos;
    }
    EXPECT_LE(wrong, 4);
    EXPECT_EQ(wrong + refused, 8);
    std::string line = "hallweb: a wrong token from 127.0.0.2\n";
    EXPECT_TRUE(testing_process::wait_for_output(web.child, line, 5000, true));
    EXPECT_EQ(web.err().find(line), web.err().rfind(line)) << web.err();
    close(guesser);

    /* With the token: a feed button is its digit key, a level is as many
     * level keys as it takes from where the driver is. */
    page.send("{\"type\":\"auth\",\"token\":\"correct-horse-battery\"}");
    ASSERT_GE(page.wait_text("{\"type\":\"auth\",\"ok\":true}", 5000, from), 0);
    page.send("{\"type\":\"select\",\"feed\":3}");
    EXPECT_TRUE(driver.wait_keys("3")) << driver.seen();
    EXPECT_GE(page.wait_text("\"feed\":3,\"level\":256", 5000, from), 0);
    page.send("{\"type\":\"level\",\"level\":128}");
    EXPECT_TRUE(driver.wait_keys("3dddddddd")) << driver.seen();
    EXPECT_GE(page.wait_text("\"feed\":3,\"level\":128", 5000, from), 0);
    page.send("{\"type\":\"level\",\"level\":160}");
    EXPECT_TRUE(driver.wait_keys("3dddddddduu")) << driver.seen();

    /* A feed the driver does not have is refused here. */
    from = page.count();
    page.send("{\"type\":\"select\",\"feed\":7}");
    EXPECT_GE(page.wait_text("has no such feed", 5000, from), 0);
}

TEST(Controls, OfferedWithoutTokenOnlyOn127001)
{
    fake_driver driver;
    producer feed;
    std::vector<std::string> args = {"--feed", "F=127.0.0.1:" + std::to_string(feed.port),
                                     "--driver", "127.0.0.1:" + std::to_string(driver.port)};
    {
        console web;
        ASSERT_TRUE(web.start(args)) << web.err();
        client page;
        ASSERT_TRUE(page.open(web.port));
        EXPECT_GE(page.wait_text("\"controls\":\"open\""), 0);
        ASSERT_GE(page.wait_text("\"reachable\":true"), 0);
        page.send("{\"type\":\"select\",\"feed\":1}");
        EXPECT_TRUE(driver.wait_keys("1")) << driver.seen();
    }
    args.insert(args.end(), {"--listen", "127.0.0.2:0"});
    console web;
    ASSERT_TRUE(web.start(args)) << web.err();
    EXPECT_NE(web.out().find("hallweb: controls off: give --token-file"), std::string::npos);
    char err[256] = "";
    client page;
    page.conn = mg_connect_websocket_client("127.0.0.2", web.port, 0, err, sizeof err, "/ws",
                                            nullptr, client::on_data, client::on_close, &page);
    ASSERT_NE(page.conn, nullptr) << err;
    EXPECT_GE(page.wait_text("\"controls\":\"off\""), 0);
    size_t from = page.count();
    page.send("{\"type\":\"select\",\"feed\":2}");
    EXPECT_GE(page.wait_text("the controls are off on this server", 5000, from), 0);
    usleep(300000);
    EXPECT_EQ(driver.seen(), "1");
}

/* Run the program to its end; exit status and what it printed. */
struct run_result {
    int status;
    std::string out, err;
};

run_result run(std::vector<std::string> args)
{
    args.insert(args.begin(), program());
    auto c = testing_process::start(args);
    if (!testing_process::wait_for(c, 10000)) {
        testing_process::stop(c);
        return {-1, testing_process::out(c), testing_process::err(c)};
    }
    return {testing_process::exit_code(c), testing_process::out(c), testing_process::err(c)};
}

TEST(CommandLine, HelpRefusalsAndFailuresToStart)
{
    auto r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: hallweb", 0), 0u) << r.out;

    struct {
        std::vector<std::string> args;
        std::string says;
    } refused[] = {
        {{"--listen", "localhost:80"}, "hallweb: --listen: expected ADDR:PORT"},
        {{"--listen", "127.0.0.1:65536"}, "hallweb: --listen: "},
        {{"--feed", "127.0.0.1:7878"}, "hallweb: --feed: expected NAME=HOST[:PORT]"},
        {{"--feed", "=127.0.0.1"}, "hallweb: --feed: "},
        {{"--driver", "127.0.0.1"}, "hallweb: --driver: expected HOST:PORT"},
        {{"--token-file"}, "hallweb: --token-file needs a value"},
        {{"--bogus"}, "hallweb: unknown option '--bogus' (try --help)"},
        {{"extra"}, "hallweb: unexpected argument 'extra'"},
    };
    for (auto &c : refused) {
        r = run(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }

    r = run({"--token-file", "/nonexistent/token"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "hallweb: open(/nonexistent/token): No such file or directory\n");
    std::string short_token = write_token_file("abc");
    r = run({"--token-file", short_token});
    unlink(short_token.c_str());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("has 3 characters; it needs 8 to 128"), std::string::npos) << r.err;
    std::string shown = write_token_file("correct-horse-battery");
    chmod(shown.c_str(), 0644);
    r = run({"--token-file", shown});
    unlink(shown.c_str());
    EXPECT_EQ(r.err, "hallweb: " + shown + ": others can read it (mode 644); chmod o-rw " + shown +
                         " first\n");

    /* A port already taken is a runtime failure with a reason. */
    int held = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(held, (sockaddr *)&a, sizeof a), 0);
    ASSERT_EQ(listen(held, 1), 0);
    std::string port = std::to_string(testing_udp::local_port(held));
    r = run({"--listen", "127.0.0.1:" + port, "--feed", "F=127.0.0.1:9"});
    close(held);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("hallweb: cannot listen on 127.0.0.1:" + port), std::string::npos) << r.err;
}

TEST(Stopping, ATermSignalEndsItCleanly)
{
    producer feed;
    console web;
    ASSERT_TRUE(web.start({"--feed", "F=127.0.0.1:" + std::to_string(feed.port)}));
    client page;
    ASSERT_TRUE(page.open(web.port));
    ASSERT_GE(page.wait_text("\"type\":\"hello\""), 0);
    kill(web.child.pid, SIGTERM);
    ASSERT_TRUE(testing_process::wait_for(web.child, 10000));
    EXPECT_EQ(testing_process::exit_code(web.child), 0) << web.err();
    EXPECT_TRUE(page.wait_closed());
}

TEST(Stopping, InterruptAndHangupEndItCleanlyToo)
{
    producer feed;
    for (int sig : {SIGINT, SIGHUP}) {
        console web;
        ASSERT_TRUE(web.start({"--feed", "F=127.0.0.1:" + std::to_string(feed.port)}));
        kill(web.child.pid, sig);
        ASSERT_TRUE(testing_process::wait_for(web.child, 10000));
        EXPECT_EQ(testing_process::exit_code(web.child), 0) << sig << ": " << web.err();
        EXPECT_NE(web.out().find("hallweb: stopping\n"), std::string::npos) << web.out();
    }
}

/* Ready once serving, with its state, then alive from the frame loop. */
TEST(Health, TheServiceManagerHearsReadyAliveAndTheState)
{
    testing_notify::Manager manager;
    ASSERT_TRUE(manager.open(1000000));
    console web;
    ASSERT_TRUE(web.start({"--feed", "F=127.0.0.1:9"}));
    manager.close_it_env();
    EXPECT_TRUE(manager.wait_for("READY=1\nSTATUS=0 pages; 0 of 1 feeds live", 5000));
    EXPECT_TRUE(manager.wait_for("WATCHDOG=1", 2000));
    manager.close_it();
    /* Idle, without a driver or a show, it waits rather than spins. */
    usleep(1000000);
    unsigned long user = 0, system_ = 0;
    FILE *stat = fopen(("/proc/" + std::to_string(web.child.pid) + "/stat").c_str(), "r");
    ASSERT_NE(stat, nullptr);
    EXPECT_EQ(fscanf(stat, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                     &system_), 2);
    fclose(stat);
    EXPECT_LT(user + system_, (unsigned long)sysconf(_SC_CLK_TCK)) << "CPU ticks in its first seconds";
}

} // namespace
