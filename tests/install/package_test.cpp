/* package_test.cpp -- the Debian package: what it holds, what it depends
 * on, and, on a disposable machine as root, a real apt install and
 * removal. Everywhere else that part is skipped, since it changes the
 * machine: CI marks a disposable machine with CI=true or
 * HALL_DISPOSABLE_MACHINE=1. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install_support.h"

using namespace install_test;

namespace {

const char PACKAGE[] = "hallway-lights";

std::string deb()
{
    auto debs = files_in(PACKAGE_DIR);
    debs.erase(std::remove_if(debs.begin(), debs.end(),
                              [](const std::string &f) {
                                  return f.size() < 4 || f.substr(f.size() - 4) != ".deb";
                              }),
               debs.end());
    return debs.size() == 1 ? PACKAGE_DIR + "/" + debs[0] : std::string();
}

/* The paths in the package, "./usr/bin/boxdriver" and so on. */
std::vector<std::string> contents(const std::string &file)
{
    Output r = sh("dpkg-deb --fsys-tarfile " + single_quoted(file) + " | tar -t");
    std::vector<std::string> paths;
    size_t start = 0;
    while (start < r.out.size()) {
        size_t end = r.out.find('\n', start);
        paths.push_back(r.out.substr(start, end - start));
        start = end == std::string::npos ? r.out.size() : end + 1;
    }
    return paths;
}

bool holds(const std::vector<std::string> &paths, const std::string &path)
{
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

/* A file of the package, as text. */
std::string file_of(const std::string &file, const std::string &path)
{
    return sh("dpkg-deb --fsys-tarfile " + single_quoted(file) + " | tar -xO " + single_quoted(path)).out;
}

TEST(Package, HoldsEveryProgramWithItsPagePluginDataAndUnits)
{
    std::string file = deb();
    ASSERT_FALSE(file.empty()) << "one .deb in " << PACKAGE_DIR;
    auto paths = contents(file);
    for (const auto &program : built_programs()) {
        EXPECT_TRUE(holds(paths, "./usr/bin/" + program)) << program;
        EXPECT_TRUE(holds(paths, "./usr/share/man/man1/" + program + ".1.gz")) << program;
    }
    for (const char *path :
         {"./usr/lib/hallway-lights/libglim.so", "./usr/share/hallway-lights/wood.bmp",
          "./usr/share/hallway-lights/wall.bmp", "./usr/share/hallway-lights/carpet.bmp",
          "./usr/share/hallway-lights/ceiling.bmp", "./usr/share/hallway-lights/hall_config",
          "./usr/share/doc/hallway-lights/README.md",
          "./usr/share/doc/hallway-lights/copyright",
          "./usr/lib/systemd/system/hallway-boxdriver.service",
          "./usr/lib/systemd/user/hallway-show.service", "./etc/default/hallway-boxdriver",
          "./etc/default/hallway-show", "./usr/lib/systemd/system/hallway-mqtt.service",
          "./etc/default/hallway-mqtt"})
        EXPECT_TRUE(holds(paths, path)) << path;
    for (const auto &path : paths)
        EXPECT_TRUE(path.rfind("./usr/", 0) == 0 || path.rfind("./etc/", 0) == 0 ||
                    path == "./" || path.empty())
            << path;
    for (const auto &path : paths)
        EXPECT_EQ(path.find("/local/"), std::string::npos) << path;

    /* The units run the programs where the package puts them. */
    std::string driver = file_of(file, "./usr/lib/systemd/system/hallway-boxdriver.service");
    EXPECT_NE(driver.find("\nExecStart=/usr/bin/boxdriver "), std::string::npos) << driver;
    EXPECT_NE(driver.find("\nEnvironmentFile=-/etc/default/hallway-boxdriver\n"),
              std::string::npos);
    std::string terms = file_of(file, "./usr/share/doc/hallway-lights/copyright");
    EXPECT_EQ(terms.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/", 0), 0u);
    EXPECT_NE(terms.find("\nLicense: GPL-3+\n"), std::string::npos) << terms;
    EXPECT_NE(terms.find("qm-dsp"), std::string::npos);
    std::string show = file_of(file, "./usr/lib/systemd/user/hallway-show.service");
    EXPECT_NE(show.find("exec /usr/bin/glimhost --capture"), std::string::npos) << show;
    EXPECT_NE(show.find(" --headless"), std::string::npos);
    std::string bridge = file_of(file, "./usr/lib/systemd/system/hallway-mqtt.service");
    EXPECT_NE(bridge.find("exec /usr/bin/hallmqtt --broker "), std::string::npos) << bridge;
    EXPECT_NE(bridge.find("/etc/hallway-lights/mqtt-password"), std::string::npos) << bridge;
}

TEST(Package, DependsOnTheLibrariesItLinksAndOnXvfb)
{
    std::string file = deb();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(sh("dpkg-deb -f " + single_quoted(file) + " Package").out, std::string(PACKAGE) + "\n");
    std::string depends = sh("dpkg-deb -f " + single_quoted(file) + " Depends").out;
    /* From dpkg-shlibdeps: C library, SDL, GTK 2, FFTW, libsndfile,
     * PulseAudio, the MQTT client, cJSON and qm-dsp; and what no binary links. */
    for (const char *dep : {"libc6 ", "libsdl1.2debian", "libgtk2.0-0", "libfftw3-double3",
                            "libsndfile1", "libpulse0", "libmosquitto1", "libcjson1",
                            "libqm-dsp0", "xvfb", "ncurses-bin"})
        EXPECT_NE(depends.find(dep), std::string::npos) << dep << " in " << depends;

    /* The settings are the installer's: kept over upgrades and removal. */
    std::string control = temp_dir();
    ASSERT_EQ(sh("dpkg-deb -e " + single_quoted(file) + " " + single_quoted(control + "/c")).status, 0);
    std::string conffiles = sh("cat " + single_quoted(control + "/c/conffiles")).out;
    EXPECT_NE(conffiles.find("/etc/default/hallway-boxdriver\n"), std::string::npos) << conffiles;
    EXPECT_NE(conffiles.find("/etc/default/hallway-show\n"), std::string::npos) << conffiles;
    EXPECT_NE(conffiles.find("/etc/default/hallway-mqtt\n"), std::string::npos) << conffiles;
    for (const char *script : {"postinst", "prerm", "postrm"}) {
        Output r = sh("sh -n " + single_quoted(control + "/c/" + script));
        EXPECT_EQ(r.status, 0) << script << ": " << r.out;
    }
    sh("rm -rf " + single_quoted(control));
}

bool disposable_machine()
{
    const char *ci = getenv("CI");
    const char *marked = getenv("HALL_DISPOSABLE_MACHINE");
    return (ci && std::string(ci) == "true") || (marked && std::string(marked) == "1");
}

/* Whether dpkg knows the package in any state but "not installed". */
bool known_to_dpkg()
{
    Output q = sh("dpkg-query -W -f='${Status}' hallway-lights 2>/dev/null");
    return q.status == 0 && q.out.find("not-installed") == std::string::npos;
}

/* Purges the package when the test ends, however it ends. */
struct Purge {
    ~Purge() { sh("apt-get purge -y -o DPkg::Lock::Timeout=120 hallway-lights"); }
};

TEST(Package, InstallsWithAptAndRemovesCleanly)
{
    if (geteuid() != 0 || !disposable_machine())
        GTEST_SKIP() << "a real apt install changes the machine: only as root on a disposable "
                        "one (CI=true or HALL_DISPOSABLE_MACHINE=1)";
    if (known_to_dpkg())
        GTEST_SKIP() << "hallway-lights is on this machine already; left as it is";
    std::string file = deb();
    ASSERT_FALSE(file.empty());

    Purge purge;
    const std::string apt = "DEBIAN_FRONTEND=noninteractive apt-get -y -o DPkg::Lock::Timeout=120 ";
    Output install = sh(apt + "install " + single_quoted(file));
    ASSERT_EQ(install.status, 0) << install.out;

    /* On the PATH, from anywhere; the plug-in and the data found. */
    std::string elsewhere = temp_dir();
    std::string in = "cd " + single_quoted(elsewhere) + " && env -u DISPLAY PATH=/usr/bin:/bin ";
    Output help = sh(in + "boxdriver --help");
    EXPECT_EQ(help.status, 0) << help.out;
    Output patterns = sh(in + "glimhost --list-patterns");
    EXPECT_EQ(patterns.status, 0) << patterns.out;
    EXPECT_NE(patterns.out.find("sine_wave"), std::string::npos);
    rmdir(elsewhere.c_str());
    EXPECT_NE(sh("dpkg -L hallway-lights").out.find("/usr/share/man/man1/glimhost.1.gz"),
              std::string::npos);
    Output verify = sh("systemd-analyze verify /usr/lib/systemd/system/hallway-boxdriver.service");
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(sh("systemctl is-enabled hallway-boxdriver.service").out, "disabled\n");
    const std::string wants = "/etc/systemd/system/multi-user.target.wants/hallway-boxdriver.service";
    EXPECT_EQ(sh("systemctl enable hallway-boxdriver.service").status, 0);
    EXPECT_TRUE(exists(wants));

    /* Removal takes the files, and the unit's enablement with them, and
     * leaves the settings; purging takes those too. */
    Output remove = sh(apt + "remove hallway-lights");
    ASSERT_EQ(remove.status, 0) << remove.out;
    EXPECT_FALSE(exists(wants)) << "a link to a unit that is gone";
    EXPECT_FALSE(exists("/usr/bin/boxdriver"));
    EXPECT_FALSE(exists("/usr/lib/hallway-lights/libglim.so"));
    EXPECT_FALSE(exists("/usr/lib/systemd/system/hallway-boxdriver.service"));
    EXPECT_TRUE(exists("/etc/default/hallway-boxdriver"));
    Output purged = sh(apt + "purge hallway-lights");
    ASSERT_EQ(purged.status, 0) << purged.out;
    EXPECT_FALSE(exists("/etc/default/hallway-boxdriver"));
    EXPECT_FALSE(exists("/etc/default/hallway-show"));
    EXPECT_FALSE(known_to_dpkg());
}

} // namespace
