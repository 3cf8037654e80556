/* plugin_test.cpp -- the plug-in as a player sees it: the record from
 * get_vplugin_info, enable/disable, the spectrum callback with its
 * scheduler and analysis, the preview window (on a private Xvfb) and the
 * frames on the network. A recording pattern, installed with
 * glim_set_fixed_pattern, shows what the scheduler hands to a pattern. */
#include <cmath>

#include "glim_host.h"
#include "support/udp.h"
#include "xmms/src/xmms_logo.xpm"

using namespace glim_host;

namespace {

/* Row numbers of every "calling init for pattern N" line, in order. */
std::vector<int> init_rows(const std::string &text)
{
    std::vector<int> rows;
    const std::string key = "calling init for pattern ";
    for (size_t p = text.find(key); p != std::string::npos; p = text.find(key, p + 1))
        rows.push_back(atoi(text.c_str() + p + key.size()));
    return rows;
}

std::string init_line(int row)
{
    return "calling init for pattern " + std::to_string(row) + "\n";
}

int disable_requests;
void count_disable(VisPlugin *) { disable_requests++; }

/* Bins that make up bar i of the analysis. */
const int xscale[] = {0, 1, 2, 3, 5, 7, 10, 14, 20, 28, 40};

void set_bar(Spectrum s, int bar, int16_t v)
{
    for (int c = xscale[bar]; c < xscale[bar + 1]; c++)
        s[0][c] = v;
}

class Plugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensure_display()) << "no X server";
        recorder::reset();
        disable_requests = 0;
        glim = load_glim();
        ASSERT_NE(glim.vp, nullptr);
        port = testing_udp::free_port();
        *glim.server_port = port;
        glim.vp->disable_plugin = count_disable;
        fill(silence, 0);
        fill(loud, 32767);
    }
    void TearDown() override
    {
        if (glim.vp)
            glim.vp->cleanup();
        pump_events();
    }
    /* Enable with the recording pattern in place of the table. */
    void enable_recorder(const char *options = nullptr)
    {
        ASSERT_EQ(glim.set_fixed_pattern(&recorder::info, options), 0);
        glim.vp->init();
        pump_events();
    }
    void render(Spectrum s, int times = 1)
    {
        for (int i = 0; i < times; i++)
            glim.vp->render_freq(s);
    }
    Glim glim;
    unsigned short port = 0;
    Spectrum silence, loud;
};

/* ---- the record ---- */

TEST_F(Plugin, RecordAsThePlayerSeesIt)
{
    VisPlugin *vp = glim.vp;
    EXPECT_STREQ(vp->description, "Corridon Controller 0.1.0");
    EXPECT_EQ(vp->num_pcm_chs_wanted, 0);
    EXPECT_EQ(vp->num_freq_chs_wanted, 1);
    EXPECT_NE(vp->init, nullptr);
    EXPECT_NE(vp->cleanup, nullptr);
    EXPECT_EQ(vp->about, nullptr);
    EXPECT_EQ(vp->configure, nullptr);
    EXPECT_NE(vp->playback_start, nullptr);
    EXPECT_NE(vp->playback_stop, nullptr);
    EXPECT_EQ(vp->render_pcm, nullptr);
    EXPECT_NE(vp->render_freq, nullptr);
    EXPECT_EQ(glim.sym<VisPlugin *>("glim_vp"), vp);
    /* the built-in server and its contract are there for a player, on
     * the plug-in's port */
    EXPECT_EQ(*load_glim().server_port, 7878);
    for (const char *f : {"init_lights", "deinit_lights", "renderFrame", "light_state"})
        EXPECT_NE(glim.sym<void *>(f), nullptr) << f;
    /* the core's own functions stay private */
    for (const char *f : {"glim_init", "glim_render_freq", "draw_func", "glim_analyze_freq"})
        EXPECT_EQ(glim.sym<void *>(f), nullptr) << f;
}

TEST_F(Plugin, FixedPatternHookRejectsIncompleteRecords)
{
    pattern_info no_frame = {recorder::init, nullptr, recorder::deinit};
    pattern_info no_init = {nullptr, recorder::frame, recorder::deinit};
    EXPECT_EQ(glim.set_fixed_pattern(&no_frame, nullptr), -1);
    EXPECT_EQ(glim.set_fixed_pattern(&no_init, nullptr), -1);
    EXPECT_EQ(glim.set_fixed_pattern(nullptr, nullptr), 0);
}

/* ---- scheduler ---- */

TEST_F(Plugin, FirstCallbackDrawsFromTheTable)
{
    glim.vp->init();
    StdoutCapture out;
    render(silence);
    std::string text = out.finish();
    std::vector<int> rows = init_rows(text);
    ASSERT_EQ(rows.size(), 1u) << text;
    EXPECT_GE(rows[0], 0);
    EXPECT_LE(rows[0], 5);
    EXPECT_EQ(text.rfind(init_line(rows[0]), 0), 0u) << text;
    /* the pattern's own lines, then the scheduler's empty line */
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find("\n\n"), std::string::npos) << text;
}

TEST_F(Plugin, TablePatternsRunInTurn)
{
    glim.vp->init();
    Spectrum s;
    StdoutCapture out;
    for (int k = 0; k < 3000; k++) {
        for (int j = 0; j < 256; j++)
            s[0][j] = (int16_t)((j * 131 + k * 977) % 32768);
        render(s);
    }
    std::string text = out.finish();
    int inits = count_of(text, "calling init for pattern");
    int deinits = count_of(text, "calling deinit for pattern");
    /* 3000 callbacks of at most 375 frames each: at least 8 draws */
    EXPECT_GE(inits, 8) << text;
    EXPECT_LE(deinits, inits);
    for (int row : init_rows(text)) {
        EXPECT_GE(row, 0);
        EXPECT_LT(row, 6);
    }
}

TEST_F(Plugin, FirstCallbackPrintsInitThenAnEmptyLine)
{
    enable_recorder();
    StdoutCapture out;
    render(silence);
    std::string text = out.finish();
    std::vector<int> rows = init_rows(text);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(text, init_line(rows[0]) + "\n");
    EXPECT_EQ(recorder::inits, 1);
    EXPECT_EQ(recorder::frames, 1);
    ASSERT_EQ(recorder::time_lefts.size(), 1u);
    EXPECT_GE(recorder::time_lefts[0], 125);
    EXPECT_LE(recorder::time_lefts[0], 374);
}

TEST_F(Plugin, PatternGetsTimeLeftPlusOneFrames)
{
    enable_recorder();
    StdoutCapture out;
    render(silence);
    int first = recorder::time_lefts.at(0);
    render(silence, first);
    EXPECT_EQ(recorder::frames, first + 1);
    EXPECT_EQ(recorder::inits, 1);
    EXPECT_EQ(recorder::deinits, 0);
    for (int i = 0; i <= first; i++)
        ASSERT_EQ(recorder::time_lefts[i], first - i);

    /* the next callback ends it and draws again, deinit first */
    render(silence);
    std::string text = out.finish();
    EXPECT_EQ(recorder::deinits, 1);
    EXPECT_EQ(recorder::inits, 2);
    std::vector<int> rows = init_rows(text);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(text, init_line(rows[0]) + "\ncalling deinit for pattern " +
                        std::to_string(rows[0]) + "\n" + init_line(rows[1]) + "\n");
}

TEST_F(Plugin, NegativeFrameStopsThePatternQuietly)
{
    recorder::fail_on_frame = 3;
    enable_recorder();
    StdoutCapture out;
    render(silence, 3);
    EXPECT_EQ(recorder::deinits, 1);
    EXPECT_EQ(recorder::inits, 1);
    render(silence);
    std::string text = out.finish();
    EXPECT_EQ(recorder::inits, 2);
    EXPECT_EQ(count_of(text, "calling deinit"), 0) << text;
    /* the stopped pattern's last frame was still the one written */
    EXPECT_EQ(recorder::frames, 4);
}

TEST_F(Plugin, OptionsReachInitAsAWritableCopy)
{
    enable_recorder("center=4 speed=2");
    render(silence);
    EXPECT_EQ(recorder::last_param, "center=4 speed=2");
    EXPECT_EQ(glim.set_fixed_pattern(&recorder::info, nullptr), 0);
    recorder::fail_on_frame = 2;
    render(silence, 2);
    EXPECT_EQ(recorder::last_param, "(null)");
}

TEST_F(Plugin, RefusingEveryDrawDoesNotHang)
{
    recorder::init_result = 1;
    enable_recorder();
    int sub = testing_udp::open_socket();
    unsigned char one = 1;
    testing_udp::send_to(sub, port, &one, 1);
    render(silence);  /* takes in the subscription */
    testing_udp::drain(sub);
    StdoutCapture out;
    render(silence);
    out.finish();
    EXPECT_GE(recorder::inits, 2);  /* it kept trying, then gave up */
    EXPECT_EQ(recorder::frames, 0);
    EXPECT_EQ(recorder::deinits, 0);
    bool got = false;
    auto frame = testing_udp::receive(sub, 1000, &got);
    EXPECT_TRUE(got) << "the frame path must go on";
    EXPECT_EQ(frame.size(), 60u);

    /* once a pattern accepts, the next callback runs it */
    recorder::init_result = 0;
    int before = recorder::inits;
    render(silence);
    EXPECT_EQ(recorder::inits, before + 1);
    EXPECT_EQ(recorder::frames, 1);
    close(sub);
}

TEST_F(Plugin, SecondInitIsANoOp)
{
    StdoutCapture out;
    enable_recorder();
    glim.vp->init();
    pump_events();
    std::string text = out.finish();
    EXPECT_EQ(count_of(text, "Network Lights Client Initialized."), 1) << text;
    EXPECT_EQ(preview_windows().size(), 1u);
}

TEST_F(Plugin, DisableAndEnableContinuesThePattern)
{
    enable_recorder();
    render(silence, 5);
    glim.vp->cleanup();
    pump_events();
    EXPECT_EQ(disable_requests, 1);  /* the destroyed window asked too */
    glim.vp->init();
    pump_events();
    render(silence, 5);
    EXPECT_EQ(recorder::inits, 1);
    EXPECT_EQ(recorder::deinits, 0);
    ASSERT_EQ(recorder::time_lefts.size(), 10u);
    for (int i = 1; i < 10; i++)
        EXPECT_EQ(recorder::time_lefts[i], recorder::time_lefts[0] - i);
}

TEST_F(Plugin, ClosingTheWindowAsksToDisable)
{
    enable_recorder();
    glim.vp->playback_start();
    render(loud);
    auto windows = preview_windows();
    ASSERT_EQ(windows.size(), 1u);
    gtk_widget_destroy(windows[0]);
    pump_events();
    EXPECT_EQ(disable_requests, 1);
    EXPECT_TRUE(preview_windows().empty());

    /* without a window the bars stay frozen, frames still go out */
    std::vector<int> before(recorder::heights, recorder::heights + 10);
    render(silence, 20);
    EXPECT_EQ(std::vector<int>(recorder::heights, recorder::heights + 10), before);
    EXPECT_EQ(recorder::frames, 21);
    glim.vp->playback_stop();
    glim.vp->playback_start();
    glim.vp->cleanup();
    glim.vp->playback_stop();
    EXPECT_EQ(disable_requests, 1);
}

TEST_F(Plugin, EnableAfterTheWindowWasClosedBuildsANewOne)
{
    enable_recorder();
    gtk_widget_destroy(preview_windows().at(0));
    pump_events();
    glim.vp->init();  /* a player that enables again without a disable */
    pump_events();
    EXPECT_EQ(preview_windows().size(), 1u);
    render(loud);
    EXPECT_EQ(recorder::heights[0], 43);  /* the analysis runs again */
}

/* ---- analysis ---- */

TEST_F(Plugin, LoudFirstCallback)
{
    enable_recorder();
    render(loud);
    /* 32767 -> v = 255 -> log level 99.93, height 99; average
     * (99.93 + 15 * 64) / 16; deviation 99 - 66 = 33, gain 1.002 */
    double level = std::log(255.0) * 100.0 / std::log(256.0);
    for (int i = 0; i < 10; i++) {
        EXPECT_NEAR(recorder::averages[i], (level + 15 * 64.0) / 16, 1e-9);
        EXPECT_EQ(recorder::heights[i], 43);
    }
}

TEST_F(Plugin, WorkedFall)
{
    enable_recorder();
    render(silence, 100);  /* averages near 0: a loud bin jumps high */
    Spectrum hit;
    fill(hit, 0);
    set_bar(hit, 4, 32767);
    render(hit);
    int peak = recorder::heights[4];
    ASSERT_GT(peak, 20);
    int fall[] = {0, 0, 1, 2, 3, 4, 6};
    for (int k = 1; k < 7; k++) {
        render(silence);
        EXPECT_EQ(recorder::heights[4], peak - fall[k]) << "after " << k;
    }
    /* it keeps falling, faster and faster */
    int last = recorder::heights[4];
    for (int k = 0; k < 12; k++) {
        render(silence);
        ASSERT_LT(recorder::heights[4], last) << "step " << k;
        last = recorder::heights[4];
    }
}

TEST_F(Plugin, SilenceSettlesIntoTenTenNine)
{
    enable_recorder();
    render(silence, 300);
    std::vector<std::vector<int>> tail(recorder::height_log.end() - 6,
                                       recorder::height_log.end());
    for (int bar = 0; bar < 10; bar++) {
        std::string seq;
        for (auto &h : tail)
            seq += std::to_string(h[bar]) + ",";
        EXPECT_TRUE(seq == "10,10,9,10,10,9," || seq == "10,9,10,10,9,10," ||
                    seq == "9,10,10,9,10,10,")
            << "bar " << bar << ": " << seq;
    }
}

TEST_F(Plugin, QuietAndNegativeBinsCountAsSilence)
{
    /* three libraries side by side, fed the same callbacks except for one
     * bar: silence, values 128..255 (v = 1) and negative values */
    Glim quiet = load_glim(), negative = load_glim();
    Glim *libs[] = {&glim, &quiet, &negative};
    int16_t fills[] = {0, 255, -32768};
    std::vector<std::vector<std::vector<int>>> logs;
    for (int l = 0; l < 3; l++) {
        recorder::reset();
        *libs[l]->server_port = testing_udp::free_port();
        libs[l]->vp->disable_plugin = count_disable;
        libs[l]->set_fixed_pattern(&recorder::info, nullptr);
        libs[l]->vp->init();
        for (int k = 0; k < 40; k++) {
            Spectrum s;
            fill(s, 0);
            set_bar(s, 0, k % 10 == 0 ? 32767 : 0);
            set_bar(s, 6, k % 10 == 0 ? 32767 : 0);
            for (int bar : {2, 6})
                if (k % 10 != 0)
                    set_bar(s, bar, k % 2 ? fills[l] : 0);
            libs[l]->vp->render_freq(s);
        }
        logs.push_back(recorder::height_log);
        libs[l]->vp->cleanup();
    }
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(logs[0], logs[2]);
}

/* ---- preview ---- */

/* The area's picture as 0xRRGGBB values. */
std::vector<uint32_t> read_preview()
{
    auto windows = preview_windows();
    if (windows.size() != 1)
        return {};
    GtkWidget *area = gtk_bin_get_child(GTK_BIN(windows[0]));
    for (int i = 0; i < 200 && !gdk_window_is_viewable(area->window); i++) {
        pump_events();
        usleep(10000);
    }
    pump_events();
    GdkImage *img = gdk_drawable_get_image(area->window, 0, 0, 250, 100);
    if (!img)
        return {};
    std::vector<uint32_t> px(250 * 100);
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 250; x++)
            px[y * 250 + x] = gdk_image_get_pixel(img, x, y) & 0xffffff;
    g_object_unref(img);
    return px;
}

uint32_t gradient(int y)
{
    if (y < 50)
        return 0xff0000u | (uint32_t)(y * 255 / 50) << 8;
    int i = y - 50;
    return (uint32_t)(255 - i * 255 / 50) << 16 | 0x00ff00u;
}

/* The logo's colour at (x, y), from the compiled-in picture. */
uint32_t logo_pixel(int x, int y)
{
    int colours = 17;
    char key = xmms_logo[1 + colours + y][x];
    for (int c = 0; c < colours; c++)
        if (xmms_logo[1 + c][0] == key)
            return (uint32_t)strtoul(strchr(xmms_logo[1 + c] + 1, '#') + 1, nullptr, 16);
    return 0xdeadbeef;
}

TEST_F(Plugin, PreviewDrawsBarsZeroAndNinetyNine)
{
    ASSERT_EQ(gdk_visual_get_system()->depth, 24);
    enable_recorder();
    glim.vp->playback_start();
    /* even bars: loud for a while, then silent (their average stays high,
     * so their target is 0); odd bars: silent, then one loud hit */
    Spectrum even, odd;
    fill(even, 0);
    fill(odd, 0);
    for (int bar = 0; bar < 10; bar++)
        set_bar(bar % 2 ? odd : even, bar, 32767);
    render(even, 70);
    render(silence, 15);
    render(odd);
    for (int bar = 0; bar < 10; bar++)
        ASSERT_EQ(recorder::heights[bar], bar % 2 ? 99 : 0) << "bar " << bar;

    std::vector<uint32_t> px = read_preview();
    ASSERT_EQ(px.size(), 25000u);
    for (int bar = 0; bar < 10; bar++)
        for (int x = 25 * bar; x < 25 * bar + 25; x++)
            for (int y = 0; y < 100; y++) {
                bool lit = bar % 2 && x < 25 * bar + 24 && y < 99;
                ASSERT_EQ(px[y * 250 + x], lit ? gradient(y) : 0u)
                    << "bar " << bar << " x " << x << " y " << y;
            }
    /* the gradient runs red, yellow, green */
    EXPECT_EQ(px[0 * 250 + 25], 0xff0000u);
    EXPECT_EQ(px[49 * 250 + 25], 0xfff900u);
    EXPECT_EQ(px[50 * 250 + 25], 0xffff00u);
    EXPECT_EQ(px[98 * 250 + 25], 0x0bff00u);

    /* playback stop brings the logo back */
    glim.vp->playback_stop();
    px = read_preview();
    ASSERT_EQ(px.size(), 25000u);
    for (int y = 0; y < 100; y += 7)
        for (int x = 0; x < 250; x += 11)
            ASSERT_EQ(px[y * 250 + x], logo_pixel(x, y)) << x << "," << y;
}

TEST_F(Plugin, LogoUntilPlaybackStarts)
{
    enable_recorder();
    render(loud, 3);  /* drawn into the live picture, not yet shown */
    std::vector<uint32_t> px = read_preview();
    ASSERT_EQ(px.size(), 25000u);
    EXPECT_EQ(px[50 * 250 + 10], logo_pixel(10, 50));
    EXPECT_EQ(px[5 * 250 + 200], logo_pixel(200, 5));
    glim.vp->playback_start();
    px = read_preview();
    ASSERT_EQ(px.size(), 25000u);
    EXPECT_EQ(px[98 * 250 + 0], gradient(98));  /* bar 0 is up */
    EXPECT_EQ(px[50 * 250 + 24], 0u);           /* the gap column */
}

/* ---- network ---- */

TEST_F(Plugin, SubscriberGetsOneFramePerCallback)
{
    enable_recorder();
    int sub = testing_udp::open_socket();
    unsigned char one = 1;
    testing_udp::send_to(sub, port, &one, 1);
    render(silence);
    testing_udp::drain(sub);
    for (int k = 2; k <= 6; k++) {
        render(silence);
        bool got = false;
        auto frame = testing_udp::receive(sub, 1000, &got);
        ASSERT_TRUE(got) << "callback " << k;
        ASSERT_EQ(frame.size(), 60u);
        for (int i = 0; i < 60; i++)
            ASSERT_EQ(frame[i], k) << "light " << i;  /* the recorder writes its frame number */
    }
    EXPECT_EQ(testing_udp::drain(sub), 0);
    close(sub);
}

} // namespace
