// The sandbox every test runs in: fakes first on PATH and over the real programs, each recording
// its command line; a private empty /tmp; the host's folders read-only, the player's files private.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kvn_test_support.h"

namespace {

bool is_fake(const std::string &path) {
    return kvn_test::read_file(path).find("Recording stand-in for a player program") !=
           std::string::npos;
}

std::vector<std::string> entries(const char *folder) {
    std::vector<std::string> names;
    DIR *dir = opendir(folder);
    while (struct dirent *e = dir ? readdir(dir) : nullptr)
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    if (dir) closedir(dir);
    return names;
}

}  // namespace

TEST(Sandbox, FakesStandFirstAndOverTheRealProgramsAndRecordTheirCommandLines) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ(std::string(getenv("PATH")).rfind("/opt/kvn-fakes/bin:", 0), 0u) << getenv("PATH");
    for (std::string path : {"reboot", "hdparm", "sdparm", "power_led", "wget", "crontab", "pidof",
                             "/etc/shutdown.sh", "/vmk/apps/etc/transmission-remote-script"})
        EXPECT_TRUE(is_fake(path[0] == '/' ? path : "/opt/kvn-fakes/bin/" + path)) << path;
    // The real copies are replaced too, so an absolute path is no way out.
    for (const char *real : {"/sbin/reboot", "/usr/sbin/reboot", "/usr/bin/pidof", "/usr/bin/wget",
                             "/sbin/hdparm", "/usr/bin/crontab", "/sbin/poweroff"})
        EXPECT_TRUE(!kvn_test::exists(real) || is_fake(real)) << real;
    kvn_test::clear_fake_calls();
    for (const char *line :
         {"hdparm -y /dev/sda", "power_led  standby   1", "/etc/shutdown.sh 1", "reboot"})
        EXPECT_EQ(system(line), 0) << line;
    EXPECT_EQ(kvn_test::fake_calls(),
              (std::vector<std::string>{"hdparm -y /dev/sda", "power_led standby 1",
                                        "/etc/shutdown.sh 1", "reboot"}));
    // pidof answers what the test asks for.
    EXPECT_NE(system("pidof transmission-daemon"), 0);
    kvn_test::set_torrent_daemon_running(true);
    EXPECT_EQ(system("pidof transmission-daemon"), 0);
}

TEST(Sandbox, HostFoldersAreReadOnlyAndThePlayersFilesPrivate) {
    KVN_REQUIRE_SANDBOX();
    EXPECT_EQ(geteuid(), 0u) << "the library is tested as the player runs it, as root";
    // /tmp is empty but for the way to a shared checkout under /tmp, if that is where it lies.
    char cwd[4096] = "";
    const std::string here = std::string(getcwd(cwd, sizeof cwd) ? cwd : "") + "/";
    for (const std::string &e : entries("/tmp"))
        EXPECT_EQ(0u, here.rfind("/tmp/" + e + "/", 0)) << e;
    // Root is stopped by the read-only view; a user namespace's root by the host's owner already.
    for (const char *host :
         {"/usr/bin/pidof", "/usr/sbin/killall5", "/etc/hostname", "/proc/sys/kernel/hostname"}) {
        int fd = open(host, O_WRONLY);
        EXPECT_TRUE(fd == -1 && (errno == EROFS || errno == EACCES || errno == ENOENT))
            << host << ": " << strerror(errno);
    }
    EXPECT_TRUE(mkdir("/usr/kvn-sandbox-probe", 0755) == -1 && (errno == EROFS || errno == EACCES))
        << strerror(errno);
    // The player's fixed files: a plain /etc/mtab, /desktop.png, the settings folder.
    EXPECT_EQ(kvn_test::read_file("/etc/mtab"),
              "/dev/root / ext4 rw 0 0\nproc /proc proc rw 0 0\n");
    for (const char *path : {"/etc/mtab", "/desktop.png", "/opt/kvn/var/probe", "/dev/shm/probe"}) {
        kvn_test::write_file(path, "x");
        EXPECT_TRUE(kvn_test::read_file(path) == "x" && unlink(path) == 0) << path;
    }
    EXPECT_EQ(kvn_test::read_file("/opt/kvn/share/fonts/decker.ttf").substr(0, 4),
              std::string("\0\1\0\0", 4));
    EXPECT_NE(std::string(getenv("DFBARGS")).find("system=dummy"), std::string::npos);
    // Its own processes only: a stray kill(-1) or pidof cannot reach the host's.
    int processes = 0;
    for (const std::string &e : entries("/proc")) processes += isdigit(e[0]) != 0;
    EXPECT_LT(processes, 10);
}
