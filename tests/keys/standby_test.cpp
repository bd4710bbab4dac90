// The power key's road: picture off, one application's thread runs the standby's programs (fakes),
// a key wakes it.
#include "keys/standby.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <map>
#include <memory>

#include "common/standby_flag.h"
#include "host_stub.h"
#include "screensaver_stub.h"
#include "smpoutd_api.h"
#include "standby_harness.h"

namespace {

using namespace standby_test;
using Clock = std::chrono::steady_clock;
using Standby = StandbyTest;
const std::string kStopRequest =
    "wget -q -O /dev/null http://127.0.0.1:8008/playback?arg0=stop_vod";

// Whose standby runs for a power key, by application, flag and focus, and the whole standby in its
// order; who has the focus after the wake. A key handed to the flash player is its whole standby
// also when its TV-mode menu takes it (closed with 4, which switches the picture on again). The
// playback service is waited for however slow, and one that never answers is killed after 60 s of
// player time (a hang guard); with the torrent daemon running and no torrent busy, or a marker left
// by an earlier standby, the disks are spun down only after 3000 passes.
TEST_F(Standby, PowerKeyRowsByApplicationFlagAndFocus) {
    const char *kBusy = "1|2|3|4|5|6|0.5|Downloading|x|10|11|12|13|14|9|t\n";
    constexpr int kNobody = -1, kFL = FLASH_LITE, kBR = BROWSER, kMP = ADVANCE_MEDIA_PLAYER,
                  kSS = SCREEN_SAVER, kPH = PHOTO_PLAYER;
    struct Row {
        const char *name;
        std::vector<int> apps;
        int focused, flag, pressed_in, last_window, runner, focus_after;
        bool menu = false, torrent = false;
        const char *report = "";  // the torrents' report: none is busy
        bool hangs = false;       // the playback service
    };
    const Row rows[] = {
        {"flash player, flag 0", {kFL, kPH}, kFL, 0, kFL, 3, kFL, kFL},
        {"flash player focused, flag 1", {kBR, kFL}, kFL, 1, kFL, 3, kNobody, kFL},
        {"flash player not focused, flag 1", {kBR, kFL}, kBR, 1, kFL, 3, kNobody, kBR},
        {"browser, flag 1", {kBR, kFL}, kBR, 1, kBR, 3, kNobody, kBR},
        {"media player, flag 0", {kMP, kFL, kPH}, kMP, 0, kMP, 3, kMP, kMP},
        {"screen saver after the media player", {kSS, kMP, kFL, kPH}, kSS, 0, kSS, kMP, kSS, kMP},
        {"screen saver after the browser", {kSS, kBR, kFL}, kSS, 0, kSS, kBR, kFL, kFL},
        {"browser, flag 0", {kBR, kFL, kPH}, kBR, 0, kBR, 3, kFL, kFL},
        {"browser, the flash player in its menu", {kBR, kFL, kPH}, kBR, 0, kBR, 3, kFL, kFL, true},
        {"browser without a flash player", {kBR}, kBR, 0, kBR, 3, kBR, kBR},
        {"flash player, the torrent daemon running", {kFL}, kFL, 0, kFL, 3, kFL, kFL, false, true},
        {"a torrent busy, a marker left", {kFL}, kFL, 0, kFL, 3, kFL, kFL, false, true, kBusy},
        {"no answer to the stop", {kSS, kMP}, kSS, 0, kSS, kMP, kSS, kMP, false, false, "", true},
    };
    kvn_test::write_file("/etc/mtab", "/dev/sda1 /tmp/USB_DRIVE_A vfat rw 0 0\n");
    kvn::write_cdrom_pipe(1);  // no /tmp/cdpipe: nothing happens, nothing blocks
    mkfifo("/tmp/cdpipe", 0644);
    kvn::write_cdrom_pipe(0);  // a FIFO without its reader: the open fails at once
    int monitor = open("/tmp/cdpipe", O_RDONLY | O_NONBLOCK);  // the optical-drive monitor
    auto monitor_read = [monitor] {
        char got[64];
        ssize_t n = read(monitor, got, sizeof got);
        return std::string(got, n > 0 ? n : 0);
    };
    kvn_test::write_file("/tmp/tolu_cgi", "");  // the menu's reply goes to the user interface
    kvn_test::write_file("/opt/kvn-fakes/bin/wget",
                         "#!/bin/sh\nlog=/run/kvn-fakes/calls.log\necho \"wget $*\" >> $log\n"
                         "echo $$ > /tmp/wget.pid\n[ -e /tmp/hang ] && exec sleep 60\n"
                         "sleep 0.3\necho answered >> $log\n");
    system("mkdir -p /tmp/cron/crontabs");
    kvn_test::write_file("/tmp/cron/crontabs/root", "0 * * * * checktorrent\n");
    journal_on();
    int wakes = 0;
    auto run_row = [&](const Row &row) {
        SCOPED_TRACE(row.name);
        kvn_test::set_torrent_daemon_running(row.torrent);
        kvn_test::write_file("/run/kvn-fakes/bt_data", row.report);
        if (*row.report) kvn_test::write_file("/tmp/bt_hdd_spindown", "");
        if (row.hangs) kvn_test::write_file("/tmp/hang", "");
        std::map<int, std::unique_ptr<App>> apps;
        for (int id : row.apps)
            ASSERT_EQ(0, register_window(&(apps[id] = std::make_unique<App>(id))->record));
        ASSERT_EQ(0, focus_on_window(row.focused));
        for (auto &a : apps) a.second->start();
        scsvr_stub_set_last_window(row.last_window);
        if (row.menu) {
            size_t dialogs = kvn_test::osd_calls().size();
            apps[kFL]->press(DIKS_TV);
            ASSERT_TRUE(eventually([&] { return kvn_test::osd_calls().size() > dialogs; }));
        }
        kvn_test::clear_fake_calls();
        kvn::standby_flag_store(row.flag);
        App &pressed = *apps[row.pressed_in];
        const auto asked = Clock::now();
        pressed.press(DIKS_POWER);
        ASSERT_TRUE(pressed.wait_for_keys(1));
        if (row.menu) apps[kFL]->press(DIKS_4);  // 720p at 60 Hz: the menu closes
        if (row.runner == kNobody) {
            settle();  // another standby is under way: a second would make two
            EXPECT_FALSE(in_standby());
            EXPECT_TRUE(journal().empty()) << "the picture is left as it is";
            EXPECT_EQ(row.pressed_in == kFL, !apps[kFL]->keys().empty()) << "not handed";
            kvn::standby_flag_store(0);
            return;
        }
        ASSERT_TRUE(eventually(in_standby, 20000));
        const auto entered = Clock::now();
        const std::chrono::milliseconds minute(60000 / kvn_get_time_divisor());
        if (row.hangs) {  // the request killed and reaped
            EXPECT_GE(entered - asked, minute - std::chrono::milliseconds(50));
            EXPECT_LT(entered - asked, 3 * minute);
            EXPECT_NE(0, kill(atoi(kvn_test::read_file("/tmp/wget.pid").c_str()), 0));
            kvn_test::remove_file("/tmp/hang");
        }
        if (row.torrent) {  // the disks wait for 3000 passes of 10 ms
            ASSERT_TRUE(eventually([] { return !kvn_test::exists("/tmp/bt_hdd_spindown"); }, 9e3));
            EXPECT_GE(Clock::now() - entered,
                      std::chrono::milliseconds(24000 / kvn_get_time_divisor()));
        }
        EXPECT_EQ(1, kvn_get_standby_mode());
        EXPECT_TRUE(kvn_test::exists("/tmp/use_rmfp.txt"));
        for (auto &a : apps)
            EXPECT_EQ(a.first != row.runner, a.second->idle())
                << window_id_str[a.first] << " waits";
        press_in_standby(DIKS_OK), settle();
        EXPECT_TRUE(in_standby()) << "OK is no wake-up key";
        wake(++wakes % 2 ? DIKS_POWER : DIKS_HOLD);  // HOLD wakes like POWER
        ASSERT_TRUE(eventually([&] { return !apps.count(kFL) || apps[kFL]->idle(); }));
        const std::string last = "scsvr return_last_window -> " + std::to_string(row.last_window);
        std::vector<std::string> want = {
            "smpoutd code=28 (picture off)",   "flash save_commit",
            "power_led -standby 1 -poweron 0", "pidof transmission-daemon",
            "scsvr global_on_off 0",           "pidof transmission-daemon",
            "sdparm -C stop /dev/sda",         "sdparm -C stop /dev/cdrom",
            "scsvr global_on_off 1",           "pidof transmission-daemon",
            "power_led -standby 0 -poweron 1", "smpoutd code=5"};
        auto at = [&](const char *step) { return std::find(want.begin(), want.end(), step); };
        if (row.runner == kFL && apps.count(kPH))  // stops it, waits, stops it again
            want.insert(at("scsvr global_on_off 0"), 2, "host force_stop_pod");
        if (row.runner == kSS) want.insert(at("scsvr global_on_off 1") + 1, last);
        if (row.runner == kSS) want.insert(at("flash save_commit"), kStopRequest);
        if (row.runner == kSS && !row.hangs) want.insert(at("flash save_commit"), "answered");
        if (row.torrent) {  // the checks off and the script asked; the disks spun down late
            want.erase(at("sdparm -C stop /dev/sda"));
            want.insert(at("sdparm -C stop /dev/cdrom") + 1, "sdparm -C stop /dev/sda");
            want.insert(at("power_led -standby 0 -poweron 1"), "crontab /tmp/cron_root_temp");
            want.insert(at("pidof transmission-daemon") + 1,
                        {"crontab /tmp/cron_root_temp", "transmission-remote-script -k"});
        }
        if (row.pressed_in == kSS) want.insert(want.begin() + 1, last);
        if (row.menu)  // the mode chosen and committed; the picture off again
            want.insert(want.begin() + 1,
                        {"flash write_var video_output=5", "flash write_var video_setting=tvmode",
                         "smpoutd code=5", "flash save_commit", "smpoutd code=28 (picture off)"});
        EXPECT_EQ(want, journal());
        EXPECT_FALSE(kvn_test::exists("/tmp/use_rmfp.txt"));
        EXPECT_FALSE(kvn_test::exists("/tmp/goingstandby"));
        EXPECT_TRUE(eventually([] { return !kvn_input_driver::has_reader(); })) << "input buffer";
        EXPECT_EQ(std::string("disable@cdrom\n\0enable@cdrom\n\0", 29), monitor_read());
        EXPECT_EQ(1, is_self_on_focus(row.focus_after));
        EXPECT_TRUE(eventually([&] { return apps[row.focus_after]->has_directfb_focus(); }));
        if (row.menu) {  // the handed key is spent: the flash player's own press works
            ASSERT_TRUE(power(*apps[kFL]));
            wake();
            monitor_read();
        }
    };
    // A thread per row: ThreadSanitizer gives up past 64 DirectFB locks left by one thread.
    for (const Row &row : rows) std::thread(run_row, std::cref(row)).join();
    close(monitor);
    scsvr_stub_reset();
}

// Keys held or doubled act once: the repeat of the power key that started the standby does not wake
// it, nor a wake key held or pressed again during the wake start a new one; the power-off key
// powers off once however long held, and the player stays in standby when its script returns.
// Power then eject within 3 s (real time here) reboots, and the player stays dark.
TEST_F(Standby, HeldKeysActOnceAndRebootOrPowerOffLeaveThePlayerDark) {
    kvn_set_time_divisor(1);
    App flash(FLASH_LITE);
    ASSERT_EQ(0, register_window(&flash.record));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));  // else the standby's input buffer gets no key
    flash.start();
    ASSERT_TRUE(power(flash));
    press_in_standby(DIKS_POWER, true);
    press_in_standby(DIKS_REDIAL, true);
    press_in_standby(DIKS_REDIAL);
    ASSERT_TRUE(eventually([] { return count_calls("/etc/shutdown.sh 1") > 0; }));
    settle();
    EXPECT_EQ(1u, count_calls("/etc/shutdown.sh 1"));
    EXPECT_TRUE(in_standby());
    kvn_trace_set_listener(  // a second press lands in the window during the wake-up steps
        [](const char *line, void *buffer) {
            if (strcmp(line, "scsvr global_on_off 1") == 0)
                kvn_test::post_key(static_cast<IDirectFBEventBuffer *>(buffer), DIKS_POWER);
        },
        flash.record.events);
    wake();
    kvn_trace_set_listener(nullptr, nullptr);
    flash.press(DIKS_POWER, true);  // the wake key still held
    ASSERT_TRUE(flash.wait_for_keys(2));
    settle();
    EXPECT_EQ(0, kvn_get_standby_mode());
    EXPECT_EQ(1u, count_calls("power_led -standby 1 -poweron 0"));
    kvn_test::clear_fake_calls();
    ASSERT_TRUE(power(flash)) << "a new press still works";
    wake(DIKS_EJECT);  // reboots (its calls: the sequences' own test)
    EXPECT_EQ(0u, count_calls("power_led -standby 0 -poweron 1")) << "dark while rebooting";
    EXPECT_EQ(28, smpoutd_stub_last_code());
}

void set_active(kvn_window *w, int active) {
    pthread_mutex_lock(&kvn_mutex_windows), w->active = active;
    pthread_mutex_unlock(&kvn_mutex_windows);
}

// The flash player's standby stops the media player's playlist when it plays in the background
// and the navigator is active, the photo player when active; each is stopped after 20 pauses of
// 250 ms (500 ms in all here) if still active.
TEST_F(Standby, FlashPlayerStopsTheMediaAndPhotoPlayers) {
    kvn_set_time_divisor(10);
    constexpr int kGone = -1;
    struct Row {
        const char *what;
        int player, player_focused, navigator, photos;
        bool stops;  // the player during the wait, the photos when told
        int playlist_stops, pods, waits;
    } rows[] = {
        {"playing in the background", 1, 0, 1, kGone, false, 1, 0, 1},
        {"stopping during the wait", 1, 0, 1, kGone, true, 0, 0, 0},
        {"focused", 1, 1, 1, kGone, false, 0, 0, 0},
        {"navigator inactive", 1, 0, 0, kGone, false, 0, 0, 0},
        {"no navigator", 1, 0, kGone, kGone, false, 0, 0, 0},
        {"inactive", 0, 0, 1, kGone, false, 0, 0, 0},
        {"photos that stop", kGone, 0, 1, 1, true, 0, 1, 0},
        {"photos inactive", kGone, 0, 1, 0, false, 0, 0, 0},
        {"both go on", 1, 0, 1, 1, false, 1, 2, 2},
    };
    static kvn_window player, navigator, photos;
    static bool stops;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        host_stub_reset(), stops = row.stops;
        host_stub_on_force_stop_pod([](void *) { set_active(&photos, !stops); }, nullptr);
        auto add = [](kvn_window &w, int id, int active) {
            w = kvn_window{}, w.window_id = id, w.active = active;
            if (active != kGone) register_window(&w);
        };
        add(player, ADVANCE_MEDIA_PLAYER, row.player), player.on_focus = row.player_focused;
        add(navigator, PLAYLIST_NAVIGATOR, row.navigator), add(photos, PHOTO_PLAYER, row.photos);
        std::thread stopping([&] {
            if (row.player >= 0 && row.stops) usleep(20000), set_active(&player, 0);
        });
        auto start = Clock::now();
        EXPECT_EQ(1, kvn_standby_terminate_apps());
        auto took = Clock::now() - start;
        stopping.join();
        EXPECT_EQ(row.playlist_stops, host_stub_calls("AmpAPI_PlayList_KeyTriggered_Stop"));
        EXPECT_EQ(row.pods, host_stub_calls("force_stop_pod"));
        EXPECT_GE(took, row.waits * std::chrono::milliseconds(490));
        EXPECT_LT(took,
                  row.waits * std::chrono::milliseconds(500) + std::chrono::milliseconds(400));
        for (kvn_window *w : {&player, &navigator, &photos}) unregister_window(w);
    }
}

}  // namespace
