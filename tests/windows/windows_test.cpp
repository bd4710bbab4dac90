// The registration-ordered window list: appending and removing, the lookups and counts over it,
// the focus taken at registration and handed on when its holder leaves.
#include <gtest/gtest.h>

#include "common/standby_flag.h"
#include "kvn_app_harness.h"

namespace {

using kvn_test::App;
using Records = std::vector<kvn_window *>;
using Calls = std::vector<std::string>;

kvn_window record(int id, int active = 1, uint8_t opacity = 0xff) {
    kvn_window w{};
    w.window_id = id;
    w.active = active;
    w.opacity = opacity;
    return w;
}

// The records from the head; the tail must be the last of them.
Records listed() {
    Records out;
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) out.push_back(w);
    EXPECT_EQ(out.empty() ? nullptr : out.back(), kvn_windows_end) << "the tail";
    return out;
}

}  // namespace

// Lookups by identifier find the first record registered with it.
TEST(WindowRegistry, KeepsRegistrationOrderAndLooksUpTheFirstRecordOfAnIdentifier) {
    kvn_window a = record(BROWSER), b = record(PHOTO_PLAYER, 2), c = record(BROWSER);
    kvn_window d = record(FLASH_LITE, 0), e = record(ADVANCE_MEDIA_PLAYER),
               stranger = record(TVMODE);
    EXPECT_EQ(-1, register_window(nullptr));
    for (kvn_window *w : {&a, &b, &c, &d, &e}) ASSERT_EQ(0, register_window(w));
    EXPECT_EQ(-1, register_window(&b)) << "a record linked twice would loop the list";
    EXPECT_EQ((Records{&a, &b, &c, &d, &e}), listed());
    c.on_focus = 1;
    EXPECT_EQ(&a, get_window_node(BROWSER));
    EXPECT_EQ(nullptr, get_window_node(42));
    EXPECT_EQ(&c, get_window_on_focus());
    EXPECT_EQ(0, is_self_on_focus(BROWSER));
    EXPECT_EQ(-1, is_self_on_focus(-7));
    EXPECT_EQ(1, check_window_is_active(PHOTO_PLAYER));
    EXPECT_EQ(0, check_window_is_active(FLASH_LITE));
    EXPECT_EQ(-1, check_window_is_active(TVMODE));
    EXPECT_EQ(4, get_active_window_count());
    EXPECT_EQ(-1, unregister_window(&stranger));
    for (kvn_window *w : {&e, &a, &c}) EXPECT_EQ(0, unregister_window(w));  // tail, head, middle
    EXPECT_EQ((Records{&b, &d}), listed());
    EXPECT_EQ(nullptr, d.next);
    for (kvn_window *w : {&b, &d}) EXPECT_EQ(0, unregister_window(w));
    EXPECT_EQ(Records{}, listed());
    EXPECT_EQ(0, get_active_window_count());
    EXPECT_EQ(-1, unregister_window(&a)) << "from the empty list";
}

// Only the browser, playlist navigator, photo player and flash player count, each by its first
// record, and only when that holds exactly 1.
TEST(WindowRegistry, ActiveAppsCountTheFourApplicationsWhoseFirstRecordIsActive) {
    const int counted[KVN_APPLICATION_COUNT] = {0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0};  // by identifier
    for (int id = DUMMY1; id <= TVMODE; ++id) {
        SCOPED_TRACE(window_id_str[id]);
        kvn_window first = record(id, 2), second = record(id);
        ASSERT_EQ(0, register_window(&first));
        ASSERT_EQ(0, register_window(&second));
        EXPECT_EQ(0, get_active_apps_count());
        first.active = 1;
        EXPECT_EQ(counted[id], get_active_apps_count());
        ASSERT_EQ(0, unregister_window(&first));
        ASSERT_EQ(0, unregister_window(&second));
    }
    kvn_window all[] = {record(BROWSER), record(PLAYLIST_NAVIGATOR), record(PHOTO_PLAYER),
                        record(FLASH_LITE)};
    for (kvn_window &w : all) ASSERT_EQ(0, register_window(&w));
    EXPECT_EQ(4, get_active_apps_count());
}

// To the first active record of nonzero opacity, even one registered before; to nobody when the
// visual controller leaves during a standby. The records have no DirectFB window: the focus words
// move all the same.
TEST(WindowRegistry, RemovingTheFocusedRecordPassesTheFocusOn) {
    kvn_window first = record(BROWSER, 1, 0), idle = record(PLAYLIST_NAVIGATOR, 0);
    kvn_window second = record(PHOTO_PLAYER), focused = record(FLASH_LITE), later = record(TVMODE);
    for (kvn_window *w : {&first, &idle, &second, &focused, &later})
        ASSERT_EQ(0, register_window(w));
    EXPECT_EQ(0, focus_on_window(FLASH_LITE)) << "a record without a window";
    ASSERT_EQ(0, unregister_window(&focused));
    EXPECT_EQ(0, focused.on_focus);
    EXPECT_EQ(&second, get_window_on_focus());
    EXPECT_EQ(0, later.on_focus);
    kvn_window controller = record(VISUAL_CONTROLLER);
    controller.on_focus = 1;
    ASSERT_EQ(0, register_window(&controller));
    kvn::standby_flag_store(1);
    ASSERT_EQ(0, unregister_window(&controller));
    kvn::standby_flag_store(0);
    EXPECT_EQ(nullptr, get_window_on_focus());
}

using WindowRegistryOnScreen = kvn_test::SpiedOsdLayerTest;

// A record that asks for the focus takes it at registration when it can; one that cannot keeps its
// word beside the holder's. Its leaving shows the next one and gives it the input, without a raise
// or a callback, then hides the window that left.
TEST_F(WindowRegistryOnScreen, TheFocusIsTakenAtRegistrationAndHandedOnAtRemoval) {
    App idle(PHOTO_PLAYER), browser(BROWSER), flash(FLASH_LITE);
    const auto apps = {&idle, &browser, &flash};
    for (App *a : apps) a->record.on_focus = 1;
    idle.record.active = 0;
    flash.record.opacity = 0;
    kvn_test::dfb_calls.clear();
    for (App *a : apps) ASSERT_EQ(0, register_window(&a->record));
    EXPECT_EQ((Calls{"PHOTO_PLAYER SetOpacity 0", "BROWSER SetOpacity 255", "BROWSER RequestFocus",
                     "BROWSER RaiseToTop"}),
              kvn_test::window_journal(apps));
    EXPECT_EQ(1, browser.record.on_focus);
    EXPECT_EQ(1, flash.record.on_focus);
    flash.record.on_focus = 0;
    flash.record.opacity = 0xff;
    kvn_test::dfb_calls.clear();
    ASSERT_EQ(0, unregister_window(&browser.record));
    EXPECT_EQ(
        (Calls{"FLASH_LITE SetOpacity 255", "FLASH_LITE RequestFocus", "BROWSER SetOpacity 0"}),
        kvn_test::window_journal(apps));
    EXPECT_EQ(1, flash.record.on_focus);
    EXPECT_EQ(0, browser.record.on_focus);
    EXPECT_TRUE(kvn_test::eventually([&] { return flash.has_directfb_focus(); }));
}
