/* hall_test.cpp -- the serial box back-end against a real pseudo-terminal:
 * the bytes of whole frames, the write boundaries, single commands, the
 * device's lifecycle and the channel map file. Writes are recorded by
 * wrapping write() at link time, so their sizes can be checked. */
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "boxdriver/hall.h"
#include "boxdriver/box_support.h"

using box_test::frame_data;
using box_test::level_byte;
using box_test::read_bytes;

/* Every write the back-end makes: descriptor and size. */
static std::vector<std::pair<int, size_t>> recorded_writes;

extern "C" ssize_t __real_write(int fd, const void *buf, size_t n);
extern "C" ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    recorded_writes.push_back({fd, n});
    return __real_write(fd, buf, n);
}

namespace {

class BoxHall : public ::testing::Test {
protected:
    box_test::Pty line;
    std::string dir, old_dir;

    void SetUp() override
    {
        ASSERT_TRUE(line.open_pair());
        dir = box_test::temp_dir();
        char cwd[PATH_MAX];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_dir = cwd;
        ASSERT_EQ(chdir(dir.c_str()), 0); /* "hall_config" is read from here */
        ASSERT_EQ(hall_set_device(line.path.c_str()), 0);
        recorded_writes.clear();
    }
    void TearDown() override
    {
        deinit_lights();
        line.close_pair();
        if (chdir(old_dir.c_str()) != 0) {
        }
        unlink((dir + "/hall_config").c_str());
        rmdir(dir.c_str());
    }
    void write_config(const std::string &text)
    {
        std::ofstream(dir + "/hall_config") << text;
    }
    /* The identity map as file text, pair k on line k. */
    static std::string identity_text(int pairs = 60)
    {
        std::string s;
        for (int k = 0; k < pairs; k++)
            s += std::to_string(k / 6 + 1) + " " + std::to_string(k % 6 + 1) + "\n";
        return s;
    }
    /* Render one frame and return its 60 data bytes in hardware order. */
    std::vector<unsigned char> render(int values[60])
    {
        EXPECT_EQ(renderFrame(values), 0);
        auto bytes = read_bytes(line.master, 90, 5000);
        EXPECT_EQ(bytes.size(), 90u);
        auto data = frame_data(bytes);
        EXPECT_EQ(data.size(), 60u) << "address bytes out of order";
        return data;
    }
    std::vector<unsigned char> render_all(int level)
    {
        int values[60];
        for (int &v : values)
            v = level;
        return render(values);
    }
};

TEST_F(BoxHall, WholeFramesCarryTheDimmingTableBytes)
{
    ASSERT_EQ(init_lights(), 0);
    /* full sends the earliest firing, off the latest */
    EXPECT_EQ(render_all(255), std::vector<unsigned char>(60, 1));
    EXPECT_EQ(render_all(0), std::vector<unsigned char>(60, 119));
    EXPECT_EQ(render_all(128), std::vector<unsigned char>(60, 59));
}

TEST_F(BoxHall, CommandsAreAddressedByBoxAndPair)
{
    ASSERT_EQ(init_lights(), 0);
    int values[60] = {0};
    values[14] = 255; /* box 3 (from 1), channel 3: pair 1, first channel */
    ASSERT_EQ(renderFrame(values), 0);
    auto bytes = read_bytes(line.master, 90, 5000);
    ASSERT_EQ(bytes.size(), 90u);
    EXPECT_EQ(bytes[0], 0x84);  /* box 1, pair 0 */
    EXPECT_EQ(bytes[21], 0x8D); /* box 3, pair 1 */
    EXPECT_EQ(bytes[22], 1);    /*   its first channel, full */
    EXPECT_EQ(bytes[23], 119);  /*   its second channel, off */
    EXPECT_EQ(bytes[87], 0xAA); /* box 10, pair 2 */
    for (size_t i = 0; i < bytes.size(); i++)
        EXPECT_EQ((bytes[i] & 0x80) != 0, i % 3 == 0) << "byte " << i;
}

TEST_F(BoxHall, FrameIsWrittenAtBoxBoundaries)
{
    ASSERT_EQ(init_lights(), 0);
    recorded_writes.clear();
    render_all(200);
    std::vector<size_t> sizes;
    for (auto &w : recorded_writes)
        if (w.first != line.master && w.first != line.slave)
            sizes.push_back(w.second);
    std::vector<size_t> expected = {3, 9, 9, 9, 9, 9, 9, 9, 9, 9, 6};
    EXPECT_EQ(sizes, expected);
}

TEST_F(BoxHall, LevelsOutsideTheByteRangeAreClamped)
{
    ASSERT_EQ(init_lights(), 0);
    int values[60] = {0};
    values[0] = -20;
    values[1] = 300;
    values[2] = INT_MIN;
    values[3] = INT_MAX;
    values[4] = 256;
    values[5] = -1;
    auto data = render(values);
    ASSERT_EQ(data.size(), 60u);
    EXPECT_EQ(data[0], 119);
    EXPECT_EQ(data[1], 1);
    EXPECT_EQ(data[2], 119);
    EXPECT_EQ(data[3], 1);
    EXPECT_EQ(data[4], 1);
    EXPECT_EQ(data[5], 119);
}

TEST_F(BoxHall, SetLightIntensityBuildsOneCommand)
{
    char out[3];
    EXPECT_EQ(set_light_intensity(10, 2, 255, 0, out), 0);
    EXPECT_EQ((unsigned char)out[0], 0xAA);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 119);
    EXPECT_EQ(set_light_intensity(1, 0, 1000, -1000, out), 0);
    EXPECT_EQ((unsigned char)out[0], 0x84);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 119);
}

TEST_F(BoxHall, BoxWriteRegSendsThreeSingleByteWrites)
{
    ASSERT_EQ(init_lights(), 0);
    recorded_writes.clear();
    EXPECT_EQ(box_write_reg(2, 1, 200, 5), 0);
    auto bytes = read_bytes(line.master, 3, 5000);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0x89, 0x48, 0x05}));
    ASSERT_EQ(recorded_writes.size(), 3u);
    for (auto &w : recorded_writes)
        EXPECT_EQ(w.second, 1u);
    /* sendbyte sets the high bit of a command and clears it in data */
    EXPECT_EQ(sendbyte(0x05, 1), 0);
    EXPECT_EQ(sendbyte((char)0xff, 0), 0);
    EXPECT_EQ(read_bytes(line.master, 2, 5000), (std::vector<unsigned char>{0x85, 0x7f}));
}

TEST_F(BoxHall, WithoutADeviceWritesFailAndFramesGoNowhere)
{
    EXPECT_EQ(deinit_lights(), -1); /* before any init_lights */
    testing::internal::CaptureStderr();
    EXPECT_EQ(box_write_reg(2, 1, 200, 5), -3);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("write: "), std::string::npos) << err;
    recorded_writes.clear();
    int values[60] = {0};
    EXPECT_EQ(renderFrame(values), 0);
    EXPECT_TRUE(recorded_writes.empty());
}

TEST_F(BoxHall, InitReportsAMissingDeviceByItsPath)
{
    ASSERT_EQ(hall_set_device("/dev/no-such-serial-line"), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(init_lights(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("/dev/no-such-serial-line: ", 0), 0u) << err;
    EXPECT_EQ(deinit_lights(), -1);
}

TEST_F(BoxHall, InitRefusesADeviceThatIsNotATerminal)
{
    ASSERT_EQ(hall_set_device("/dev/null"), 0);
    write_config("10 6\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(init_lights(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("tcsetattr: ", 0), 0u) << err;
    EXPECT_EQ(deinit_lights(), -1); /* the device was closed again */
}

TEST_F(BoxHall, DeviceOpensAndClosesOnce)
{
    ASSERT_EQ(init_lights(), 0);
    EXPECT_EQ(deinit_lights(), 0);
    EXPECT_EQ(deinit_lights(), -1);
    line.make_raw();
    ASSERT_EQ(init_lights(), 0); /* and opens again */
    EXPECT_EQ(render_all(0), std::vector<unsigned char>(60, 119));
}

TEST_F(BoxHall, LongDevicePathsWork)
{
    /* a USB adapter's stable name is far longer than "/dev/ttyS0" */
    std::string deep = dir;
    for (int i = 0; i < 8; i++) {
        deep += "/serial-by-id-usb-FTDI_FT232R_USB_UART_A50285BI-if00";
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    std::string link = deep + "/port0";
    ASSERT_EQ(symlink(line.path.c_str(), link.c_str()), 0);
    ASSERT_GT(link.size(), 400u);
    ASSERT_EQ(hall_set_device(link.c_str()), 0);
    EXPECT_EQ(std::string(hall_device()), link);
    ASSERT_EQ(init_lights(), 0);
    EXPECT_EQ(render_all(255), std::vector<unsigned char>(60, 1));
    deinit_lights();
    unlink(link.c_str());
    for (int i = 0; i < 8; i++) {
        rmdir(deep.c_str());
        deep.resize(deep.rfind('/'));
    }

    EXPECT_EQ(hall_set_device(std::string(PATH_MAX, 'x').c_str()), -1);
    EXPECT_EQ(hall_set_device(""), -1);
    EXPECT_EQ(std::string(hall_device()), link); /* unchanged */
}

/* ---- the channel map ---- */

TEST_F(BoxHall, WithoutAMapFileEveryValueKeepsItsIndex)
{
    ASSERT_EQ(init_lights(), 0);
    int values[60];
    for (int k = 0; k < 60; k++)
        values[k] = k * 4;
    testing::internal::CaptureStderr();
    auto data = render(values);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(data.size(), 60u);
    for (int k = 0; k < 60; k++)
        EXPECT_EQ(data[k], level_byte(k * 4)) << "hardware index " << k;
    const box_location *map = hall_map();
    EXPECT_EQ(map[0].box, 1);
    EXPECT_EQ(map[0].channel, 1);
    EXPECT_EQ(map[5].box, 1);
    EXPECT_EQ(map[5].channel, 6);
    EXPECT_EQ(map[6].box, 2);
    EXPECT_EQ(map[6].channel, 1);
    EXPECT_EQ(map[59].box, 10);
    EXPECT_EQ(map[59].channel, 6);
}

TEST_F(BoxHall, MapNumbersReadAsCIntegers)
{
    /* hex, octal, signs and any white space between the numbers */
    std::string text = "0x2\t03\n\n  +1   010 \n-0 0\n";
    text += identity_text().substr(identity_text().find('\n', 0) + 1);
    write_config(text);
    ASSERT_EQ(init_lights(), 0);
    const box_location *map = hall_map();
    EXPECT_EQ(map[0].box, 2);
    EXPECT_EQ(map[0].channel, 3);
    EXPECT_EQ(map[1].box, 1);
    EXPECT_EQ(map[1].channel, 8); /* box 1 channel 8 is hardware index 7 */
    EXPECT_EQ(map[2].box, 0);
    EXPECT_EQ(map[2].channel, 0);
}

TEST_F(BoxHall, OnlyTheCombinedIndexIsChecked)
{
    /* box 1 channel 7 is hardware index 6, the same as box 2 channel 1 */
    std::string text = identity_text();
    text.replace(0, 3, "1 7");
    write_config(text);
    ASSERT_EQ(init_lights(), 0);
    int values[60] = {0};
    values[0] = 255;
    testing::internal::CaptureStderr();
    auto data = render(values);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    /* entry 6 (value 0) comes later and wins hardware index 6 */
    EXPECT_EQ(data[6], 119);
    values[6] = 255;
    values[0] = 0;
    data = render(values);
    EXPECT_EQ(data[6], 1);
}

TEST_F(BoxHall, LaterEntryWinsAndUnnamedChannelsKeepTheirLevel)
{
    /* first light the whole line through the identity map */
    ASSERT_EQ(init_lights(), 0);
    render_all(255);
    deinit_lights();
    line.make_raw();

    /* then map frame value 0 onto box 10 channel 6 as well as value 59 */
    std::string text = identity_text();
    text.replace(0, 3, "10 6");
    write_config(text);
    ASSERT_EQ(init_lights(), 0);
    int values[60] = {0};
    values[0] = 128;
    values[59] = 0;
    auto data = render(values);
    EXPECT_EQ(data[59], 119); /* value 59, the later entry */
    EXPECT_EQ(data[0], 1);    /* nothing names index 0: still full */
    EXPECT_EQ(data[1], 119);
}

TEST_F(BoxHall, ShortMapFileLeavesTheLastEntryUnmapped)
{
    ASSERT_EQ(init_lights(), 0);
    render_all(255);
    deinit_lights();
    line.make_raw();

    write_config(identity_text(59)); /* 118 numbers */
    ASSERT_EQ(init_lights(), 0);
    EXPECT_EQ(hall_map()[59].box, 0);
    EXPECT_EQ(hall_map()[59].channel, 0);
    for (int frame = 0; frame < 2; frame++) {
        testing::internal::CaptureStderr();
        auto data = render_all(0);
        /* one message per bad entry, at every frame */
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "BAD MAPPING CODE!!\n\n\n");
        EXPECT_EQ(data[58], 119);
        EXPECT_EQ(data[59], 1); /* keeps its old level */
    }
}

TEST_F(BoxHall, OutOfRangeEntriesAreReportedEveryFrame)
{
    std::string text = "0 1\n11 1\n1 0\n2147483647 2147483647\n-2147483648 -5\n";
    text += "garbage\n";
    write_config(text);
    ASSERT_EQ(init_lights(), 0);
    const box_location *map = hall_map();
    EXPECT_EQ(map[0].box, 0);
    EXPECT_EQ(map[1].box, 11);
    EXPECT_EQ(map[5].box, 0); /* the reads stop at the word */
    int values[60];
    for (int &v : values)
        v = 255;
    testing::internal::CaptureStderr();
    render(values);
    std::string err = testing::internal::GetCapturedStderr();
    size_t count = 0;
    for (size_t at = err.find("BAD MAPPING CODE!!\n\n\n"); at != std::string::npos;
         at = err.find("BAD MAPPING CODE!!\n\n\n", at + 1))
        count++;
    EXPECT_EQ(count, 60u); /* every entry points nowhere */
}

} // namespace
