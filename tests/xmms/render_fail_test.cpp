/* render_fail_test.cpp -- a light back-end that refuses frames makes the
 * plug-in ask the player to switch it off, once per refused frame.
 *
 * This executable exports its own renderFrame (ENABLE_EXPORTS), which the
 * dynamic linker prefers to the built-in server's when the plug-in calls
 * it, as it would for any back-end a player preloads. */
#include "glim_host.h"
#include "support/udp.h"

using namespace glim_host;

namespace {
int render_calls;
int disable_requests;
void count_disable(VisPlugin *) { disable_requests++; }
} // namespace

extern "C" int renderFrame(int values[60])
{
    (void)values;
    render_calls++;
    return -1;
}

TEST(RenderFailure, AsksThePlayerToDisable)
{
    ASSERT_TRUE(ensure_display());
    Glim glim = load_glim();
    ASSERT_NE(glim.vp, nullptr);
    *glim.server_port = testing_udp::free_port();
    glim.vp->disable_plugin = count_disable;
    glim.vp->init();
    Spectrum s;
    fill(s, 0);
    StdoutCapture out;
    glim.vp->render_freq(s);
    glim.vp->render_freq(s);
    std::string text = out.finish();
    EXPECT_EQ(render_calls, 2);
    EXPECT_EQ(disable_requests, 2);
    /* nothing is printed for it beyond the scheduler's own lines */
    EXPECT_EQ(text.find("render"), std::string::npos) << text;

    /* a player that disables on request: cleanup from the callback */
    glim.vp->disable_plugin = [](VisPlugin *vp) {
        disable_requests++;
        vp->cleanup();
    };
    glim.vp->render_freq(s);
    EXPECT_EQ(disable_requests, 4);  /* the closing window asked again */
    glim.vp->render_freq(s);          /* late callback after disable */
    EXPECT_EQ(render_calls, 4);
}
