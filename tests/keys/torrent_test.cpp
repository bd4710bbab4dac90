// The torrent daemon's schedule around standby: root's crontab at the entry and the wake-up, and
// the control script (the crontab program and the script are recording fakes).
#include "keys/torrent.h"

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include "kvn_test_support.h"

namespace {

using kvn_test::exists;
using kvn_test::read_file;
using kvn_test::write_file;

const std::string kJob = "*/10 * * * * /vmk/apps/etc/checktorrent.sh\n",
                  kOld = "0 * * * * /vmk/apps/etc/checktorrent.sh --old\n",
                  kOther = "30 2 * * * /bin/backup\n", kCron = kJob + "#" + kOld + kOther;
const char kRoot[] = "/tmp/cron/crontabs/root";
const char kNote[] = "/opt/kvn/var/torrent_crontab_note";  // kept between standby and wake-up
const char kInstalled[] = "/run/kvn-fakes/crontab.installed";

void install_program(const std::string &path, const std::string &body) {
    write_file(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

class Torrent : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(100);
        kvn_test::set_torrent_daemon_running(true);
        write_file("/run/kvn-fakes/bt_data", "1|2|100|4|5|6|0.5|Seeding|x|10|11|12|13|14|100|a\n");
    }
    void TearDown() override { kvn_set_time_divisor(1); }
};

// What root's crontab gets at standby entry and at the wake-up, both in one process or each in a
// new one: the checktorrent jobs off, then the same ones on again; nothing from a crontab that root
// alone cannot have written. With no note to go by (none, one of another boot) the wake-up turns on
// every commented checktorrent job. (Planted links and files: the file helpers' own tests.)
TEST_F(Torrent, RootsCrontabAtEntryAndWakeUp) {
    install_program(
        "/opt/kvn-fakes/bin/crontab",  // fails once when told to
        "rm /tmp/crontab.fails 2>/dev/null && exit 1\ncp \"$1\" " + std::string(kInstalled) + "\n");
    auto standby = [](int entering) {
        kvn_test::remove_file(kInstalled);
        kvn::torrent_standby(entering);
        if (exists(kInstalled)) write_file(kRoot, read_file(kInstalled));  // as cron keeps it
    };
    const std::function<void()> none = [] {};
    struct Row {
        const char *what;
        std::string crontab;
        std::function<void()> plant, between;
        bool restart;
        std::string entered, woken;
    };
    const std::string off = "#" + kJob + "#" + kOld + kOther, twin = "#" + kJob + kJob;
    const std::string all_on = kJob + kOld + kOther;
    const Row rows[] = {
        {"in one process", kCron, none, none, false, off, kCron},
        {"crontab writable by others", kCron, [] { chmod(kRoot, 0666); }, none, false, "", ""},
        {"its folder writable by others", kCron, [] { chmod("/tmp/cron/crontabs", 0777); }, none,
         false, "", ""},
        {"root's crontab missing", kCron, [] { remove(kRoot); }, none, false, "", ""},
        {"the install failed at entry after a standby; the job has a disabled twin", twin,
         [&] { standby(1), standby(0), write_file("/tmp/crontab.fails", ""); }, none, false, "",
         twin},
        {"folders put at both copies, one not empty", kCron, none,
         [] { system("mkdir -p /tmp/cron_root_ori/x /tmp/cron_root_temp"); }, false, off, kCron},
        {"the process restarted", kCron, none, none, true, off, kCron},
        {"restarted; no note", kCron, none, [] { remove(kNote); }, true, off, all_on},
        {"restarted; the note of another boot", kCron, none,
         [] { system("sed -i 's/[0-9a-f-]\\{36\\}/0/' /opt/kvn/var/torrent_crontab_note"); }, true,
         off, all_on},
    };
    auto in_a_new_process = [](const std::function<void()> &run) {
        if (pid_t child = fork(); child == 0) {
            run();
            _exit(0);
        } else {
            waitpid(child, nullptr, 0);
        }
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        system("rm -rf /tmp/cron /tmp/entered && mkdir -p /tmp/cron/crontabs");
        write_file(kRoot, row.crontab);
        kvn_test::remove_file(kNote);
        auto enter = [&] {
            row.plant();
            standby(1);
            write_file("/tmp/entered", read_file(kInstalled));
        };
        auto wake = [&] { row.between(), standby(0); };
        if (row.restart)
            in_a_new_process(enter), in_a_new_process(wake);
        else
            in_a_new_process([&] { enter(), wake(); });
        EXPECT_EQ(row.entered, read_file("/tmp/entered"));
        EXPECT_EQ(row.woken, read_file(kInstalled));
    }
}

// A tracer holds the hanging script: once killed it cannot be reaped, as one stuck in disk I/O.
// It is killed after its minute (600 ms here) and not waited for; the standby goes on.
TEST_F(Torrent, HangingScriptIsKilledAfterItsMinuteAndNotWaitedForOnceKilled) {
    if (kvn_test::emulated()) GTEST_SKIP() << "qemu-user has no ptrace";
    install_program("/vmk/apps/etc/transmission-remote-script",
                    "echo $$ > /tmp/script.pid\nexec sleep 30\n");
    pid_t tracer = -1;
    std::thread hold([&] {
        for (int i = 0; i < 500 && !exists("/tmp/script.pid"); ++i) usleep(2000);
        usleep(20000);
        pid_t script = atoi(read_file("/tmp/script.pid").c_str());
        if ((tracer = fork()) == 0)
            _exit(ptrace(PTRACE_SEIZE, script, nullptr, nullptr) + sleep(10));
    });
    auto start = std::chrono::steady_clock::now();
    kvn_test::captured_stderr([] { kvn::torrent_standby(1); });
    auto took = std::chrono::steady_clock::now() - start;
    hold.join();
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(took, std::chrono::milliseconds(550));
    EXPECT_TRUE(exists("/tmp/bt_hdd_spindown"));
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
}

}  // namespace
