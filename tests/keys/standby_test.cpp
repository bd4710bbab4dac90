// The power key's road: the picture goes off, the flash player runs the
// standby with the player's programs in order, and a wake-up key brings
// everything back.  Every program the standby runs is a recording fake.
#include <gtest/gtest.h>

#include <algorithm>

#include "host_stub.h"
#include "keys/keys_internal.h"
#include "kvn_app_harness.h"
#include "screensaver_stub.h"
#include "smpoutd_api.h"

using kvn_test::App;
using kvn_test::eventually;

namespace {

void press_in_standby(DFBInputDeviceKeySymbol key) {
    IDirectFBEventBuffer *buffer = kvn_standby_input_buffer();
    ASSERT_NE(nullptr, buffer);
    kvn_test::post_input_key(buffer, key);
}

bool in_standby() { return kvn_standby_input_buffer() != nullptr && kvn_test::exists("/tmp/goingstandby"); }

// Registers and focuses the application, runs its loop and presses the
// power key in it; true once the standby runs.
bool power_key_to_standby(App &app) {
    if (register_window(&app.record) != 0 || focus_on_window(app.record.window_id) != 0) return false;
    app.start();
    app.press(DIKS_POWER);
    return eventually(in_standby);
}

class Standby : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(20);
        kvn_test::write_file("/tmp/tvmode", "5\n");
        kvn_test::clear_fake_calls();
    }
    void TearDown() override { kvn_set_time_divisor(1); }
};

TEST_F(Standby, PowerKeyInTheBrowserIsRunByTheFlashPlayerAndWakesBack) {
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_EQ(0, register_window(&browser.record));
    ASSERT_EQ(0, register_window(&flash.record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    browser.start();
    flash.start();
    browser.press(DIKS_POWER);
    ASSERT_TRUE(eventually(in_standby)) << "the flash player did not enter standby";
    EXPECT_EQ(28, smpoutd_stub_code(0)) << "the picture goes off first";
    EXPECT_EQ(1, kvn_get_standby_mode());
    EXPECT_EQ(0, scsvr_stub_enabled());
    EXPECT_EQ((std::vector<std::string>{"power_led -standby 1 -poweron 0", "pidof transmission-daemon",
                                        "pidof transmission-daemon", "sdparm -C stop /dev/cdrom"}),
              kvn_test::fake_calls());

    // A second power key, anywhere, does nothing while the standby runs.
    browser.press(DIKS_POWER);
    ASSERT_TRUE(browser.wait_for_keys(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(4u, kvn_test::fake_calls().size());

    press_in_standby(DIKS_OK);  // not a wake-up key
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(in_standby());
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    EXPECT_FALSE(kvn_test::exists("/tmp/goingstandby"));
    EXPECT_FALSE(kvn_test::exists("/tmp/use_rmfp.txt"));
    EXPECT_EQ("power_led -standby 0 -poweron 1", kvn_test::fake_calls().back());
    EXPECT_EQ(5, smpoutd_stub_last_code()) << "the picture comes back in the mode of /tmp/tvmode";
    EXPECT_EQ(1, scsvr_stub_enabled());
    EXPECT_EQ(1, flash.record.on_focus);
    EXPECT_EQ(0, browser.record.on_focus);
}

TEST_F(Standby, MediaPlayerRunsItsOwnStandbyAndKeepsTheFocus) {
    App player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE);
    ASSERT_EQ(0, register_window(&player.record));
    ASSERT_EQ(0, register_window(&flash.record));
    ASSERT_EQ(0, focus_on_window(ADVANCE_MEDIA_PLAYER));
    player.start();
    player.press(DIKS_POWER);
    ASSERT_TRUE(eventually(in_standby));
    EXPECT_TRUE(flash.keys().empty()) << "nothing handed over";
    press_in_standby(DIKS_HOLD);  // HOLD wakes like POWER
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    EXPECT_EQ(1, player.record.on_focus);
    EXPECT_EQ(0, host_stub_calls("force_stop_pod")) << "only the flash player stops the others";
}

TEST_F(Standby, ScreenSaverAfterTheMediaPlayerStopsPlaybackAndRunsIt) {
    App saver(SCREEN_SAVER), player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE);
    for (App *a : {&saver, &player, &flash}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(SCREEN_SAVER));
    scsvr_stub_set_last_window(ADVANCE_MEDIA_PLAYER);
    saver.start();
    saver.press(DIKS_POWER);
    ASSERT_TRUE(eventually(in_standby));
    EXPECT_EQ("wget -q -O /dev/null http://127.0.0.1:8008/playback?arg0=stop_vod", kvn_test::fake_calls()[0]);
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    EXPECT_EQ(1, player.record.on_focus) << "the screen saver hands the focus back to the media player";
}

TEST_F(Standby, PowerThenEjectRebootsAndPowerThenClearPowersOff) {
    kvn_set_time_divisor(2);  // 1.5 s real for the 3-second window
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    press_in_standby(DIKS_EJECT);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    EXPECT_TRUE(kvn_test::exists("/tmp/wait_to_reboot"));
    EXPECT_EQ("reboot", kvn_test::fake_calls().back());
    for (const std::string &c : kvn_test::fake_calls())
        EXPECT_NE("power_led -standby 0 -poweron 1", c) << "the player stays dark while rebooting";
    EXPECT_EQ(28, smpoutd_stub_last_code());

    kvn_test::clear_fake_calls();
    flash.press(DIKS_POWER);
    ASSERT_TRUE(eventually(in_standby));
    press_in_standby(DIKS_CLEAR);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    std::vector<std::string> calls = kvn_test::fake_calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("power_led -standby 2", calls[calls.size() - 2]);
    EXPECT_EQ("/etc/shutdown.sh 1", calls.back());
}

TEST_F(Standby, SequencesExpireAfterThreeSeconds) {
    kvn_set_time_divisor(10);
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    std::this_thread::sleep_for(std::chrono::milliseconds(450));  // 4.5 s on the player's clock
    press_in_standby(DIKS_EJECT);
    press_in_standby(DIKS_CLEAR);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(in_standby());
    for (const std::string &c : kvn_test::fake_calls()) {
        EXPECT_NE("reboot", c);
        EXPECT_EQ(std::string::npos, c.find("shutdown")) << c;
    }
    press_in_standby(DIKS_REDIAL);  // powers off, and the player stays in standby if it returns
    // Anywhere in the record: the backgrounded power_led may log after it.
    ASSERT_TRUE(eventually([] {
        std::vector<std::string> c = kvn_test::fake_calls();
        return std::find(c.begin(), c.end(), "/etc/shutdown.sh 1") != c.end();
    }));
    EXPECT_TRUE(in_standby());
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
}

TEST_F(Standby, TwoPowerKeysAtTheSameInstantStartOneStandby) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    for (App *a : {&browser, &photos, &flash}) ASSERT_EQ(0, register_window(&a->record));
    flash.start([](DFBWindowEvent &) { return true; });  // only counts what arrives
    std::atomic<bool> go{false};
    auto press = [&](App *app) {
        DFBWindowEvent e = kvn_test::key_event(DIKS_POWER);
        while (!go) {
        }
        kvn_default_event_handling(&app->record, &e);
    };
    std::thread a(press, &browser), b(press, &photos);
    go = true;
    a.join();
    b.join();
    ASSERT_TRUE(flash.wait_for_keys(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(1u, flash.keys().size());
    EXPECT_EQ(1, kvn_get_standby_mode());
}

TEST_F(Standby, WithoutAFlashPlayerTheApplicationRunsTheStandbyItself) {
    App browser(BROWSER);
    ASSERT_EQ(0, register_window(&browser.record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    browser.start();
    browser.press(DIKS_POWER);
    ASSERT_TRUE(eventually(in_standby)) << "the key would reach nobody and the picture stay off";
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    EXPECT_EQ(5, smpoutd_stub_last_code());
}

TEST_F(Standby, FlashPlayerStopsTheMediaAndPhotoPlayers) {
    App player(ADVANCE_MEDIA_PLAYER), navigator(PLAYLIST_NAVIGATOR), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    for (App *a : {&player, &navigator, &photos, &flash}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    static kvn_window *photo_record = &photos.record;
    host_stub_on_force_stop_pod([](void *) { photo_record->active = 0; }, nullptr);
    EXPECT_EQ(1, kvn_standby_terminate_apps());
    EXPECT_EQ(1, host_stub_calls("AmpAPI_PlayList_KeyTriggered_Stop")) << "still playing after the wait";
    EXPECT_EQ(1, host_stub_calls("force_stop_pod")) << "the photo player stopped at once";
}

TEST_F(Standby, DisksAreSpunDownOncePerDriveAndOnlyWellFormedOnes) {
    kvn_test::write_file("/etc/mtab",
                         "/dev/sda1 /mnt/HD_a1 ext3 rw 0 0\n/dev/sda2 /mnt/HD_a2 ext3 rw 0 0\n"
                         "/dev/sdb1 /tmp/usbmounts/USB_DRIVE_B ext3 rw 0 0\n"
                         "/dev/sdc1;reboot /mnt/x ext3 rw 0 0\n/dev/sdd1 /mnt/HD_d ext3 rw 0 0\n"
                         "/dev/sde1 /tmp/USB_DRIVE_E vfat rw 0 0\n/dev/sdf1 /tmp/USB_DRIVE_F vfat rw 0 0\n"
                         "/dev/sdg1 /tmp/USB_DRIVE_G vfat rw 0 0\n/dev/root / ext4 rw 0 0\n");
    kvn_test::write_file("/tmp/st_a", "");
    kvn_test::write_file("/tmp/st_d", "");
    kvn_set_tape_device_prefix("/tmp/st_");
    EXPECT_EQ(0, spin_down_disks());
    kvn_set_tape_device_prefix(nullptr);
    EXPECT_EQ((std::vector<std::string>{"hdparm -y /dev/sda", "sdparm -C stop /dev/sdb", "hdparm -y /dev/sdd",
                                        "sdparm -C stop /dev/sde", "sdparm -C stop /dev/sdf",
                                        "sdparm -C stop /dev/sdg"}),
              kvn_test::fake_calls());
    kvn_test::remove_file("/etc/mtab");
    EXPECT_EQ(0, spin_down_disks());
    write_cdrom_pipe(1);  // no /tmp/cdpipe: nothing happens, nothing blocks
    mkfifo("/tmp/cdpipe", 0644);
    write_cdrom_pipe(0);  // a FIFO without its reader: the open fails at once
}

TEST_F(Standby, DelayedSpinDownAfterTheTorrentDaemonsWord) {
    kvn_set_time_divisor(100);
    kvn_test::set_torrent_daemon_running(true);
    kvn_test::write_file("/run/kvn-fakes/bt_data", "");  // an empty report: no torrent is busy
    kvn_test::write_file("/etc/mtab", "/dev/sda1 /tmp/USB_DRIVE_A ext3 rw 0 0\n");
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    EXPECT_TRUE(kvn_test::exists("/tmp/bt_hdd_spindown"));
    auto spun = [] {
        std::vector<std::string> c = kvn_test::fake_calls();
        return std::find(c.begin(), c.end(), "sdparm -C stop /dev/sda") != c.end();
    };
    EXPECT_FALSE(spun()) << "with the daemon running the disks wait for 3000 passes";
    ASSERT_TRUE(eventually(spun, 20000));
    EXPECT_TRUE(eventually([] { return !kvn_test::exists("/tmp/bt_hdd_spindown"); }));
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
    kvn_test::set_torrent_daemon_running(false);
}

TEST_F(Standby, PowerOffKeyOutsideStandbyCommitsAndRunsTheScript) {
    App browser(BROWSER);
    DFBWindowEvent e = kvn_test::key_event(DIKS_REDIAL);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_EQ(DIKS_REDIAL, e.key_symbol);
    // In either order: power_led runs in the background.
    std::vector<std::string> calls = kvn_test::fake_calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ((std::vector<std::string>{"/etc/shutdown.sh", "power_led -standby 2"}), calls);
    EXPECT_EQ(28, smpoutd_stub_last_code());
}

// The player's own timing, once: 10 ms passes, woken after about a second.
TEST(StandbyRealTime, WakesAfterASecondWithRealWaits) {
    KVN_REQUIRE_SANDBOX();
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    press_in_standby(DIKS_POWER);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0; }));
}

}  // namespace
