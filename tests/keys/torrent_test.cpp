// The torrent daemon's schedule around standby (crontab and control script are recording fakes).
#include "keys/torrent.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

#include "kvn_test_support.h"

namespace {

using kvn_test::exists;
using kvn_test::read_file;
using kvn_test::write_file;

const char kCron[] =
    "*/10 * * * * /vmk/apps/etc/checktorrent.sh\n"
    "#0 * * * * /vmk/apps/etc/checktorrent.sh --old\n30 2 * * * /bin/backup\n";
const char kEdited[] =
    "#*/10 * * * * /vmk/apps/etc/checktorrent.sh\n"
    "#0 * * * * /vmk/apps/etc/checktorrent.sh --old\n30 2 * * * /bin/backup\n";
const char kSeeding[] = "1|2|100|4|5|6|0.5|Seeding|x|10|11|12|13|14|100|a b\n";
const char kScript[] = "/vmk/apps/etc/transmission-remote-script";
const char kRoot[] = "/tmp/cron/crontabs/root";
const char kNote[] = "/opt/kvn/var/torrent_crontab_note";  // kept between standby and wake-up

void install_program(const std::string &path, const std::string &body) {
    write_file(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}
// As an ordinary user of the box would (as root runs this as the user nobody).
std::string as_nobody(const std::string &command) {
    return "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '" + command +
           "' 2>/dev/null\n";
}
void made_by_nobody(const std::string &path) { system(as_nobody("umask 0; : > " + path).c_str()); }

class Torrent : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(100), kvn_test::set_torrent_daemon_running(true),
            kvn_test::clear_fake_calls();
        system("mkdir -p /tmp/cron/crontabs"), write_file("/tmp/cron/crontabs/root", kCron);
    }
    void TearDown() override { kvn_set_time_divisor(1); }
    std::string installed() { return read_file("/run/kvn-fakes/crontab.installed"); }
    std::chrono::milliseconds timed(int entering) {  // torrent_standby's wall time
        auto start = std::chrono::steady_clock::now();
        kvn::torrent_standby(entering);
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }
};

// No readable report (missing, or no file) lets the disks sleep, and a report read to its end
// without a busy torrent; a busy one found anywhere, or a report that does not end in time, keeps
// them spinning.
TEST_F(Torrent, TheMarkerUnlessAReportIsReadAsBusy) {
    std::string many;
    for (int i = 0; i < 12000; ++i) many += "1|2|3|4|5|6|0.5|Stopped|x|10|11|12|13|14|3|t\n";
    many += "1|2|3|4|5|6|0.5|Downloading|x|10|11|12|13|14|9|t\n";
    const std::string long_line =
        "1|2|3|4|5|6|0.5|Downloading|x|10|11|12|13|14|9|" + std::string(6000, 'n') + "\n";
    // The divisor of the player's time: 2 where the pauses are measured, 10 where a report is read
    // within its 10 s (1 s here, ample for a real one), 100 where nothing is read. The last line
    // without its line end is read too.
    const std::vector<std::tuple<const char *, bool, unsigned, std::function<void()>>> rows = {
        {"idle and complete, in any case", true, 2,
         [] {
             write_file("/tmp/bt_data", "1|2|100|4|5|6|0.5|iDLE|x|10|11|12|13|14|100|z\n1|2|3|4");
         }},
        {"missing after every try", true, 2, [] {}},
        {"a FIFO", true, 100, [] { mkfifo("/tmp/bt_data", 0666); }},
        {"a link to an endless device", true, 100, [] { symlink("/dev/zero", "/tmp/bt_data"); }},
        {"a folder", true, 100, [] { mkdir("/tmp/bt_data", 0755); }},
        {"one line of 1 MiB, no torrent", true, 10,
         [] { write_file("/tmp/bt_data", std::string(1 << 20, 'x')); }},
        {"a downloading torrent after 12 000 stopped ones", false, 10,
         [&] { write_file("/tmp/bt_data", many); }},
        {"a downloading torrent whose line is 6 046 bytes", false, 10,
         [&] { write_file("/tmp/bt_data", long_line); }},
        {"a report that does not end within 10 s", false, 10,
         [] { write_file("/tmp/bt_data", ""), truncate("/tmp/bt_data", 1ll << 40); }},  // sparse
        // The script ends by the library's first look (1 s); the sixth read is 4 s later, the
        // seventh 5 s (at half time: 0.5, 2.5 and 3 s). A real machine's timing, not qemu-user's.
        {"written before the seventh read only", false, 2,
         [] {
             install_program(
                 kScript,
                 "(sleep 2.75; echo '1|2|100|4|5|6|0.5|Seeding|x|10|11|12|13|14|100|a' > "
                 "/tmp/bt_data) &\n");
         }},
    };
    // A report that is there is read once, a missing one seven times with five pauses of a second.
    std::vector<std::chrono::milliseconds> took(rows.size());
    for (size_t i = 0; i < rows.size() - (kvn_test::emulated() ? 1 : 0); ++i) {
        const auto &[what, marked, divisor, plant] = rows[i];
        SCOPED_TRACE(what);
        system("rm -rf /tmp/bt_data /tmp/bt_hdd_spindown");
        plant();
        kvn_set_time_divisor(divisor);
        alarm(30);  // a wait on the FIFO would end the test here
        kvn_test::captured_stderr([&] { took[i] = timed(1); });
        alarm(0);
        EXPECT_EQ(marked, exists("/tmp/bt_hdd_spindown"));
        EXPECT_FALSE(exists("/tmp/cron_root_ori") || exists("/tmp/cron_root_temp"));
        EXPECT_LT(took[i], std::chrono::milliseconds(20000 / divisor + 2000));
    }
    EXPECT_GE(took[8], std::chrono::milliseconds(950)) << "a report is read for its 10 s";
    if (kvn_test::emulated())
        return;  // under qemu-user its shells alone take longer than the pauses
    EXPECT_GE(took[1] - took[0], std::chrono::milliseconds(2250)) << "five pauses of a second";
    EXPECT_LT(took[1] - took[0], std::chrono::milliseconds(2750));
}

TEST_F(Torrent, HangingScriptIsKilledAfterItsMinuteAndNotWaitedForOnceKilled) {
    // A tracer holds the hanging script: once killed it cannot be reaped, as one stuck in disk I/O.
    if (kvn_test::emulated()) GTEST_SKIP() << "qemu-user has no ptrace";
    install_program(kScript, "echo $$ > /tmp/script.pid\nexec sleep 30\n");
    pid_t tracer = -1;
    std::thread hold([&] {
        for (int i = 0; i < 500 && !exists("/tmp/script.pid"); ++i) usleep(2000);
        usleep(20000);
        pid_t script = atoi(read_file("/tmp/script.pid").c_str());
        if ((tracer = fork()) == 0)
            _exit(ptrace(PTRACE_SEIZE, script, nullptr, nullptr) + sleep(10));
    });
    std::chrono::milliseconds took;
    std::string err = kvn_test::captured_stderr([&] { took = timed(1); });
    hold.join();
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(took, std::chrono::milliseconds(550)) << "60 s / 100 before the kill";
    EXPECT_NE(std::string::npos, err.find("not waiting")) << err;
    EXPECT_TRUE(exists("/tmp/bt_hdd_spindown"));
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
}

TEST_F(Torrent, RootsCrontabGetsNothingFromAnotherUserOrThroughALink) {
    // Right after the copy and right before the install, an ordinary user appends a job to each.
    const std::string evil = "echo \"* * * * * /tmp/evil\" >> ";
    static const std::string job = "echo \"* * * * * /tmp/evil\" > " + std::string(kRoot);
    install_program(
        "/opt/kvn-fakes/bin/cp",
        "/bin/cp \"$@\" || exit 1\n" + as_nobody(evil + "/tmp/cron_root_ori") + "exit 0\n");
    install_program(
        "/opt/kvn-fakes/bin/crontab",
        as_nobody(evil + "/tmp/cron_root_temp") + "cp \"$1\" /run/kvn-fakes/crontab.installed\n");
    write_file("/run/kvn-fakes/bt_data", kSeeding);
    // Installed edited, or (a crontab that root alone cannot have written) not at all.
    std::vector<std::tuple<const char *, bool, std::function<void()>>> rows = {
        {"the edited file made beforehand by another user", true,
         [] { made_by_nobody("/tmp/cron_root_temp"); }},
        {"the edited file a link", true, [] { symlink("/opt/victim", "/tmp/cron_root_temp"); }},
        {"the copy a link", true, [] { symlink("/opt/victim", "/tmp/cron_root_ori"); }},
        {"the copy made beforehand by another user", true,
         [] { made_by_nobody("/tmp/cron_root_ori"); }},
        {"root's crontab a link to a file of root's", false,
         [] { rename(kRoot, "/tmp/cron/elsewhere"), symlink("../elsewhere", kRoot); }},
        {"root's crontab writable by others", false, [] { chmod(kRoot, 0666); }},
        {"its folder writable by others", false, [] { chmod("/tmp/cron/crontabs", 0777); }},
        {"root's crontab missing: nothing to copy", false, [] { remove(kRoot); }},
        {"cron's folders and root's crontab made by another user", false,
         [] {
             system(("rm -rf /tmp/cron\n" + as_nobody("mkdir -p /tmp/cron/crontabs && " + job))
                        .c_str());
         }},
        {"root's crontab another user's in a folder open to all", false,
         [] {
             system(("rm /tmp/cron/crontabs/root; chmod 1777 /tmp/cron/crontabs\n" + as_nobody(job))
                        .c_str());
         }},
    };
    for (const auto &[what, installs, plant] : rows) {
        SCOPED_TRACE(what);
        system("rm -rf /tmp/cron && mkdir -p /tmp/cron/crontabs");
        write_file(kRoot, kCron);
        write_file("/opt/victim", "precious\n");
        kvn_test::remove_file("/run/kvn-fakes/crontab.installed");
        plant();
        kvn::torrent_standby(1);
        EXPECT_EQ(installs ? kEdited : "", installed());
        EXPECT_EQ("precious\n", read_file("/opt/victim"));
        kvn::torrent_standby(0);  // the suspended jobs come back for the next row
        if (!installs) {
            EXPECT_EQ("", installed());
        }
    }
}

// Between standby entry and wake-up, each in a new process or both in one: the wake-up turns on
// what the installed standby turned off, no more; with no note to go by, every commented
// checktorrent job.
TEST_F(Torrent, TheWakeUpRestoresWhatTheStandbyInstalledOrWithoutANoteEveryJob) {
    install_program("/opt/kvn-fakes/bin/crontab",  // fails once when told to
                    "rm /tmp/crontab.fails 2>/dev/null && exit 1\ncp \"$1\" "
                    "/run/kvn-fakes/crontab.installed\n");
    write_file("/run/kvn-fakes/bt_data", kSeeding);
    const std::string job = "*/10 * * * * /vmk/apps/etc/checktorrent.sh\n", twin = "#" + job + job,
                      all_on = job + "0 * * * * /vmk/apps/etc/checktorrent.sh --old\n" +
                               "30 2 * * * /bin/backup\n";
    std::string boot = read_file("/proc/sys/kernel/random/boot_id");
    struct Row {
        const char *what;
        std::string crontab, woken;
        bool fails, restart;
        std::function<void()> between;
    };
    const Row rows[] = {
        {"crontab failed at entry after a standby; the job has a disabled twin", twin, twin, true,
         false, [] {}},
        {"folders put at both copies, one not empty", kCron, kCron, false, false,
         [] { system("mkdir -p /tmp/cron_root_ori/x /tmp/cron_root_temp"); }},
        {"the process restarted", kCron, kCron, false, true, [] {}},
        {"restarted; no note", kCron, all_on, false, true, [] { remove(kNote); }},
        {"restarted; the note left writable by others", kCron, all_on, false, true,
         [] { chmod(kNote, 0666); }},
        {"restarted; the note of another boot", kCron, all_on, false, true,
         [&] {
             std::string note = read_file(kNote);
             size_t at = note.find(boot.substr(0, 36));
             if (at != std::string::npos)
                 write_file(kNote, note.replace(at, 36, std::string(36, '0')));
         }},
    };
    auto in_a_new_process = [](const std::function<void()> &run) {
        if (pid_t child = fork(); child == 0) {
            run();
            _exit(0);
        } else {
            waitpid(child, nullptr, 0);
        }
    };
    auto standby = [&](int entering) {
        kvn::torrent_standby(entering);
        if (exists("/run/kvn-fakes/crontab.installed"))
            write_file(kRoot, installed());  // as cron keeps it
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        write_file(kRoot, row.crontab);
        kvn_test::remove_file(kNote);
        auto enter = [&] {
            if (row.fails) standby(1), standby(0), write_file("/tmp/crontab.fails", "");
            standby(1);
        };
        auto wake = [&] { row.between(), standby(0); };
        kvn_test::remove_file("/run/kvn-fakes/crontab.installed");
        if (row.restart)
            in_a_new_process(enter), in_a_new_process(wake);
        else
            in_a_new_process([&] { enter(), wake(); });
        EXPECT_EQ(row.woken, installed());
    }
}

// The control and power-off scripts (the latter in /) get descriptors 0 to 2 only; ls adds the one
// it reads.
TEST_F(Torrent, ChildrenGetOnlyTheStandardStreams) {
    kvn_test::start_display();                // DirectFB's descriptors and the framework's pipes
    int plain = open("/dev/null", O_RDONLY);  // and one of the application's own
    for (const char *program : {kScript, "/etc/shutdown.sh"})
        install_program(program, "pwd > /tmp/child.cwd\nexec ls /proc/self/fd > /tmp/child.fds\n");
    kvn::torrent_standby(1);
    EXPECT_EQ("0\n1\n2\n3\n", read_file("/tmp/child.fds"));
    kvn_test::remove_file("/tmp/child.fds");
    machine_off(0, 1);
    EXPECT_EQ("0\n1\n2\n3\n", read_file("/tmp/child.fds"));
    EXPECT_EQ("/\n", read_file("/tmp/child.cwd"));
    close(plain);
}

}  // namespace
