/* hall_settings_test.cpp -- the serial line settings, built once against
 * each line speed. What init_lights hands to tcsetattr is recorded by
 * wrapping it at link time; a pty reports back all of it but PARENB. */
#include <gtest/gtest.h>
#include <string.h>
#include <termios.h>

#include "boxdriver/hall.h"
#include "boxdriver/box_support.h"

static struct termios handed;
static int handed_count;

extern "C" int __real_tcsetattr(int fd, int when, const struct termios *t);
extern "C" int __wrap_tcsetattr(int fd, int when, const struct termios *t)
{
    if (when == TCSANOW) {
        handed = *t;
        handed_count++;
    }
    return __real_tcsetattr(fd, when, t);
}

namespace {

#if BOX_BAUD == 57600
const tcflag_t EXPECTED_CFLAG = 0x1BB1; /* B57600|CS8|CREAD|PARENB|PARODD|CLOCAL */
const speed_t EXPECTED_SPEED = B57600;
#else
const tcflag_t EXPECTED_CFLAG = 0xBBF;  /* B38400|CS8|CREAD|PARENB|PARODD|CLOCAL */
const speed_t EXPECTED_SPEED = B38400;
#endif

TEST(BoxLineSettings, ExactlyTheLineSettingsAreHandedOver)
{
    box_test::Pty line;
    ASSERT_TRUE(line.open_pair());
    ASSERT_EQ(hall_set_device(line.path.c_str()), 0);
    handed_count = 0;
    ASSERT_EQ(init_lights(), 0);
    ASSERT_EQ(handed_count, 1);

    EXPECT_EQ(handed.c_cflag, EXPECTED_CFLAG);
    EXPECT_EQ(handed.c_iflag, (tcflag_t)IGNPAR);
    /* every other field zero: raw output, no echo, VMIN = VTIME = 0 */
    struct termios expected;
    memset(&expected, 0, sizeof expected);
    expected.c_cflag = EXPECTED_CFLAG;
    expected.c_iflag = IGNPAR;
    EXPECT_EQ(memcmp(&handed, &expected, sizeof expected), 0);

    /* and the line really runs with them (the pty drops PARENB) */
    struct termios back;
    ASSERT_EQ(tcgetattr(line.slave, &back), 0);
    EXPECT_EQ(back.c_cflag & ~(tcflag_t)PARENB, EXPECTED_CFLAG & ~(tcflag_t)PARENB);
    EXPECT_EQ(back.c_iflag, (tcflag_t)IGNPAR);
    EXPECT_EQ(back.c_oflag, 0u);
    EXPECT_EQ(back.c_lflag, 0u);
    EXPECT_EQ(back.c_cc[VMIN], 0);
    EXPECT_EQ(back.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&back), EXPECTED_SPEED);
    EXPECT_EQ(cfgetispeed(&back), EXPECTED_SPEED);

    /* a frame goes out intact at this speed */
    int values[60];
    for (int &v : values)
        v = 255;
    renderFrame(values);
    auto data = box_test::frame_data(box_test::read_bytes(line.master, 90, 5000));
    EXPECT_EQ(data, std::vector<unsigned char>(60, 1));
    deinit_lights();
    line.close_pair();
}

} // namespace
