/* hallsim_test.cpp -- the installed simulator, started from a folder of
 * its own under a private Xvfb: its textures come from the installed data
 * folder, unless the working directory has them. Holds the port_7879
 * lock (it binds the first free port from 7879). */
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <string>

#include "install/install_support.h"
#include "support/process.h"
#include "support/xvfb.h"

namespace tp = testing_process;
using namespace install_test;

namespace {

class InstalledHallsim : public ::testing::Test {
protected:
    void SetUp() override
    {
        xvfb = testing_xvfb::start();
        ASSERT_FALSE(xvfb.display.empty()) << "Xvfb did not start";
        dir = temp_dir();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override
    {
        tp::stop(sim, SIGKILL);
        sh("rm -rf " + single_quoted(dir));
        testing_xvfb::stop(xvfb);
    }
    void start()
    {
        sim = tp::start({TREE + "/bin/hallsim", "--window"}, -1, dir.c_str());
    }
    testing_xvfb::Server xvfb;
    std::string dir;
    tp::Child sim;
};

TEST_F(InstalledHallsim, FindsItsTexturesInTheInstalledDataFolder)
{
    start();
    /* The textures load before the socket opens. */
    EXPECT_TRUE(tp::wait_for_output(sim, "sock: ", 20000)) << tp::err(sim);
    EXPECT_EQ(tp::err(sim).find("Unable to load"), std::string::npos) << tp::err(sim);
}

TEST_F(InstalledHallsim, LooksInTheWorkingDirectoryFirst)
{
    std::ofstream(dir + "/ceiling.bmp") << "not a picture";
    start();
    ASSERT_TRUE(tp::wait_for(sim, 20000));
    EXPECT_EQ(tp::exit_code(sim), 1);
    EXPECT_EQ(tp::err(sim).rfind("Unable to load ceiling.bmp: ", 0), 0u) << tp::err(sim);
}

} // namespace
