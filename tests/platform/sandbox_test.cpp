// The sandbox every test runs in: fakes first on PATH and over the real
// programs, a private empty /tmp, a record of each fake's command line, the
// host's folders read-only and the player's fixed files private.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // Only the way to a shared checkout under /tmp, if that is where it lies.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string shared = std::string(cwd).rfind("/tmp/", 0) == 0 ? std::string(cwd).substr(5) : "";
    shared = shared.substr(0, shared.find('/'));
    DIR *dir = opendir("/tmp");
    ASSERT_NE(dir, nullptr);
    std::vector<std::string> entries;
    while (struct dirent *e = readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != ".." && e->d_name != shared)
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
    for (const char *real : {"/sbin/reboot", "/usr/sbin/reboot", "/usr/bin/pidof", "/usr/bin/wget",
                             "/sbin/hdparm", "/usr/bin/crontab", "/sbin/poweroff"}) {
        if (kvn_test::exists(real)) {
            EXPECT_TRUE(is_fake(real)) << real;
        }
    }
    EXPECT_TRUE(is_fake("/etc/shutdown.sh"));
    EXPECT_TRUE(is_fake("/vmk/apps/etc/transmission-remote-script"));
}

TEST(Sandbox, FakesRecordTheirExactCommandLinesInOrder) {
    KVN_REQUIRE_SANDBOX();
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

TEST(Sandbox, HostFoldersAreReadOnlyAndThePlayersFixedFilesPrivate) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ(geteuid(), 0u) << "the library is tested as the player runs it, as root";

    // Neither a program nor a new file can reach the host's folders.
    for (const char *host : {"/usr/bin/pidof", "/usr/sbin/killall5", "/etc/hostname", "/proc/sys/kernel/hostname"}) {
        if (!kvn_test::exists(host)) continue;
        // Root is stopped by the read-only view; a user namespace's root
        // already by the host's owner, who is not its own.
        errno = 0;
        int fd = open(host, O_WRONLY);
        EXPECT_TRUE(fd == -1 && (errno == EROFS || errno == EACCES)) << host << ": " << strerror(errno);
        if (fd >= 0) close(fd);
    }
    errno = 0;
    EXPECT_EQ(mkdir("/usr/kvn-sandbox-probe", 0755), -1);
    EXPECT_TRUE(errno == EROFS || errno == EACCES) << strerror(errno);

    // The player's fixed files are private and writable: a plain /etc/mtab
    // that can be rewritten and removed, /desktop.png, the settings folder.
    struct stat st;
    ASSERT_EQ(lstat("/etc/mtab", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(kvn_test::read_file("/etc/mtab"), "/dev/root / ext4 rw 0 0\nproc /proc proc rw 0 0\n");
    kvn_test::write_file("/etc/mtab", "/dev/sda1 /tmp/usb ext3 rw 0 0\n");
    EXPECT_EQ(kvn_test::read_file("/etc/mtab"), "/dev/sda1 /tmp/usb ext3 rw 0 0\n");
    EXPECT_EQ(unlink("/etc/mtab"), 0);
    for (const char *path : {"/desktop.png", "/opt/kvn/var/probe", "/dev/shm/probe"}) {
        kvn_test::write_file(path, "x");
        EXPECT_TRUE(kvn_test::read_file(path) == "x" && unlink(path) == 0) << path;
    }
    EXPECT_EQ(kvn_test::read_file("/opt/kvn/share/fonts/decker.ttf").substr(0, 4), std::string("\0\1\0\0", 4));
    EXPECT_NE(std::string(getenv("DFBARGS")).find("system=dummy"), std::string::npos);

    // Its own processes only: a stray kill(-1) or pidof cannot reach the host's.
    int processes = 0;
    DIR *proc = opendir("/proc");
    ASSERT_NE(proc, nullptr);
    while (struct dirent *e = readdir(proc)) processes += e->d_name[0] >= '1' && e->d_name[0] <= '9';
    closedir(proc);
    EXPECT_LT(processes, 10);
}
