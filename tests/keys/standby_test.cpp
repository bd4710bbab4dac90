// The power key's road: picture off, one application's thread runs the standby's programs (fakes),
// a key wakes it.
#include "keys/standby.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>

#include "common/standby_flag.h"
#include "host_stub.h"
#include "input_driver.h"
#include "kvn_app_harness.h"
#include "kvn_trace.h"
#include "screensaver_stub.h"
#include "smpoutd_api.h"

using kvn_test::App;
using kvn_test::eventually;
using kvn_test::fake_calls;

namespace {

using Clock = std::chrono::steady_clock;
const std::string kStopRequest =
    "wget -q -O /dev/null http://127.0.0.1:8008/playback?arg0=stop_vod";

void press_in_standby(DFBInputDeviceKeySymbol key, bool repeat = false) {
    ASSERT_TRUE(kvn_input_driver::post(kvn_test::input_key(key, repeat)))
        << "no standby to press the key in";
}
bool in_standby() {
    return kvn_input_driver::has_reader() && kvn_test::exists("/tmp/goingstandby");
}
bool awake() { return kvn_get_standby_mode() == 0 && !in_standby(); }
void wake(DFBInputDeviceKeySymbol key = DIKS_POWER) {
    press_in_standby(key);
    ASSERT_TRUE(eventually(awake));
}
// A power key in the application's window; true once the standby runs.
bool power(App &app) { return app.press(DIKS_POWER), eventually(in_standby); }
// The standby flag, whether a standby waits for keys, the picture daemon's last code, the screen
// saver.
std::string status() {
    return "flag " + std::to_string(kvn_get_standby_mode()) + (in_standby() ? ", standby" : "") +
           ", picture " + std::to_string(smpoutd_stub_last_code()) + ", saver " +
           std::to_string(scsvr_stub_enabled());
}
size_t count_calls(const std::string &line) {
    std::vector<std::string> calls = fake_calls();
    return std::count(calls.begin(), calls.end(), line);
}
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }
int handle(App &app, DFBInputDeviceKeySymbol key) {
    DFBWindowEvent e = kvn_test::key_event(key);
    return kvn_default_event_handling(&app.record, &e);
}
bool power_key_to_standby(App &app) {  // registered, focused and running
    if (register_window(&app.record) != 0 || focus_on_window(app.record.window_id) != 0)
        return false;
    app.start();
    return power(app);
}

class Standby : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        // (Under qemu-user a started program can take more than the playback request's 150 ms.)
        kvn_set_time_divisor(kvn_test::emulated() ? 5 : 20);
        kvn_test::write_file("/tmp/tvmode", "5\n"), kvn_test::clear_fake_calls();
    }
    void TearDown() override { kvn_set_time_divisor(1); }
};

// The fakes' command lines and the stand-ins' trace in one order, once journal_on has run; the
// dialogs and window switches that follow the focus are left out.
void journal_on() { kvn_trace_set_file("/run/kvn-fakes/calls.log"); }
std::vector<std::string> journal() {
    std::vector<std::string> lines;
    for (const std::string &line : fake_calls())
        if (line.rfind("osd ", 0) != 0 && line != "scsvr window_switch") lines.push_back(line);
    return lines;
}

// Whose standby runs for a power key, by application, flag and focus, and the whole standby in
// its order; who has the focus after the wake. A key handed to the flash player is its whole
// standby whoever takes it: its loop, its TV-mode menu (closed with TV, or with 4, which switches
// the picture on again), or a second press once its loop has been stuck past the 3 s (150 ms here).
TEST_F(Standby, PowerKeyRowsByApplicationFlagAndFocus) {
    constexpr int kNobody = -1, kFL = FLASH_LITE, kBR = BROWSER, kMP = ADVANCE_MEDIA_PLAYER,
                  kSS = SCREEN_SAVER, kPH = PHOTO_PLAYER;
    enum Flash { kLoop, kStuck, kMenu, kMenuOn };
    struct Row {
        const char *name;
        std::vector<int> apps;
        int focused, flag, pressed_in, last_window, runner, focus_after;
        Flash flash = kLoop;
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
        {"browser, the flash player stuck", {kBR, kFL, kPH}, kBR, 0, kBR, 3, kFL, kFL, kStuck},
        {"browser, the flash player in its menu", {kBR, kFL, kPH}, kBR, 0, kBR, 3, kFL, kFL, kMenu},
        {"browser, the menu turning it on", {kBR, kFL, kPH}, kBR, 0, kBR, 3, kFL, kFL, kMenuOn},
        {"browser not focused, flag 0", {kBR, kFL}, kFL, 0, kBR, 3, kFL, kFL},
        {"browser without a flash player", {kBR}, kBR, 0, kBR, 3, kBR, kBR},
    };
    kvn_test::write_file("/etc/mtab", "/dev/sda1 /tmp/USB_DRIVE_A vfat rw 0 0\n");
    kvn::write_cdrom_pipe(1);  // no /tmp/cdpipe: nothing happens, nothing blocks
    mkfifo("/tmp/cdpipe", 0644);
    kvn::write_cdrom_pipe(0);  // a FIFO without its reader: the open fails at once
    int monitor = open("/tmp/cdpipe", O_RDONLY | O_NONBLOCK);  // the optical-drive monitor
    kvn_test::write_file("/tmp/tolu_cgi", "");  // the menu's reply goes to the user interface
    journal_on();
    int wakes = 0;
    std::atomic<bool> stuck{false};
    auto run_row = [&](const Row &row) {
        SCOPED_TRACE(row.name);
        std::map<int, std::unique_ptr<App>> apps;
        for (int id : row.apps)
            ASSERT_EQ(0, register_window(&(apps[id] = std::make_unique<App>(id))->record));
        ASSERT_EQ(0, focus_on_window(row.focused));
        stuck = row.flash == kStuck;
        for (auto &a : apps)
            a.second->start([&stuck, id = a.first](DFBWindowEvent &e) {
                while (stuck && id == FLASH_LITE && e.key_symbol == DIKS_POWER) usleep(1000);
                return false;
            });
        scsvr_stub_set_last_window(row.last_window);
        if (row.flash == kMenu || row.flash == kMenuOn) {
            size_t dialogs = kvn_test::osd_calls().size();
            apps[kFL]->press(DIKS_TV);
            ASSERT_TRUE(eventually([&] { return kvn_test::osd_calls().size() > dialogs; }));
        }
        kvn_test::clear_fake_calls();
        kvn::standby_flag_store(row.flag);
        apps[row.pressed_in]->press(DIKS_POWER);
        ASSERT_TRUE(apps[row.pressed_in]->wait_for_keys(1));
        if (row.flash == kStuck) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_FALSE(in_standby()) << "the key is still the flash player's";
            apps[row.pressed_in]->press(DIKS_POWER);
        } else if (row.flash != kLoop) {
            apps[kFL]->press(row.flash == kMenu ? DIKS_TV : DIKS_4);  // closes the menu
        }
        if (row.runner == kNobody) {
            settle();  // another standby is under way: a second would make two
            EXPECT_FALSE(in_standby());
            EXPECT_TRUE(journal().empty()) << "the picture is left as it is";
            EXPECT_TRUE(row.pressed_in == kFL || apps[kFL]->keys().empty())
                << "nothing handed over";
            kvn::standby_flag_store(0);
            return;
        }
        ASSERT_TRUE(eventually(in_standby));
        EXPECT_EQ("flag 1, standby, picture 28, saver 0", status());
        EXPECT_TRUE(kvn_test::exists("/tmp/use_rmfp.txt"));
        for (auto &a : apps)  // the stuck flash player waits too, and the browser runs its standby
            EXPECT_EQ(a.first != row.runner && (row.flash != kStuck || a.first != row.pressed_in),
                      a.second->idle())
                << window_id_str[a.first] << ": only the runner waits";
        press_in_standby(DIKS_OK), settle();
        EXPECT_TRUE(in_standby()) << "OK is no wake-up key";
        wake(++wakes % 2 ? DIKS_POWER : DIKS_HOLD);  // HOLD wakes like POWER
        stuck = false;  // the handed key comes at last, and does nothing
        ASSERT_TRUE(eventually([&] { return !apps.count(kFL) || apps[kFL]->idle(); }));
        const std::string last = "scsvr return_last_window -> " + std::to_string(row.last_window);
        std::vector<std::string> want = {"smpoutd code=28 (picture off)"};
        if (row.flash == kMenuOn)  // 720p at 60 Hz chosen and committed; the picture off again
            want.insert(want.end(),
                        {"flash write_var video_output=5", "flash write_var video_setting=tvmode",
                         "smpoutd code=5", "flash save_commit", "smpoutd code=28 (picture off)"});
        if (row.pressed_in == kSS) want.push_back(last);
        if (row.runner == kSS) want.push_back(kStopRequest);
        for (const char *step :
             {"flash save_commit", "power_led -standby 1 -poweron 0", "pidof transmission-daemon"})
            want.push_back(step);
        if (row.runner == kFL && apps.count(kPH))  // stops it, waits, stops it again
            want.insert(want.end(), 2, "host force_stop_pod");
        for (const char *step :
             {"scsvr global_on_off 0", "pidof transmission-daemon", "sdparm -C stop /dev/sda",
              "sdparm -C stop /dev/cdrom", "scsvr global_on_off 1"})
            want.push_back(step);
        if (row.runner == kSS) want.push_back(last);
        for (const char *step : {"pidof transmission-daemon", "power_led -standby 0 -poweron 1",
                                 "smpoutd code=5"})  // the mode of /tmp/tvmode
            want.push_back(step);
        EXPECT_EQ(want, journal());
        EXPECT_FALSE(kvn_test::exists("/tmp/use_rmfp.txt") ||
                     kvn_test::exists("/tmp/goingstandby"));
        EXPECT_EQ("flag 0, picture 5, saver 1", status());
        char got[64] = {0};
        EXPECT_EQ(
            std::string("disable@cdrom\n\0enable@cdrom\n\0", 29),
            std::string(got, std::max(0L, static_cast<long>(read(monitor, got, sizeof got)))));
        EXPECT_TRUE(is_self_on_focus(row.focus_after) == 1 &&
                    eventually([&] { return apps[row.focus_after]->has_directfb_focus(); }));
    };
    // A thread per row: ThreadSanitizer gives up past 64 DirectFB locks left to DirectFB's threads
    // by one thread.
    for (const Row &row : rows) std::thread(run_row, std::cref(row)).join();
    close(monitor);
    scsvr_stub_reset();
}

// A held or doubled wake key starts no new standby; a held power key does not wake the standby it
// started.
TEST_F(Standby, KeysHeldOrQueuedDuringTheWakeDoNotPutThePlayerBackToSleep) {
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    press_in_standby(DIKS_POWER, true);
    settle();
    EXPECT_TRUE(in_standby()) << "the repeat of the key that started the standby";
    // A second press lands in the window during the wake-up steps.
    kvn_trace_set_listener(
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
    EXPECT_EQ("flag 0, picture 5, saver 1", status());
    EXPECT_EQ(1u, count_calls("power_led -standby 1 -poweron 0"));
    ASSERT_TRUE(power(flash)) << "a new press still works";
    wake();
}

// During the flash player's standby the focused browser's framework keys do nothing (the standby
// reads its own).
TEST_F(Standby, OtherApplicationsFrameworkKeysDoNothingWhileAStandbyRuns) {
    App browser(BROWSER), flash(FLASH_LITE), player(ADVANCE_MEDIA_PLAYER);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash, &player}));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    flash.start();
    // The special key 0x72 is a power key too.
    DFBWindowEvent power = kvn_test::key_event(static_cast<DFBInputDeviceKeySymbol>(0xF072));
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &power));
    EXPECT_EQ(0xF072, power.key_symbol) << "kept when handed over";
    ASSERT_TRUE(eventually(in_standby));
    size_t dialogs = kvn_test::osd_calls().size();
    std::vector<std::string> calls = fake_calls();
    for (DFBInputDeviceKeySymbol key :
         {DIKS_REDIAL, DIKS_TV, DIKS_CALL, DIKS_HOME, DIKS_PROGRAM, DIKS_LANGUAGE, DIKS_SETUP}) {
        DFBWindowEvent e = kvn_test::key_event(key);
        EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e)) << key;
        EXPECT_EQ(DIKS_NULL, e.key_symbol) << key << " is consumed";
    }
    EXPECT_EQ(-1, handle(browser, DIKS_OK)) << "the application's own keys stay its own";
    EXPECT_EQ(dialogs, kvn_test::osd_calls().size()) << "no notice and no menu on the dark screen";
    EXPECT_EQ(calls, fake_calls()) << "no power-off from a second thread";
    EXPECT_EQ(0,
              host_stub_calls("VisualCtrl_Spawn") + host_stub_calls("playback_setting_menu_spawn"));
    EXPECT_EQ("flag 1, standby, picture 28, saver 0", status());
    wake();
}

// A key handed to the flash player is taken exactly once: by the flash player, also once its
// TV-mode menu has eaten it, or, when the flash player has had it for 3 s (375 ms here; its loop
// busy or in the menu), by the next power key's application. The old key that reaches the flash
// player after the wake starts no second standby, and the flash player's next press still starts
// one.
TEST_F(Standby, AHandedOverPowerKeyIsTakenExactlyOnce) {
    App browser(BROWSER), flash(FLASH_LITE);
    std::atomic<bool> busy{false};
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    flash.start([&](DFBWindowEvent &e) {
        while (busy && e.key_symbol == DIKS_OK) usleep(1000);
        return false;
    });
    // The menu leaves on a key queued before the handed one: the standby drops that with the
    // window's other events. Both are queued as the menu draws its first page, in the flash
    // player's thread.
    struct Plan {
        App *browser, *flash;
        std::atomic<bool> armed{true};
    } plan{&browser, &flash};
    kvn_trace_set_listener(
        [](const char *line, void *data) {
            Plan *p = static_cast<Plan *>(data);
            if (strncmp(line, "osd ", 4) != 0 || !p->armed.exchange(false)) return;
            p->flash->press(DIKS_STOP);
            handle(*p->browser, DIKS_POWER);
        },
        &plan);
    flash.press(DIKS_TV);
    ASSERT_TRUE(eventually(in_standby));
    kvn_trace_set_listener(nullptr, nullptr);
    wake();
    ASSERT_TRUE(power(flash)) << "a press in the flash player";
    wake();
    kvn_set_time_divisor(8);
    for (bool menu : {false, true}) {
        SCOPED_TRACE(menu ? "in its menu" : "its loop busy");
        kvn_trace_clear();
        kvn_test::clear_fake_calls();
        busy = !menu;
        const size_t seen = flash.keys().size();
        flash.press(menu ? DIKS_TV : DIKS_OK);
        ASSERT_TRUE(flash.wait_for_keys(seen + 1));
        ASSERT_EQ(0, handle(browser, DIKS_POWER));
        // Too early: the key is still the flash player's.
        std::thread early([&] { handle(browser, DIKS_POWER); });
        settle();
        EXPECT_TRUE(kvn_get_standby_mode() == 1 && !in_standby());
        std::this_thread::sleep_for(std::chrono::milliseconds(450));
        std::thread rescue([&] { handle(browser, DIKS_POWER); });
        ASSERT_TRUE(eventually(in_standby));
        wake();
        early.join();
        rescue.join();
        busy = false;
        flash.press(DIKS_STOP);  // leaves the menu
        ASSERT_TRUE(eventually([&] { return flash.idle() || in_standby(); }));
        settle();
        const bool again = in_standby();
        if (again) wake();  // so that a failing run still ends
        EXPECT_FALSE(again) << "dark again right after waking";
        EXPECT_EQ("flag 0, picture 5, saver 1", status());
        EXPECT_EQ(1u, count_calls("power_led -standby 1 -poweron 0"));
        std::vector<std::string> trace = kvn_test::trace_lines();
        EXPECT_EQ(1, std::count(trace.begin(), trace.end(), "flash save_commit")) << "one standby";
        ASSERT_TRUE(power(flash)) << "a press in the flash player";
        wake();
    }
}

// The stop request is waited for however slow the service (20 s here); only one that never answers
// is killed, after 60 s of player time (1.5 s here), and the standby goes on.
TEST_F(Standby, APlaybackServiceIsWaitedForUnlessItNeverAnswers) {
    // Under qemu-user a started program is well within 3 s, not always within 1.5 s.
    const int limit_ms = kvn_test::emulated() ? 3000 : 1500;
    kvn_set_time_divisor(60000 / limit_ms);
    App saver(SCREEN_SAVER), player(ADVANCE_MEDIA_PLAYER);
    ASSERT_EQ(0, register_window(&player.record));
    scsvr_stub_set_last_window(ADVANCE_MEDIA_PLAYER);
    ASSERT_TRUE(register_window(&saver.record) == 0 && focus_on_window(SCREEN_SAVER) == 0);
    saver.start();
    for (bool hangs : {false, true}) {
        SCOPED_TRACE(hangs ? "never answers" : "slow");
        kvn_test::write_file(
            "/opt/kvn-fakes/bin/wget",
            std::string("#!/bin/sh\necho \"wget $*\" >> /run/kvn-fakes/calls.log\n") +
                "echo $$ > /tmp/wget.pid\n" +
                (hangs ? "exec sleep 60\n"
                       : "sleep 0.5\necho answered >> /run/kvn-fakes/calls.log\n"));
        kvn_test::clear_fake_calls();
        auto start = Clock::now();
        saver.press(DIKS_POWER);
        ASSERT_TRUE(eventually(in_standby, 20000));
        auto waited = Clock::now() - start;
        std::vector<std::string> calls = fake_calls();
        ASSERT_LE(2u, calls.size());
        EXPECT_EQ((std::vector<std::string>{
                      kStopRequest, hangs ? "power_led -standby 1 -poweron 0" : "answered"}),
                  std::vector<std::string>(calls.begin(), calls.begin() + 2));
        if (hangs) {
            EXPECT_GE(waited, std::chrono::milliseconds(limit_ms - 50));
            EXPECT_LT(waited, std::chrono::milliseconds(5 * limit_ms));
            pid_t request = atoi(kvn_test::read_file("/tmp/wget.pid").c_str());
            EXPECT_TRUE(request > 0 && kill(request, 0) != 0)
                << "the request is killed and reaped, not left behind";
        }
        wake();
    }
}

// The power key that starts the standby arms the sequences: power then eject reboots and leaves the
// player dark. The power-off key powers off once however long held, and the player stays in standby
// if the script returns.
TEST_F(Standby, RebootOrPowerOffFromAStandbyLeavesThePlayerDark) {
    // Under qemu-user the standby's start alone can outlast 3 s at a quarter: real time there.
    kvn_set_time_divisor(kvn_test::emulated() ? 1 : 4);
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    wake(DIKS_EJECT);
    EXPECT_TRUE(kvn_test::exists("/tmp/wait_to_reboot"));
    EXPECT_EQ("reboot", fake_calls().back());
    EXPECT_EQ(0u, count_calls("power_led -standby 0 -poweron 1"))
        << "the player stays dark while rebooting";
    EXPECT_EQ(28, smpoutd_stub_last_code());
    kvn_test::clear_fake_calls();
    ASSERT_TRUE(power(flash));
    press_in_standby(DIKS_REDIAL, true);
    press_in_standby(DIKS_REDIAL);
    ASSERT_TRUE(eventually([] { return count_calls("/etc/shutdown.sh 1") > 0; }));
    settle();
    EXPECT_EQ(1u, count_calls("/etc/shutdown.sh 1"));
    EXPECT_TRUE(in_standby());
    wake();
}

void press_at_once(App &one, App &other, DFBInputDeviceKeySymbol key) {
    std::atomic<bool> go{false};
    auto press = [&](App *app) {
        while (!go) {
        }
        handle(*app, key);
    };
    std::thread a(press, &one), b(press, &other);
    go = true;
    a.join();
    b.join();
}

// Two power keys at once start one standby; power-off keys run the script, two at once one after
// the other.
TEST_F(Standby, TwoPowerOrPowerOffKeysAtTheSameInstantActOnce) {
    ASSERT_TRUE(kvn_test::install_overlap_detecting_shutdown());
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &photos, &flash}));
    flash.start([](DFBWindowEvent &) { return true; });  // only counts what arrives
    press_at_once(browser, photos, DIKS_POWER);
    ASSERT_TRUE(flash.wait_for_keys(1));
    settle();
    EXPECT_EQ(1u, flash.keys().size());
    EXPECT_EQ(1, kvn_get_standby_mode());
    kvn::standby_flag_store(0);

    press_at_once(browser, photos, DIKS_REDIAL);
    EXPECT_EQ(2u, count_calls("/etc/shutdown.sh"));
    EXPECT_EQ(0u, count_calls("OVERLAP"));
}

void set_active(kvn_window *w, int active) {
    pthread_mutex_lock(&kvn_mutex_windows), w->active = active;
    pthread_mutex_unlock(&kvn_mutex_windows);
}

// The flash player's standby stops the media player's playlist when it plays in the background
// and the navigator is active, the photo player when active; each is stopped after 20 pauses of
// 250 ms (250 ms in all here) if still active.
TEST_F(Standby, FlashPlayerStopsTheMediaAndPhotoPlayers) {
    kvn_set_time_divisor(20);
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
        EXPECT_GE(took, row.waits * std::chrono::milliseconds(240));
        EXPECT_LT(took,
                  row.waits * std::chrono::milliseconds(250) + std::chrono::milliseconds(400));
        for (kvn_window *w : {&player, &navigator, &photos}) unregister_window(w);
    }
}

// Each drive once, however many; only "/dev/sd", a letter a-z and digits reach the shell.
TEST_F(Standby, DisksAreSpunDownOncePerDriveAndOnlyWellFormedOnes) {
    std::string mtab =
        "/dev/sda1 /mnt/HD_a1 ext3 rw 0 0\n/dev/sda2 /mnt/HD_a2 ext3 rw 0 0\n"
        "/dev/sdb1 /tmp/usbmounts/USB_DRIVE_B ext3 rw 0 0\n/dev/sdd1 /mnt/HD_d ext3 rw 0 0\n"
        "/dev/sde1 /tmp/USB_DRIVE_E vfat rw 0 0\n/dev/sdf1 /tmp/USB_DRIVE_F vfat rw 0 0\n"
        "/dev/sdg1 /tmp/USB_DRIVE_G vfat rw 0 0\n/dev/sdh1 /mnt/HD_h ext3 rw 0 0\n"
        "/dev/root / ext4 rw 0 0\n";
    for (const char *bad : {"/dev/sd", "/dev/sdA1", "/dev/sdc1;reboot", "/dev/sdc\\0401",
                            "/dev/sdc:", "/dev/sdc$(x)", "/dev/hdc1", "sdc1", "/dev/sd`"})
        mtab += bad + std::string(" /tmp/USB_DRIVE_X vfat rw 0 0\n");
    kvn_test::write_file("/etc/mtab", mtab);
    for (const char *node : {"/dev/sta", "/dev/std"})
        kvn_test::write_file(node, "");  // internal disks; sdh has no tape node
    EXPECT_EQ(0, kvn::spin_down_disks());
    EXPECT_EQ((std::vector<std::string>{"hdparm -y /dev/sda", "sdparm -C stop /dev/sdb",
                                        "hdparm -y /dev/sdd", "sdparm -C stop /dev/sde",
                                        "sdparm -C stop /dev/sdf", "sdparm -C stop /dev/sdg"}),
              fake_calls());
    kvn_test::clear_fake_calls();
    kvn_test::remove_file("/etc/mtab");
    EXPECT_EQ(0, kvn::spin_down_disks());
    mkfifo("/etc/mtab", 0644);  // must not hold up the standby
    EXPECT_EQ(0, kvn::spin_down_disks());
    EXPECT_TRUE(fake_calls().empty());
}

TEST_F(Standby, DelayedSpinDownAfterTheTorrentDaemonsWordOnly) {
    kvn_set_time_divisor(100);
    kvn_test::set_torrent_daemon_running(true);
    kvn_test::write_file("/etc/mtab", "/dev/sda1 /tmp/USB_DRIVE_A ext3 rw 0 0\n");
    App flash(FLASH_LITE);
    // A marker left by a standby woken before its delay, while a torrent seeds now: the disks keep
    // spinning.
    kvn_test::write_file("/tmp/bt_hdd_spindown", "");
    kvn_test::write_file("/run/kvn-fakes/bt_data",
                         "1|2|100|4|5|6|0.5|Seeding|x|10|11|12|13|14|100|a\n");
    ASSERT_TRUE(power_key_to_standby(flash));
    EXPECT_FALSE(kvn_test::exists("/tmp/bt_hdd_spindown"));
    wake();
    kvn_test::write_file("/run/kvn-fakes/bt_data", "");  // an empty report: no torrent is busy
    system("mkdir -p /tmp/cron/crontabs");
    kvn_test::write_file("/tmp/cron/crontabs/root", "0 * * * * checktorrent\n");
    kvn_test::clear_fake_calls(), journal_on();
    ASSERT_TRUE(power(flash));
    auto entered = Clock::now();
    EXPECT_TRUE(kvn_test::exists("/tmp/bt_hdd_spindown"));
    ASSERT_TRUE(eventually([] { return count_calls("sdparm -C stop /dev/sda") > 0; }, 20000));
    // 3000 passes of 10 ms: 300 ms at divisor 100 if no pass took longer.
    EXPECT_GE(Clock::now() - entered, std::chrono::milliseconds(250))
        << "with the daemon running the disks wait";
    EXPECT_TRUE(eventually([] { return !kvn_test::exists("/tmp/bt_hdd_spindown"); }));
    wake();
    EXPECT_EQ(
        (std::vector<std::string>{
            "smpoutd code=28 (picture off)", "flash save_commit", "power_led -standby 1 -poweron 0",
            "pidof transmission-daemon", "crontab /tmp/cron_root_temp",
            "transmission-remote-script -k", "scsvr global_on_off 0", "pidof transmission-daemon",
            "sdparm -C stop /dev/cdrom", "sdparm -C stop /dev/sda", "scsvr global_on_off 1",
            "pidof transmission-daemon", "crontab /tmp/cron_root_temp",
            "power_led -standby 0 -poweron 1", "smpoutd code=5"}),
        journal());
    kvn_test::set_torrent_daemon_running(false);
}

// The standby's own input event buffer goes with it.
TEST_F(Standby, LeavesNoInputBufferBehind) {
    App flash(FLASH_LITE);
    ASSERT_TRUE(power_key_to_standby(flash));
    wake();
    EXPECT_TRUE(eventually([] { return !kvn_input_driver::has_reader(); }));
}

}  // namespace
