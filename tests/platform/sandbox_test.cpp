// The sandbox every test runs in: fakes first on PATH and over the real
// programs, a private empty /tmp, and a record of each fake's command line.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "kvn_test_support.h"

namespace {

std::string shell_output(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

const char kFakeMarker[] = "Recording stand-in for a player program";

bool is_fake(const std::string &path) {
    return kvn_test::read_file(path).find(kFakeMarker) != std::string::npos;
}

}  // namespace

TEST(Sandbox, StartsWithAnEmptyTmpAndTheFakesFirstOnPath) {
    KVN_REQUIRE_SANDBOX();
    DIR *dir = opendir("/tmp");
    ASSERT_NE(dir, nullptr);
    std::vector<std::string> entries;
    while (struct dirent *e = readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            entries.push_back(e->d_name);
    closedir(dir);
    EXPECT_TRUE(entries.empty()) << entries.front();

    std::string path = getenv("PATH");
    EXPECT_EQ(path.rfind("/opt/kvn-fakes/bin:", 0), 0u) << path;
    for (const char *name :
         {"reboot", "hdparm", "sdparm", "power_led", "wget", "crontab", "pidof"}) {
        std::string where = shell_output(std::string("command -v ") + name);
        EXPECT_EQ(where, std::string("/opt/kvn-fakes/bin/") + name);
        EXPECT_TRUE(is_fake(where)) << where;
    }
    // The real copies are replaced too, so an absolute path is no way out.
    for (const char *real :
         {"/sbin/reboot", "/usr/sbin/reboot", "/sbin/hdparm", "/usr/bin/crontab"}) {
        if (kvn_test::exists(real)) {
            EXPECT_TRUE(is_fake(real)) << real;
        }
    }
    EXPECT_TRUE(is_fake("/etc/shutdown.sh"));
    EXPECT_TRUE(is_fake("/vmk/apps/etc/transmission-remote-script"));
}

TEST(Sandbox, FakesRecordTheirExactCommandLinesInOrder) {
    KVN_REQUIRE_SANDBOX();
    // Nothing is run unless it resolves to a fake.
    for (const char *name : {"hdparm", "power_led", "reboot"})
        ASSERT_TRUE(is_fake(shell_output(std::string("command -v ") + name))) << name;
    ASSERT_TRUE(is_fake("/etc/shutdown.sh"));
    kvn_test::clear_fake_calls();

    EXPECT_EQ(system("hdparm -y /dev/sda"), 0);
    EXPECT_EQ(system("power_led  standby   1"), 0);
    EXPECT_EQ(system("/etc/shutdown.sh 1"), 0);
    EXPECT_EQ(system("reboot"), 0);
    std::vector<std::string> expected = {"hdparm -y /dev/sda", "power_led standby 1",
                                         "/etc/shutdown.sh 1", "reboot"};
    EXPECT_EQ(kvn_test::fake_calls(), expected);

    // pidof answers what the test asks for.
    EXPECT_NE(system("pidof transmission-daemon"), 0);
    kvn_test::set_torrent_daemon_running(true);
    EXPECT_EQ(system("pidof transmission-daemon"), 0);
    EXPECT_EQ(kvn_test::fake_calls().back(), "pidof transmission-daemon");
}
