/* options_test.cpp -- parse_string as the patterns call it: key=value
 * pairs separated by single spaces, stored into the declared ints. */
#include "glim_host.h"

using namespace glim_host;

namespace {

/* The six settings of rise, declared as rise declares them. */
struct RiseSettings {
    int center = 5, speed = 3, diff = 20, bot = 0, mid = -40, top = -80;
};

class ParseString : public ::testing::Test {
protected:
    void SetUp() override
    {
        glim = load_glim();
        ASSERT_NE(glim.parse_string, nullptr);
    }
    int parse_rise(const char *text, RiseSettings &s)
    {
        std::string copy = text ? text : "";
        return glim.parse_string(text ? copy.data() : nullptr, (char *)"iiiiii", "center",
                                 &s.center, "speed", &s.speed, "diff", &s.diff, "bot",
                                 &s.bot, "mid", &s.mid, "top", &s.top);
    }
    Glim glim;
};

TEST_F(ParseString, NullStringChangesNothing)
{
    RiseSettings s;
    EXPECT_EQ(parse_rise(nullptr, s), 0);
    EXPECT_EQ(s.center, 5);
    EXPECT_EQ(s.top, -80);
}

TEST_F(ParseString, StoresOnlyTheKeysGiven)
{
    RiseSettings s;
    EXPECT_EQ(parse_rise("center=4", s), 0);
    EXPECT_EQ(s.center, 4);
    EXPECT_EQ(s.speed, 3);
    EXPECT_EQ(s.diff, 20);
    EXPECT_EQ(s.bot, 0);
    EXPECT_EQ(s.mid, -40);
    EXPECT_EQ(s.top, -80);

    RiseSettings t;
    parse_rise("center=4 speed=-2", t);
    EXPECT_EQ(t.center, 4);
    EXPECT_EQ(t.speed, -2);
    EXPECT_EQ(t.diff, 20);
}

TEST_F(ParseString, SpacingAndMalformedPairs)
{
    RiseSettings s;
    parse_rise("center=4  speed=2", s);  /* second key is " speed" */
    EXPECT_EQ(s.center, 4);
    EXPECT_EQ(s.speed, 3);

    RiseSettings t;
    parse_rise("foo speed=7 diff=9", t);  /* key "foo speed" matches nothing */
    EXPECT_EQ(t.speed, 3);
    EXPECT_EQ(t.diff, 9);

    RiseSettings u;
    parse_rise("no pairs at all", u);
    EXPECT_EQ(u.center, 5);

    RiseSettings v;
    parse_rise("Center=1 centre=2", v);  /* case and spelling matter */
    EXPECT_EQ(v.center, 5);
}

TEST_F(ParseString, ValueReading)
{
    RiseSettings s;
    parse_rise("center=", s);
    EXPECT_EQ(s.center, 0);

    RiseSettings t;
    parse_rise("center= speed=2", t);  /* nothing after '=' stores 0 */
    EXPECT_EQ(t.center, 0);
    EXPECT_EQ(t.speed, 2);

    RiseSettings u;
    parse_rise("diff=12abc top=  -7", u);
    EXPECT_EQ(u.diff, 12);
    EXPECT_EQ(u.top, -7);

    RiseSettings v;
    parse_rise("mid=x", v);
    EXPECT_EQ(v.mid, 0);

    /* Beyond the int range the value is held at the limit, not wrapped. */
    RiseSettings w;
    parse_rise("speed=99999999999 diff=-99999999999", w);
    EXPECT_EQ(w.speed, 2147483647);
    EXPECT_EQ(w.diff, -2147483647 - 1);
}

TEST_F(ParseString, RepeatedKeysAndFields)
{
    RiseSettings s;
    parse_rise("speed=1 speed=9", s);
    EXPECT_EQ(s.speed, 9);

    /* Two fields with one key: the one declared last receives it. */
    int first = -1, second = -1;
    char text[] = "dir=3";
    glim.parse_string(text, (char *)"ii", "dir", &first, "dir", &second);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(second, 3);
}

TEST_F(ParseString, FormatDecidesWhatIsStored)
{
    int v = 11;
    char text[] = "fade=4";
    EXPECT_EQ(glim.parse_string(text, (char *)""), 0);  /* empty format */
    glim.parse_string(text, (char *)"f", "fade", &v);    /* unknown letter */
    EXPECT_EQ(v, 11);
    glim.parse_string(text, (char *)"i", "fade", &v);
    EXPECT_EQ(v, 4);
    /* The string is left as it was. */
    EXPECT_STREQ(text, "fade=4");
}

} // namespace
