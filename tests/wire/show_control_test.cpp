/* show_control_test.cpp -- the light show's control words: every command
 * read as the show will read it, written back as the consumers write it,
 * and the answer line written and read back. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/show_control.h"

namespace {

TEST(ShowCommand, ReadsTheFiveCommandsAndRefusesEverythingElse)
{
    struct row {
        std::string datagram;
        int kind;                    /* -1: refused */
        const char *pattern, *options;
        int delay;
    } rows[] = {
        {"?", SHOW_ASK, "", nullptr, 0},
        {"?\n", SHOW_ASK, "", nullptr, 0},
        {"auto", SHOW_AUTO, "", nullptr, 0},
        {"next\r\n", SHOW_NEXT, "", nullptr, 0},
        {"delay 45", SHOW_DELAY, "", nullptr, 45},
        {"delay -2000", SHOW_DELAY, "", nullptr, -2000},
        {"delay 2000", SHOW_DELAY, "", nullptr, 2000},
        {"pattern rise", SHOW_PATTERN, "rise", nullptr, 0},
        {"pattern rise:center=4 speed=2", SHOW_PATTERN, "rise", "center=4 speed=2", 0},
        {"pattern warp_core:", SHOW_PATTERN, "warp_core", "", 0},
        {"pattern " + std::string(SHOW_NAME_MAX, 'a'), SHOW_PATTERN,
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", nullptr, 0},
        {"", -1, "", nullptr, 0},
        {"\n", -1, "", nullptr, 0},
        {"auto ", -1, "", nullptr, 0},
        {"Auto", -1, "", nullptr, 0},
        {"next\n\n", -1, "", nullptr, 0},
        {"q", -1, "", nullptr, 0},
        {"delay", -1, "", nullptr, 0},
        {"delay ", -1, "", nullptr, 0},
        {"delay 2001", -1, "", nullptr, 0},
        {"delay -2001", -1, "", nullptr, 0},
        {"delay 1.5", -1, "", nullptr, 0},
        {"delay +5", -1, "", nullptr, 0},
        {"delay  5", -1, "", nullptr, 0},
        {"pattern", -1, "", nullptr, 0},
        {"pattern ", -1, "", nullptr, 0},
        {"pattern :x", -1, "", nullptr, 0},
        {"pattern two words", -1, "", nullptr, 0},
        {"pattern " + std::string(SHOW_NAME_MAX + 1, 'a'), -1, "", nullptr, 0},
        {"pattern rise:" + std::string(SHOW_OPTIONS_MAX + 1, 'o'), -1, "", nullptr, 0},
        {"pattern rise:a\tb", -1, "", nullptr, 0},
        {std::string("au\0to", 5), -1, "", nullptr, 0},
        {std::string(SHOW_COMMAND_MAX + 1, ' '), -1, "", nullptr, 0},
    };
    for (const row &r : rows) {
        show_command c;
        char err[200] = "";
        int got = show_parse_command(r.datagram.data(), r.datagram.size(), &c, err, sizeof err);
        if (r.kind < 0) {
            EXPECT_EQ(got, -1) << "'" << r.datagram << "'";
            EXPECT_NE(err[0], '\0') << "a reason for '" << r.datagram << "'";
            EXPECT_EQ(strchr(err, '\n'), nullptr);
            continue;
        }
        ASSERT_EQ(got, 0) << "'" << r.datagram << "': " << err;
        EXPECT_EQ(c.kind, r.kind) << r.datagram;
        EXPECT_STREQ(c.pattern, r.pattern) << r.datagram;
        EXPECT_EQ(c.has_options, r.options != nullptr) << r.datagram;
        EXPECT_STREQ(c.options, r.options ? r.options : "") << r.datagram;
        EXPECT_EQ(c.delay_ms, r.delay) << r.datagram;

        /* What a consumer writes for it reads back the same. */
        char datagram[SHOW_COMMAND_MAX + 1];
        int n = show_format_command(datagram, sizeof datagram, &c);
        ASSERT_GT(n, 0) << r.datagram;
        show_command back;
        ASSERT_EQ(show_parse_command(datagram, (size_t)n, &back, nullptr, 0), 0) << datagram;
        EXPECT_EQ(memcmp(&back, &c, sizeof c), 0) << datagram;
    }

    /* A consumer cannot write what the show would refuse. */
    show_command bad;
    memset(&bad, 0, sizeof bad);
    bad.kind = SHOW_DELAY;
    bad.delay_ms = 5000;
    char datagram[SHOW_COMMAND_MAX + 1];
    EXPECT_EQ(show_format_command(datagram, sizeof datagram, &bad), -1);
    bad.kind = SHOW_PATTERN;
    snprintf(bad.pattern, sizeof bad.pattern, "two words");
    EXPECT_EQ(show_format_command(datagram, sizeof datagram, &bad), -1);
}

TEST(ShowAnswer, WrittenAndReadBackWithTheOptionalFields)
{
    const char *patterns[70];
    std::string long_name(SHOW_NAME_MAX + 5, 'p');
    patterns[0] = "sine_wave";
    patterns[1] = long_name.c_str();
    for (int i = 2; i < 70; i++)
        patterns[i] = "rise";
    show_state full = {"sine \"wave\"", 1, -45, patterns, 70, 1, 123.45, 1, 0, "no such pattern"};
    show_state bare = {nullptr, 0, 0, patterns, 1, 0, 0, 0, 0, nullptr};
    char line[SHOW_ANSWER_MAX];

    int n = show_format_answer(line, sizeof line, &full);
    ASSERT_GT(n, 0);
    EXPECT_EQ(line[n - 1], '\n');
    show_answer a;
    ASSERT_EQ(show_parse_answer(line, (size_t)n, &a), 0) << line;
    EXPECT_TRUE(a.has_pattern);
    EXPECT_STREQ(a.pattern, "sine \"wave\"");
    EXPECT_TRUE(a.fixed);
    EXPECT_EQ(a.delay_ms, -45);
    EXPECT_EQ(a.num_patterns, SHOW_MAX_PATTERNS);
    EXPECT_EQ(std::string(a.patterns[1]), long_name.substr(0, SHOW_NAME_MAX));
    EXPECT_TRUE(a.has_tempo);
    EXPECT_NEAR(a.tempo, 123.5, 0.051);
    EXPECT_TRUE(a.has_locked);
    EXPECT_FALSE(a.locked);
    EXPECT_TRUE(a.has_error);
    EXPECT_STREQ(a.error, "no such pattern");

    n = show_format_answer(line, sizeof line, &bare);
    EXPECT_STREQ(line, "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[\"sine_wave\"]}\n");
    ASSERT_EQ(show_parse_answer(line, (size_t)n, &a), 0);
    EXPECT_FALSE(a.has_pattern || a.fixed || a.has_tempo || a.has_locked || a.has_error);
    EXPECT_EQ(a.num_patterns, 1);

    EXPECT_EQ(show_format_answer(line, 20, &full), -1);
    EXPECT_STREQ(line, "");

    const char *refused[] = {
        "",
        "null",
        "{\"fixed\":false,\"delay\":0,\"patterns\":[]}",
        "{\"pattern\":3,\"fixed\":false,\"delay\":0,\"patterns\":[]}",
        "{\"pattern\":null,\"fixed\":0,\"delay\":0,\"patterns\":[]}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":2001,\"patterns\":[]}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0.5,\"patterns\":[]}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[1]}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":\"rise\"}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[],\"tempo\":\"fast\"}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[],\"tempo\":-1}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[],\"locked\":1}",
        "{\"pattern\":null,\"fixed\":false,\"delay\":0,\"patterns\":[],\"error\":false}",
    };
    for (const char *text : refused) {
        show_answer untouched = a;
        EXPECT_EQ(show_parse_answer(text, strlen(text), &untouched), -1) << text;
        EXPECT_EQ(memcmp(&untouched, &a, sizeof a), 0) << text;
    }
}

} // namespace
