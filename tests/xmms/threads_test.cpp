/* threads_test.cpp -- the player's arrangement: GTK's main loop on one
 * thread with the GDK lock set up, spectrum callbacks on another. The
 * plug-in must take and give back the lock around its drawing and its
 * frame, or the two threads would block each other. */
#include <pthread.h>

#include "glim_host.h"
#include "support/udp.h"

using namespace glim_host;

namespace {

struct ThreadRun {
    Glim *glim;
    Spectrum *spectrum;
    int callbacks;
};

void *render_thread(void *arg)
{
    ThreadRun *run = (ThreadRun *)arg;
    for (int i = 0; i < run->callbacks; i++)
        run->glim->vp->render_freq(*run->spectrum);
    gdk_threads_enter();
    gtk_main_quit();
    gdk_threads_leave();
    return nullptr;
}

TEST(Threads, CallbacksFromARenderingThreadWhileGtkRuns)
{
    ASSERT_TRUE(ensure_display(true));
    recorder::reset();
    Glim glim = load_glim();
    ASSERT_NE(glim.vp, nullptr);
    *glim.server_port = testing_udp::free_port();
    glim.set_fixed_pattern(&recorder::info, nullptr);
    Spectrum loud;
    fill(loud, 20000);

    gdk_threads_enter();
    glim.vp->init();
    glim.vp->playback_start();
    ThreadRun run = {&glim, &loud, 300};
    pthread_t t;
    pthread_create(&t, nullptr, render_thread, &run);
    gtk_main();
    glim.vp->cleanup();
    gdk_threads_leave();
    pthread_join(t, nullptr);
    EXPECT_EQ(recorder::frames, 300);
}

} // namespace
