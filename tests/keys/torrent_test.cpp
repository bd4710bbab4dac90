// The torrent daemon's schedule around standby, with the crontab and the
// control script as recording fakes.
#include <gtest/gtest.h>

#include <chrono>

#include "keys/keys_internal.h"
#include "kvn_test_support.h"

namespace {

const char kCron[] =
    "*/10 * * * * /vmk/apps/etc/checktorrent.sh\n"
    "#0 * * * * /vmk/apps/etc/checktorrent.sh --old\n"
    "30 2 * * * /bin/backup\n";

class Torrent : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(100);
        kvn_test::set_torrent_daemon_running(true);
        system("mkdir -p /tmp/cron/crontabs");
        kvn_test::write_file("/tmp/cron/crontabs/root", kCron);
        kvn_test::clear_fake_calls();
    }
    void TearDown() override { kvn_set_time_divisor(1); }
    std::string installed() { return kvn_test::read_file("/run/kvn-fakes/crontab.installed"); }
};

TEST_F(Torrent, SeedingKeepsTheDisksSpinningAndTheScheduleSuspended) {
    kvn_test::write_file("/run/kvn-fakes/bt_data",
                         "1|2|100|4|5|6|0.5|Seeding|x|10|11|12|13|14|100|a b\n");
    torrent_standby(1);
    EXPECT_EQ("#*/10 * * * * /vmk/apps/etc/checktorrent.sh\n"
              "#0 * * * * /vmk/apps/etc/checktorrent.sh --old\n"
              "30 2 * * * /bin/backup\n",
              installed());
    EXPECT_EQ((std::vector<std::string>{"pidof transmission-daemon", "crontab /tmp/cron_root_temp",
                                        "transmission-remote-script -k"}),
              kvn_test::fake_calls());
    EXPECT_FALSE(kvn_test::exists("/tmp/bt_hdd_spindown"));
    EXPECT_FALSE(kvn_test::exists("/tmp/cron_root_ori"));
    EXPECT_FALSE(kvn_test::exists("/tmp/cron_root_temp"));

    kvn_test::write_file("/tmp/cron/crontabs/root", installed());
    torrent_standby(0);
    EXPECT_EQ("*/10 * * * * /vmk/apps/etc/checktorrent.sh\n"
              "0 * * * * /vmk/apps/etc/checktorrent.sh --old\n"
              "30 2 * * * /bin/backup\n",
              installed()) << "every commented checktorrent line comes back";
}

TEST_F(Torrent, IdleCompleteOrMissingReportLeavesTheMarker) {
    kvn_test::write_file("/run/kvn-fakes/bt_data",
                         "1|2|100|4|5|6|0.5|iDLE|x|10|11|12|13|14|100|z\n1|2|3|4\n");
    torrent_standby(1);
    EXPECT_TRUE(kvn_test::exists("/tmp/bt_hdd_spindown"));
    kvn_test::remove_file("/tmp/bt_hdd_spindown");
    kvn_test::remove_file("/run/kvn-fakes/bt_data");
    kvn_test::remove_file("/tmp/bt_data");
    auto start = std::chrono::steady_clock::now();
    torrent_standby(1);
    EXPECT_TRUE(kvn_test::exists("/tmp/bt_hdd_spindown")) << "no report: the disks may sleep";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(Torrent, HangingScriptIsKilledAfterItsMinute) {
    kvn_test::write_file("/run/kvn-fakes/script.sleep", "30\n");  // 50 minutes on the player's clock
    auto start = std::chrono::steady_clock::now();
    torrent_standby(1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(took, std::chrono::milliseconds(550)) << "60 s / 100 before the kill";
    EXPECT_TRUE(kvn_test::exists("/tmp/bt_hdd_spindown"));
}

TEST_F(Torrent, NoDaemonTouchesNothingAndABadCopyInstallsNothing) {
    kvn_test::set_torrent_daemon_running(false);
    torrent_standby(1);
    EXPECT_EQ((std::vector<std::string>{"pidof transmission-daemon"}), kvn_test::fake_calls());
    kvn_test::set_torrent_daemon_running(true);
    kvn_test::remove_file("/tmp/cron/crontabs/root");  // the copy fails
    kvn_test::clear_fake_calls();
    torrent_standby(0);
    for (const std::string &c : kvn_test::fake_calls())
        EXPECT_EQ(std::string::npos, c.find("crontab")) << "root's crontab must not be replaced";
}

}  // namespace
