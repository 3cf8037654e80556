/* bmp_test.cpp -- LoadBMP turns a BMP file into OpenGL's layout: rows
 * bottom-up, red first, three bytes a pixel. Files are written by the
 * test; no X server is needed. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hallsim/hall.h"
#include "sim_support.h"

using sim_support::rgb;

namespace {

class Bmp : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/hallsim_bmpXXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override
    {
        for (auto &f : files)
            unlink(f.c_str());
        rmdir(dir.c_str());
    }
    std::string path(const char *name)
    {
        files.push_back(dir + "/" + name);
        return files.back();
    }
    /* Bytes of pixel (x, row) of the loaded surface, row 0 first in memory. */
    std::vector<int> bytes(SDL_Surface *s, int x, int row)
    {
        const unsigned char *p = (const unsigned char *)s->pixels + row * s->pitch + 3 * x;
        return {p[0], p[1], p[2]};
    }
    std::string dir;
    std::vector<std::string> files;
};

TEST_F(Bmp, RowsAreMirroredAndBytesSwappedMiddleRowIncluded)
{
    /* 2 x 3: top blue, middle a mix, bottom red. */
    std::string f = path("tiny.bmp");
    ASSERT_TRUE(sim_support::write_bmp(f, 2, 3, [](int, int y) {
        return y == 0 ? rgb{0, 0, 255} : y == 1 ? rgb{10, 20, 30} : rgb{255, 0, 0};
    }));
    SDL_Surface *s = LoadBMP(f.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->w, 2);
    EXPECT_EQ(s->h, 3);
    EXPECT_EQ(s->format->BytesPerPixel, 3);
    EXPECT_EQ(s->pitch, 8); /* 6 bytes padded to 4, as OpenGL unpacks by default */
    for (int x = 0; x < 2; x++) {
        EXPECT_EQ(bytes(s, x, 0), (std::vector<int>{255, 0, 0})) << "first row: bottom, red";
        EXPECT_EQ(bytes(s, x, 1), (std::vector<int>{10, 20, 30})) << "middle row in place";
        EXPECT_EQ(bytes(s, x, 2), (std::vector<int>{0, 0, 255})) << "last row: top, blue";
    }
    SDL_FreeSurface(s);
}

TEST_F(Bmp, EvenHeightAndOddWidthKeepEveryPixel)
{
    std::string f = path("grid.bmp");
    auto colour = [](int x, int y) { return rgb{x * 40 + 1, y * 50 + 2, x + y + 3}; };
    ASSERT_TRUE(sim_support::write_bmp(f, 5, 4, colour));
    SDL_Surface *s = LoadBMP(f.c_str());
    ASSERT_NE(s, nullptr);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 5; x++) {
            rgb c = colour(x, y);
            EXPECT_EQ(bytes(s, x, 3 - y), (std::vector<int>{c.r, c.g, c.b}))
                << "pixel " << x << "," << y;
        }
    SDL_FreeSurface(s);
}

TEST_F(Bmp, MissingFileReportsItsNameAndTheReason)
{
    std::string f = dir + "/ceiling.bmp";
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadBMP(f.c_str()), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Unable to load " + f + ": ", 0), 0u) << err;
    EXPECT_GT(err.size(), ("Unable to load " + f + ": \n").size()) << "SDL's reason follows";
    EXPECT_EQ(err.back(), '\n');
}

TEST_F(Bmp, FileThatIsNotABmpIsRefused)
{
    std::string f = path("text.bmp");
    FILE *out = fopen(f.c_str(), "w");
    ASSERT_NE(out, nullptr);
    fputs("this is not a picture at all, just some words\n", out);
    fclose(out);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadBMP(f.c_str()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Unable to load " + f + ": ", 0), 0u);
}

/* An 8-bit picture with a palette: brought to three bytes a pixel rather
 * than read as if it had them (which would run past each row). */
TEST_F(Bmp, PalettePictureIsConvertedToThreeBytesAPixel)
{
    std::string f = path("palette.bmp");
    const int w = 3, h = 2, row = 4;
    std::vector<unsigned char> b(54 + 2 * 4 + row * h, 0);
    auto le = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            b[at + i] = (unsigned char)(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    le(2, b.size(), 4);
    le(10, 54 + 8, 4);   /* pixels after two palette entries */
    le(14, 40, 4);
    le(18, w, 4);
    le(22, h, 4);
    le(26, 1, 2);
    le(28, 8, 2);        /* 8 bits a pixel */
    le(46, 2, 4);        /* colours used */
    /* palette: 0 = green, 1 = (1, 2, 3); stored blue, green, red, 0 */
    b[54] = 0, b[55] = 255, b[56] = 0;
    b[58] = 3, b[59] = 2, b[60] = 1;
    /* bottom row: 0 1 0, top row: 1 1 1 */
    b[62] = 0, b[63] = 1, b[64] = 0;
    b[66] = 1, b[67] = 1, b[68] = 1;
    FILE *out = fopen(f.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(b.data(), 1, b.size(), out);
    fclose(out);

    SDL_Surface *s = LoadBMP(f.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->format->BytesPerPixel, 3);
    EXPECT_EQ(bytes(s, 0, 0), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(bytes(s, 1, 0), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(bytes(s, 2, 0), (std::vector<int>{0, 255, 0}));
    for (int x = 0; x < 3; x++)
        EXPECT_EQ(bytes(s, x, 1), (std::vector<int>{1, 2, 3}));
    SDL_FreeSurface(s);
}

/* A top-down file (negative height) loads the same way up as any other. */
TEST_F(Bmp, TopDownPictureLoadsBottomRowFirst)
{
    std::string f = path("topdown.bmp");
    ASSERT_TRUE(sim_support::write_bmp(f, 1, 2, [](int, int y) {
        return y == 0 ? rgb{0, 0, 255} : rgb{255, 0, 0};
    }));
    /* turn the file round: top row first, height negative */
    FILE *io = fopen(f.c_str(), "r+b");
    ASSERT_NE(io, nullptr);
    unsigned char b[62];
    ASSERT_EQ(fread(b, 1, sizeof b, io), sizeof b);
    const int32_t h = -2;
    memcpy(b + 22, &h, 4);
    unsigned char bottom[4];
    memcpy(bottom, b + 54, 4);
    memcpy(b + 54, b + 58, 4);
    memcpy(b + 58, bottom, 4);
    rewind(io);
    ASSERT_EQ(fwrite(b, 1, sizeof b, io), sizeof b);
    fclose(io);
    SDL_Surface *s = LoadBMP(f.c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->h, 2);
    EXPECT_EQ(bytes(s, 0, 0), (std::vector<int>{255, 0, 0})) << "bottom: red";
    EXPECT_EQ(bytes(s, 0, 1), (std::vector<int>{0, 0, 255})) << "top: blue";
    SDL_FreeSurface(s);
}

/* SDL keeps a header's bit count in a byte, so counts of 256 and more wrap
 * round into formats its blitter cannot convert: a small depth with no
 * palette (the first file, found by fuzzing, crashed the blit) or a pixel
 * size outside 1..4. Each is refused with the usual message. */
TEST_F(Bmp, BitCountsThatWrapRoundAreRefused)
{
    const unsigned char found[70] = {
        0x42, 0x4d, 0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
        0x28, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xfe, 0xff, 0xff, 0xff, 0x00, 0x00,
        0x01, 0x18, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x13, 0x0b, 0x00, 0x00,
        0x13, 0x0b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0xfe,
        0x01, 0x03, 0x02, 0x01, 0x00, 0x00, 0x03, 0x02, 0x01, 0x03, 0x02, 0x01, 0x00, 0x00};
    /* 6145 as found; then 8 bits without a palette, 33 and 0 bytes a pixel */
    for (int bits : {6145, 2056, 264, 2041}) {
        std::vector<unsigned char> b(found, found + sizeof found);
        if (bits != 6145) {
            b[28] = (unsigned char)bits;
            b[29] = (unsigned char)(bits >> 8);
            b.resize(b.size() + 256, 0x11); /* rows enough for any of these sizes */
        }
        std::string f = path(("bits" + std::to_string(bits) + ".bmp").c_str());
        FILE *out = fopen(f.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fwrite(b.data(), 1, b.size(), out);
        fclose(out);
        testing::internal::CaptureStderr();
        SDL_Surface *s = LoadBMP(f.c_str());
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(s, nullptr) << bits << " bits a pixel";
        EXPECT_EQ(err.rfind("Unable to load " + f + ": ", 0), 0u) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    }
}

/* A file that ends inside the header it announces: SDL would fill the
 * missing fields from memory it never wrote. */
TEST_F(Bmp, FileEndingInsideItsHeaderIsRefused)
{
    const unsigned char head[30] = {0x42, 0x4d, 0x46, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0,
                                    0x28, 0, 0, 0, 0x02, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0,
                                    0x18, 0};
    for (size_t len : {10u, 17u, 30u}) {
        std::string f = path(("short" + std::to_string(len) + ".bmp").c_str());
        FILE *out = fopen(f.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fwrite(head, 1, len, out);
        fclose(out);
        testing::internal::CaptureStderr();
        EXPECT_EQ(LoadBMP(f.c_str()), nullptr) << len << " bytes";
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Unable to load " + f + ": file ends inside its header\n");
    }
}

TEST_F(Bmp, TheGeneratedTexturesLoad)
{
    for (const char *name : {"wood.bmp", "wall.bmp", "carpet.bmp", "ceiling.bmp"}) {
        std::string f = std::string(HALL_BINARY_DIR) + "/bin/" + name;
        SDL_Surface *s = LoadBMP(f.c_str());
        ASSERT_NE(s, nullptr) << f;
        EXPECT_GE(s->w, 64);
        EXPECT_GE(s->h, 64);
        EXPECT_EQ(s->format->BytesPerPixel, 3);
        SDL_FreeSurface(s);
    }
}

} // namespace
