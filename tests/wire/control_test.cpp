/* control_test.cpp -- the box driver's control socket as its consumers
 * see it: the answer line read back, the level keys, and the asking end
 * (control_link) against a peer socket of the test's own on 127.0.0.1. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop/loop.h"
#include "support/udp.h"
#include "wire/control.h"
#include "wire/control_link.h"

namespace {

using namespace testing_udp;

TEST(ControlAnswer, ReadsBackWhatTheDriverWritesAndRefusesTheRest)
{
    /* Escapes survive; a long name is cut whole characters at a time
     * ("é" is two bytes); feeds past ten are left out. */
    std::string long_name;
    for (int i = 0; i < 25; i++)
        long_name += "\xc3\xa9";
    std::vector<control_feed> feeds = {{"Main \"Music\"\\", "127.0.0.1", 7878},
                                       {long_name.c_str(), "127.0.0.1", 7879}};
    for (int i = 2; i < 12; i++)
        feeds.push_back({"Guest", "10.0.0.1", 7880});
    control_state state = {feeds.data(), (int)feeds.size(), 1, 144, 1};
    char line[CONTROL_ANSWER_MAX];
    int n = control_format_state(line, sizeof line, &state);
    ASSERT_GT(n, 0);
    control_answer a;
    ASSERT_EQ(control_parse_answer(line, (size_t)n, &a), 0) << line;
    EXPECT_EQ(a.num_feeds, CONTROL_MAX_FEEDS);
    EXPECT_STREQ(a.names[0], "Main \"Music\"\\");
    EXPECT_EQ(std::string(a.names[1]), long_name.substr(0, CONTROL_NAME_MAX));
    EXPECT_EQ(a.feed, 1);
    EXPECT_EQ(a.level, 144);
    EXPECT_EQ(a.live, 1);

    const char *refused[] = {
        "",
        "[]",
        "{}",
        "not json",
        "{\"feeds\":[],\"feed\":0,\"level\":256}",                  /* no live */
        "{\"feeds\":[],\"feed\":0,\"level\":256,\"live\":1}",       /* live not a bool */
        "{\"feeds\":[],\"feed\":10,\"level\":256,\"live\":true}",   /* no such key */
        "{\"feeds\":[],\"feed\":-1,\"level\":256,\"live\":true}",
        "{\"feeds\":[],\"feed\":0,\"level\":257,\"live\":true}",
        "{\"feeds\":[],\"feed\":0,\"level\":12.5,\"live\":true}",
        "{\"feeds\":{},\"feed\":0,\"level\":256,\"live\":true}",
        "{\"feeds\":[{\"host\":\"127.0.0.1\"}],\"feed\":0,\"level\":256,\"live\":true}",
        "{\"feeds\":[{\"name\":7}],\"feed\":0,\"level\":256,\"live\":true}",
        "{\"feeds\":[],\"feed\":0,\"level\":256,\"live\":tr",
    };
    for (const char *text : refused) {
        control_answer untouched = a;
        EXPECT_EQ(control_parse_answer(text, strlen(text), &untouched), -1) << text;
        EXPECT_EQ(memcmp(&untouched, &a, sizeof a), 0) << text;
    }
}

TEST(ControlLevelKeys, NearestStepsEndsExactlyAndNeverDarkWhenDimming)
{
    struct row {
        int from, to;
        const char *keys;            /* nullptr: refused */
    } rows[] = {
        {256, 128, "dddddddd"},
        {256, 129, "dddddddd"},      /* 127 away: eight steps are nearest */
        {256, 0, "dddddddddddddddd"},
        {100, 256, "uuuuuuuuuu"},    /* 9.75 steps: the driver stops at 256 */
        {100, 0, "ddddddd"},         /* 6.25 steps: the driver stops at 0 */
        {256, 5, "ddddddddddddddd"}, /* 16 steps would be dark: 16 it is */
        {16, 8, ""},
        {0, 256, "uuuuuuuuuuuuuuuu"},
        {0, 1, ""},
        {128, 128, ""},
        {120, 128, "u"},             /* half way: up */
        {-1, 128, nullptr},
        {128, 257, nullptr},
    };
    for (const row &r : rows) {
        char keys[CONTROL_LEVEL_MAX / CONTROL_LEVEL_STEP + 1];
        int n = control_level_keys(r.from, r.to, keys, sizeof keys);
        if (!r.keys) {
            EXPECT_EQ(n, -1) << r.from << " -> " << r.to;
            continue;
        }
        ASSERT_GE(n, 0) << r.from << " -> " << r.to;
        EXPECT_EQ(std::string(keys, (size_t)n), r.keys) << r.from << " -> " << r.to;
    }
    char small[3];
    EXPECT_EQ(control_level_keys(256, 0, small, sizeof small), -1);
}

/* Turn the link until `done` holds or two seconds pass. */
template <class F> bool turn_until(control_link *l, F done)
{
    for (double end = loop_now() + 2; loop_now() < end;) {
        control_link_turn(l, loop_now());
        if (done())
            return true;
        usleep(2000);
    }
    return false;
}

TEST(ControlLink, AsksKeepsTheNewestAnswerAndNoticesSilence)
{
    int peer = open_socket();
    control_link l;
    control_link_init(&l, 0.05, 0.3);
    ASSERT_EQ(control_link_open(&l, "127.0.0.1", local_port(peer)), 0);
    EXPECT_EQ(control_link_turn(&l, loop_now()), 0);
    unsigned short from = 0;
    bool got = false;
    EXPECT_EQ(receive(peer, 1000, &got, &from), std::vector<unsigned char>{'?'}) << "asks at once";
    EXPECT_FALSE(control_link_reachable(&l, loop_now()));

    /* Of two answers waiting, the newer is kept; the same again is no news. */
    for (const char *a : {"first", "second"})
        send_to(peer, from, a, strlen(a));
    usleep(20000);
    EXPECT_EQ(control_link_turn(&l, loop_now()), 1);
    EXPECT_STREQ(l.answer, "second");
    EXPECT_TRUE(control_link_reachable(&l, loop_now()));
    send_to(peer, from, "second", 6);
    usleep(20000);
    EXPECT_EQ(control_link_turn(&l, loop_now()), 0);

    /* A datagram too long to be an answer is passed over. */
    std::string huge(CONTROL_LINK_ANSWER_MAX + 1, 'x');
    send_to(peer, from, huge.data(), huge.size());
    usleep(20000);
    control_link_turn(&l, loop_now());
    EXPECT_STREQ(l.answer, "second");

    /* A command is in flight until its answer is in. */
    drain(peer);
    ASSERT_EQ(control_link_send(&l, "u", 1, loop_now()), 0);
    EXPECT_EQ(receive(peer, 1000), std::vector<unsigned char>{'u'});
    EXPECT_FALSE(control_link_settled(&l, loop_now()));
    send_to(peer, from, "third", 5);
    ASSERT_TRUE(turn_until(&l, [&] { return control_link_settled(&l, loop_now()) != 0; }));
    EXPECT_STREQ(l.answer, "third");

    /* Silence: unreachable, said once; questions go on. */
    ASSERT_TRUE(turn_until(&l, [&] { return !control_link_reachable(&l, loop_now()); }));
    drain(peer);
    usleep(60000);
    control_link_turn(&l, loop_now());
    EXPECT_EQ(receive(peer, 1000), std::vector<unsigned char>{'?'});

    /* The peer gone altogether: sending fails softly, nothing blocks. */
    close(peer);
    for (int i = 0; i < 3; i++) {
        control_link_send(&l, "d", 1, loop_now());
        control_link_turn(&l, loop_now());
    }
    EXPECT_FALSE(control_link_reachable(&l, loop_now()));
    control_link_close(&l);
    EXPECT_EQ(control_link_send(&l, "d", 1, loop_now()), -1);
}

} // namespace
