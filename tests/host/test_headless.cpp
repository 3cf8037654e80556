/* test_headless.cpp -- glimhost --headless with the real plug-in on a free
 * port: without a display it starts a private one (Xvfb), sends frames,
 * and takes the server down with it on SIGTERM; with a display it uses
 * that one. */
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/host_run.h"
#include "support/udp.h"
#include "support/xvfb.h"

namespace tp = testing_process;

namespace {

const std::string libglim = HALL_BINARY_DIR "/lib/libglim.so";

/* Process ids of the children of `parent` whose command is `name`. */
std::vector<pid_t> children_named(pid_t parent, const std::string &name)
{
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent *e = readdir(proc)) {
        pid_t pid = atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        size_t close_paren = line.rfind(')');
        size_t open_paren = line.find('(');
        if (close_paren == std::string::npos || open_paren == std::string::npos)
            continue;
        std::string comm = line.substr(open_paren + 1, close_paren - open_paren - 1);
        int ppid = 0;
        char state;
        if (sscanf(line.c_str() + close_paren + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == parent && comm == name)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

/* A frame from the light server on `port` within the time, asking for
 * them as a subscriber does. */
bool frame_arrives(unsigned short port, int timeout_ms)
{
    int sock = testing_udp::open_socket();
    bool got = false;
    for (int waited = 0; waited < timeout_ms && !got; waited += 50) {
        testing_udp::send_to(sock, port, "A", 1);
        auto d = testing_udp::receive(sock, 50, &got);
        got = got && d.size() == 60;
    }
    close(sock);
    return got;
}

class Headless : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (access(libglim.c_str(), R_OK) != 0)
            GTEST_SKIP() << "plug-in not built: " << libglim;
        setenv("PULSE_SERVER", "unix:/nonexistent/glimhost-test", 1);
        port = testing_udp::free_port();
    }
    void TearDown() override { tp::stop(host, SIGKILL); }
    void start()
    {
        host = tp::start({GLIMHOST, "--headless", "--mute", "--port", std::to_string(port)});
    }
    unsigned short port = 0;
    tp::Child host;
};

TEST_F(Headless, WithoutADisplayRunsOnAPrivateOneAndStopsIt)
{
    unsetenv("DISPLAY");
    start();
    ASSERT_TRUE(tp::wait_for_output(host, "(Xvfb)\n", 20000)) << tp::err(host);
    EXPECT_TRUE(frame_arrives(port, 20000)) << tp::err(host);
    auto servers = children_named(host.pid, "Xvfb");
    ASSERT_EQ(servers.size(), 1u);

    kill(host.pid, SIGTERM);
    ASSERT_TRUE(tp::wait_for(host, 10000));
    host.pid = -1; /* reaped */
    EXPECT_EQ(tp::exit_code(host), 0) << tp::err(host);
    EXPECT_EQ(kill(servers[0], 0), -1) << "Xvfb outlived glimhost";
    EXPECT_EQ(errno, ESRCH);
}

TEST_F(Headless, WithADisplayUsesIt)
{
    testing_xvfb::Server xvfb = testing_xvfb::start();
    ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
    start();
    EXPECT_TRUE(frame_arrives(port, 20000)) << tp::err(host);
    EXPECT_TRUE(children_named(host.pid, "Xvfb").empty());
    EXPECT_EQ(tp::out(host).find("Xvfb"), std::string::npos);
    tp::stop(host);
    testing_xvfb::stop(xvfb);
}

} // namespace
