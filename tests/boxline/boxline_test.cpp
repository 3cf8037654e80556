/* boxline_test.cpp -- the serial line as both ends see it: frames byte
 * for byte, the line's timing, the dimming table and its inverse, and the
 * decoder on clean frames, on every kind of fault and on a device's
 * error marks. */
#include <gtest/gtest.h>

#include <vector>

#include "boxline/decode.h"
#include "boxline/line.h"
#include "boxline/scale_table.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes frame_of(const int levels[60])
{
    bytes out(BOXLINE_FRAME_BYTES);
    boxline_frame(levels, out.data());
    return out;
}

bytes frame_all(int level)
{
    int levels[60];
    for (int &l : levels)
        l = level;
    return frame_of(levels);
}

struct Decoded {
    boxline_decoder d;
    int levels[60];
    int frames = 0;
    explicit Decoded(int marked = 0)
    {
        boxline_decoder_init(&d, marked);
        for (int &l : levels)
            l = -1;
    }
    void feed(const bytes &b) { frames += boxline_decode(&d, b.data(), b.size(), levels); }
};

TEST(BoxlineFormat, FrameIsThirtyCommandsInLineOrder)
{
    int levels[60];
    for (int k = 0; k < 60; k++)
        levels[k] = k * 4;
    bytes f = frame_of(levels);
    ASSERT_EQ(f.size(), 90u);
    for (int c = 0; c < 30; c++) {
        int box = c / 3 + 1, pair = c % 3;
        EXPECT_EQ(f[3 * c], 0x80 | box << 2 | pair) << c;               /* address */
        EXPECT_EQ(f[3 * c + 1], scale_table[255 - levels[2 * c]]) << c;  /* first channel */
        EXPECT_EQ(f[3 * c + 2], scale_table[255 - levels[2 * c + 1]]) << c;
    }
    EXPECT_EQ(f[0], 0x84);  /* box 1, pair 0 */
    EXPECT_EQ(f[87], 0xAA); /* box 10, pair 2 */
    EXPECT_EQ(boxline_address(3, 1), 0x8D);
    EXPECT_EQ(frame_all(255)[1], 1);
    EXPECT_EQ(frame_all(0)[1], 119);
    EXPECT_EQ(frame_all(300)[1], 1) << "levels are clamped";
    EXPECT_EQ(frame_all(-5)[1], 119);

    int box, pair;
    EXPECT_TRUE(boxline_parse_address(0xAA, &box, &pair));
    EXPECT_EQ(box * 10 + pair, 102);
    for (int b : {0x80, 0x83, 0x87, 0xAB, 0xAC, 0xFF, 0x04})
        EXPECT_FALSE(boxline_parse_address((unsigned char)b, &box, &pair)) << b;
}

TEST(BoxlineFormat, TimingFollowsElevenBitsAByte)
{
    EXPECT_EQ(boxline_line_ns(38400, 90), 25781250);
    EXPECT_EQ(boxline_line_ns(57600, 90), 17187500);
    EXPECT_EQ(boxline_line_bytes(38400, 25781250), 90);
    EXPECT_EQ(boxline_line_bytes(38400, 25781249), 89);
    EXPECT_EQ(boxline_line_bytes(57600, 1000000000), 5236);
    EXPECT_EQ(boxline_line_bytes(38400, -5), 0);
    EXPECT_TRUE(boxline_baud_ok(38400) && boxline_baud_ok(57600));
    EXPECT_FALSE(boxline_baud_ok(9600));
}

TEST(BoxlineInverse, EveryDelayShowsTheHighestLevelThatSendsIt)
{
    for (int level = 0; level <= 255; level++) {
        unsigned char d = boxline_delay(level);
        int shown = boxline_level(d);
        EXPECT_GE(shown, level);
        EXPECT_EQ(boxline_delay(shown), d) << "level " << level;
        if (shown < 255) {
            EXPECT_NE(boxline_delay(shown + 1), d) << "not the highest, level " << level;
        }
    }
    EXPECT_EQ(boxline_level(1), 255);
    EXPECT_EQ(boxline_level(8), 254);
    EXPECT_EQ(boxline_level(119), 0);
    EXPECT_EQ(boxline_level(59), 132); /* levels 128..132 share 59 */
}

TEST(BoxlineInverse, DelaysBetweenEntriesShowTheNearestLevel)
{
    EXPECT_EQ(boxline_level(0), 255) << "earlier than full";
    EXPECT_EQ(boxline_level(4), 255); /* 1 -> 255, 8 -> 254: 3/7 of the way */
    EXPECT_EQ(boxline_level(5), 254);
    EXPECT_EQ(boxline_level(15), 252); /* halfway between 14 -> 253 and 16 -> 252 */
    EXPECT_EQ(boxline_level(112), 1); /* 109 -> 2, 119 -> 0 */
    EXPECT_EQ(boxline_level(118), 0);
    for (int d = 120; d < 128; d++)
        EXPECT_EQ(boxline_level((unsigned char)d), 0) << "later than off";
    for (int d = 1; d < 128; d++)
        EXPECT_LE(boxline_level((unsigned char)d), boxline_level((unsigned char)(d - 1)))
            << "later firing is never brighter, delay " << d;
}

TEST(BoxlineDecode, FramesComeBackAsTheLevelsTheTableExpresses)
{
    Decoded r;
    int levels[60];
    for (int k = 0; k < 60; k++)
        levels[k] = (k * 37) % 256;
    r.feed(frame_of(levels));
    EXPECT_EQ(r.frames, 1);
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(r.levels[k], boxline_level(boxline_delay(levels[k]))) << k;
    r.feed(frame_all(255));
    r.feed(frame_all(0));
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(r.levels[59], 0);
    EXPECT_EQ(r.d.counts.commands, 90);
    EXPECT_EQ(r.d.counts.bytes, 270);
    EXPECT_EQ(boxline_faults(&r.d.counts), 0);
}

TEST(BoxlineDecode, FaultsAreCountedByKindAndDecodingResumesAtTheNextAddress)
{
    Decoded r;
    r.feed({5, 6});                   /* delay bytes with no address */
    r.feed({0x84, 3, 0x85});          /* box 1 pair 0 cut short by pair 1 */
    r.feed({7, 7});                   /* ... which completes: lamps 2, 3 */
    r.feed({0x80, 1, 2, 0xAB, 3, 4, 0xFF, 5}); /* box 0, box 10 pair 3, box 31 */
    r.feed({0x88, 9});                /* box 2 pair 0, cut short ... */
    r.feed({0xAC});                   /* ... by box 11 */
    EXPECT_EQ(r.d.counts.stray, 2);
    EXPECT_EQ(r.d.counts.cut_short, 2);
    EXPECT_EQ(r.d.counts.bad_address, 4);
    EXPECT_EQ(r.d.counts.commands, 1);
    EXPECT_EQ(r.levels[0], -1) << "a command cut short sets nothing";
    EXPECT_EQ(r.levels[2], boxline_level(7));
    EXPECT_EQ(r.levels[6], -1);

    /* a whole frame after the garbage decodes exactly */
    r.feed(frame_all(128));
    EXPECT_EQ(r.frames, 1);
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(r.levels[k], 132) << k;
    EXPECT_EQ(boxline_faults(&r.d.counts), 8) << "the frame adds no faults";
}

TEST(BoxlineDecode, MarkedErrorsDropTheCommandUnderWay)
{
    Decoded r(1);
    /* box 1 pair 0 with its second delay received in error */
    r.feed({0x84, 1, 0xFF, 0x00, 9, 2});
    /* a break, then a real 0xff byte (an unknown address) and its data */
    r.feed({0xFF, 0x00, 0x00, 0xFF, 0xFF, 1, 2});
    /* split across calls: the mark's state carries over */
    r.feed({0x85, 4, 0xFF});
    r.feed({0x00});
    r.feed({0x33, 0x86, 8, 8});
    EXPECT_EQ(r.d.counts.line_errors, 3);
    EXPECT_EQ(r.d.counts.bad_address, 1);
    EXPECT_EQ(r.d.counts.stray, 0) << "the rest of a broken command is not stray";
    EXPECT_EQ(r.d.counts.commands, 1);
    EXPECT_EQ(r.d.counts.bytes, 14);
    EXPECT_EQ(r.levels[0], -1);
    EXPECT_EQ(r.levels[2], -1);
    EXPECT_EQ(r.levels[4], boxline_level(8));

    /* unmarked input takes 0xff 0x00 as two bytes like any others */
    Decoded plain;
    plain.feed({0x84, 1, 0xFF, 0x00, 9});
    EXPECT_EQ(plain.d.counts.line_errors, 0);
    EXPECT_EQ(plain.d.counts.cut_short, 1);
    EXPECT_EQ(plain.d.counts.bad_address, 1);
}

} // namespace
