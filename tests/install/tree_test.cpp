/* tree_test.cpp -- the installed tree (make install into a staging folder,
 * and into a prefix): every program is there with a manual page (its
 * synopsis, options, exit status, files and related pages) and runs
 * from any folder, glimhost finds the installed plug-in, the example
 * channel map reads as the map it describes, the units pass systemd's
 * own check. */
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "boxdriver/hall.h"
#include "install/install_support.h"

using namespace install_test;

namespace {

class Tree : public ::testing::Test {
protected:
    void SetUp() override
    {
        elsewhere = temp_dir();
        ASSERT_FALSE(elsewhere.empty());
    }
    void TearDown() override { rmdir(elsewhere.c_str()); }

    /* Output an installed program from a folder that holds nothing of ours. */
    Output run_elsewhere(const std::string &program, const std::string &args)
    {
        return sh("cd " + single_quoted(elsewhere) + " && env -u DISPLAY " +
                  single_quoted(TREE + "/bin/" + program) + " " + args + " </dev/null");
    }
    std::string elsewhere;
};

TEST_F(Tree, EveryProgramIsInstalledWithItsManualPage)
{
    auto built = built_programs();
    ASSERT_GE(built.size(), 10u) << "programs in " HALL_BINARY_DIR "/bin";
    EXPECT_EQ(files_in(TREE + "/bin"), built);
    for (const auto &program : built) {
        std::string page = TREE + "/share/man/man1/" + program + ".1.gz";
        ASSERT_TRUE(exists(page)) << page;
        std::string upper;
        for (char c : program)
            upper += (char)toupper((unsigned char)c);
        Output head = sh("zcat " + single_quoted(page));
        EXPECT_EQ(head.status, 0);
        EXPECT_NE(head.out.find(".TH " + upper + " \"1\""), std::string::npos) << program;
        EXPECT_NE(head.out.find(".SH NAME\n" + program + " \\- "), std::string::npos) << program;
        for (const char *section : {".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH OPTIONS\n",
                                    ".SH \"EXIT STATUS\"\n", ".SH FILES\n", ".SH \"SEE ALSO\"\n"})
            EXPECT_NE(head.out.find(section), std::string::npos) << program << ": " << section;
    }
}

TEST_F(Tree, EveryProgramAnswersHelpAndVersionFromAnotherFolder)
{
    for (const auto &program : files_in(TREE + "/bin")) {
        Output help = run_elsewhere(program, "--help");
        EXPECT_EQ(help.status, 0) << program << ": " << help.out;
        EXPECT_NE(help.out.find("sage: "), std::string::npos) << program << ": " << help.out;

        Output version = run_elsewhere(program, "--version");
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.out.rfind(program + " (hallway-lights) ", 0), 0u) << version.out;
        EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << version.out;
    }
}

TEST_F(Tree, GlimhostFindsTheInstalledPlugin)
{
    ASSERT_FALSE(exists(TREE + "/lib/libglim.so")) << "the build tree's place";
    ASSERT_TRUE(exists(TREE + "/lib/hallway-lights/libglim.so"));
    Output r = run_elsewhere("glimhost", "--list-patterns");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("sine_wave\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("auto_pong\n"), std::string::npos) << r.out;
}

TEST_F(Tree, ExampleChannelMapIsTheIdentityItDescribes)
{
    std::string path = TREE + "/share/hallway-lights/hall_config";
    FILE *f = fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(hall_read_map(f), 120);
    fclose(f);
    const box_location *map = hall_map();
    for (int k = 0; k < 60; k++) {
        EXPECT_EQ(map[k].box, k / 6 + 1) << k;
        EXPECT_EQ(map[k].channel, k % 6 + 1) << k;
    }
    Output notes = sh("grep -c '^#' " + single_quoted(path));
    EXPECT_GT(atoi(notes.out.c_str()), 5) << "an example explains itself";
}

TEST_F(Tree, UnitsPassSystemdVerify)
{
    /* The prefix install: there the units' programs are where they say. */
    std::string runtime = temp_dir(); /* a user manager's runtime folder */
    int units = 0;
    for (const char *kind : {"system", "user"}) {
        std::string dir = PREFIX + "/lib/systemd/" + kind;
        for (const auto &unit : files_in(dir)) {
            std::string verify = std::string(kind) == "user"
                                     ? "XDG_RUNTIME_DIR=" + single_quoted(runtime) +
                                           " systemd-analyze --user verify "
                                     : "systemd-analyze verify ";
            Output r = sh("cd " + single_quoted(elsewhere) + " && " + verify + single_quoted(dir + "/" + unit));
            EXPECT_EQ(r.status, 0) << unit << ": " << r.out;
            EXPECT_EQ(r.out, "") << unit << ": no warnings either";
            units++;
        }
    }
    rmdir(runtime.c_str());
    EXPECT_GE(units, 2) << "hallway-boxdriver and hallway-show at least";
    EXPECT_TRUE(exists(PREFIX + "/lib/systemd/system/hallway-boxdriver.service"));
    EXPECT_TRUE(exists(PREFIX + "/lib/systemd/user/hallway-show.service"));
    EXPECT_TRUE(exists(PREFIX + "/etc/default/hallway-boxdriver"));
    EXPECT_TRUE(exists(PREFIX + "/etc/default/hallway-show"));
    EXPECT_TRUE(exists(PREFIX + "/lib/systemd/system/hallway-mqtt.service"));
    EXPECT_TRUE(exists(PREFIX + "/etc/default/hallway-mqtt"));
}

} // namespace
