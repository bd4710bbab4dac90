// The framework keys every application hands to the default handler.
#include <gtest/gtest.h>

#include "host_stub.h"
#include "kvn_app_harness.h"
#include "kvn_platform.h"

using kvn_test::App;

namespace {

using kvn_test::key_event;
using Clock = std::chrono::steady_clock;

bool cleared(const DFBWindowEvent &e) { return e.type == 0 && e.key_symbol == DIKS_NULL; }

std::string last_text() {
    std::vector<osd_call> calls = kvn_test::osd_calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->command == 13) return it->text;
    return "";
}

TEST(DefaultHandler, InstallingSoftwareSwallowsEveryEvent) {
    KVN_REQUIRE_SANDBOX();
    App browser(BROWSER);
    kvn_test::write_file("/tmp/vmk_installing", "");
    for (DFBWindowEvent e : {key_event(DIKS_POWER, DWET_KEYUP), key_event(DIKS_OK),
                             key_event(DIKS_NULL, DWET_GOTFOCUS)}) {
        EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
        EXPECT_TRUE(cleared(e));
    }
    kvn_test::remove_file("/tmp/vmk_installing");
    DFBWindowEvent up = key_event(DIKS_POWER, DWET_KEYUP);
    EXPECT_EQ(-1, kvn_default_event_handling(&browser.record, &up)) << "a key-up starts nothing";
    EXPECT_EQ(0, kvn_get_standby_mode());
    EXPECT_EQ(-1, kvn_default_event_handling(nullptr, &up));
    EXPECT_EQ(-1, kvn_default_event_handling(&browser.record, nullptr));
}

TEST(DefaultHandler, ReservedUnknownAndFocusDependentKeys) {
    KVN_REQUIRE_SANDBOX();
    App browser(BROWSER), photos(PHOTO_PLAYER), player(ADVANCE_MEDIA_PLAYER);
    for (App *a : {&browser, &photos, &player}) ASSERT_EQ(0, register_window(&a->record));
    DFBWindowEvent e = key_event(DIKS_SMALL_S);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_EQ(DIKS_SMALL_S, e.key_symbol);
    e = key_event(DIKS_HOLD);
    EXPECT_EQ(-1, kvn_default_event_handling(&browser.record, &e)) << "HOLD counts only in standby";
    e = key_event(DIKS_TV);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e)) << "no focus: nothing happens";
    EXPECT_EQ(DIKS_TV, e.key_symbol);

    ASSERT_EQ(0, focus_on_window(PHOTO_PLAYER));
    e = key_event(DIKS_TV);
    EXPECT_EQ(0, kvn_default_event_handling(&photos.record, &e));
    EXPECT_TRUE(cleared(e));
    EXPECT_EQ("-msg=Not allowed", last_text());
    write_var("lang", "chinese_lang", 0);
    e = key_event(DIKS_CALL);
    EXPECT_EQ(0, kvn_default_event_handling(&photos.record, &e));
    EXPECT_EQ("-msg=不允许", last_text());
    write_var("lang", "english_lang", 0);

    e = key_event(DIKS_SETUP);
    EXPECT_EQ(0, kvn_default_event_handling(&photos.record, &e));
    EXPECT_EQ(DIKS_SETUP, e.key_symbol);
    EXPECT_EQ(0, host_stub_calls("playback_setting_menu_spawn"));
    ASSERT_EQ(0, focus_on_window(ADVANCE_MEDIA_PLAYER));
    e = key_event(DIKS_SETUP);
    EXPECT_EQ(0, kvn_default_event_handling(&player.record, &e));
    EXPECT_TRUE(cleared(e));
    EXPECT_EQ(1, host_stub_calls("playback_setting_menu_spawn"));
}

TEST(DefaultHandler, VisualControllerAndMusicKeys) {
    KVN_REQUIRE_SANDBOX();
    App browser(BROWSER), player(ADVANCE_MEDIA_PLAYER);
    player.record.active = 0;
    for (App *a : {&browser, &player}) ASSERT_EQ(0, register_window(&a->record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    DFBWindowEvent e = key_event(DIKS_HOME);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_EQ(DIKS_HOME, e.key_symbol) << "one active application is not enough";
    EXPECT_EQ(0, host_stub_calls("VisualCtrl_Spawn"));

    App flash(FLASH_LITE);
    ASSERT_EQ(0, register_window(&flash.record));
    e = key_event(DIKS_PROGRAM);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_TRUE(cleared(e));
    EXPECT_EQ(1, host_stub_calls("VisualCtrl_Spawn"));

    e = key_event(DIKS_LANGUAGE);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_EQ(DIKS_LANGUAGE, e.key_symbol) << "the notice leaves the key as it was";
    EXPECT_EQ("-msg=No music started", last_text());
    EXPECT_EQ(21, vctrl_osd_msg_len);
    EXPECT_STREQ("-msg=No music started", vctrl_osd_message);

    player.record.active = 1;
    host_stub_set_audio_type(1);
    e = key_event(DIKS_LANGUAGE);
    EXPECT_EQ(0, kvn_default_event_handling(&browser.record, &e));
    EXPECT_TRUE(cleared(e));
    EXPECT_EQ(2, host_stub_calls("VisualCtrl_Spawn"));
}

// A window buffer whose wait fails at once, as a broken one does; after 3 s
// it times out, so that a menu that would spin ends instead of hanging.
std::atomic<int> g_failed_waits{0};
Clock::time_point g_failing_since;
DFBResult failing_wait(IDirectFBEventBuffer *, unsigned int, unsigned int) {
    ++g_failed_waits;
    return Clock::now() - g_failing_since < std::chrono::seconds(3) ? DFB_DESTROYED : DFB_TIMEOUT;
}
DFBResult nothing_queued(IDirectFBEventBuffer *, DFBEvent *) { return DFB_BUFFEREMPTY; }

// The menu on that buffer leaves as on its 10-second time-out (0.5 s here).
TEST(DefaultHandler, MenuOnAFailingWaitLeavesAsOnATimeOut) {
    KVN_REQUIRE_SANDBOX();
    IDirectFBEventBuffer failing;
    memset(&failing, 0, sizeof failing);
    failing.WaitForEventWithTimeout = failing_wait;
    failing.GetEvent = nothing_queued;
    kvn_window browser{};
    browser.window_id = BROWSER;
    browser.active = 1;
    browser.opacity = 0xff;
    browser.events = &failing;
    ASSERT_EQ(0, register_window(&browser));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    kvn_set_time_divisor(20);
    current_fip_mode = 7;
    g_failing_since = Clock::now();
    DFBWindowEvent e = key_event(DIKS_TV);
    EXPECT_EQ(0, kvn_default_event_handling(&browser, &e));
    auto took = Clock::now() - g_failing_since;
    kvn_set_time_divisor(1);
    EXPECT_GE(took, std::chrono::milliseconds(450));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_LE(g_failed_waits.load(), 1001) << "a pause between failed waits";
    std::vector<osd_call> calls = kvn_test::osd_calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("9 1 -2", std::to_string(calls[calls.size() - 2].command) + " " +
                            std::to_string(calls[calls.size() - 2].mode) + " " + std::to_string(calls.back().command))
        << "the pages are taken down";
    EXPECT_EQ(7, current_fip_mode) << "left as on a time-out";
    unregister_window(&browser);
}

}  // namespace
