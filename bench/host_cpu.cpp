/* host_cpu.cpp -- glimhost's share of one core while it runs the demo at
 * the player's rate (86 callbacks a second), muted, with the real plug-in
 * and its preview window on a private Xvfb. Measured from the child's
 * resource usage over about five seconds. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "support/process.h"
#include "support/xvfb.h"

namespace {

double seconds(const timeval &t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

double now_s(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* Run glimhost with the plug-in at `plugin` for 431 callbacks (5 s). */
void measure(const char *label, const std::string &plugin)
{
    std::vector<std::string> args{GLIMHOST, "--mute", "--frames", "431", "--port", "17979"};
    if (!plugin.empty()) {
        args.push_back("--plugin");
        args.push_back(plugin);
    }
    double start = now_s();
    auto c = testing_process::start(args);
    int status = 0;
    rusage use{};
    if (wait4(c.pid, &status, 0, &use) != c.pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        printf("host_cpu: %s: glimhost failed: %s\n", label, testing_process::err(c).c_str());
        return;
    }
    double wall = now_s() - start;
    double cpu = seconds(use.ru_utime) + seconds(use.ru_stime);
    printf("host_cpu: %s: %.2f s CPU in %.2f s, %.1f %% of one core (target under 5 %%)\n",
           label, cpu, wall, 100.0 * cpu / wall);
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string libglim = HALL_BINARY_DIR "/lib/libglim.so";
    if (access(libglim.c_str(), R_OK) != 0) {
        printf("host_cpu: skipped, %s not built\n", libglim.c_str());
        return 0;
    }
    auto x = testing_xvfb::start();
    if (x.display.empty()) {
        printf("host_cpu: skipped, Xvfb did not start\n");
        return 0;
    }
    measure("demo with libglim and its preview", libglim);
    testing_xvfb::stop(x);
    return 0;
}
