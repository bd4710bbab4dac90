// The window list: its order, lookups and counts, the focus taken at registration and handed on.
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

Records listed() {
    Records out;
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) out.push_back(w);
    EXPECT_EQ(out.empty() ? nullptr : out.back(), kvn_windows_end) << "the tail";
    return out;
}

}  // namespace

TEST(WindowRegistry, KeepsRegistrationOrderAndLooksUpTheFirstRecordOfAnIdentifier) {
    kvn_window a = record(BROWSER), b = record(PHOTO_PLAYER, 2), c = record(BROWSER);
    kvn_window d = record(FLASH_LITE, 0), e = record(ADVANCE_MEDIA_PLAYER), stranger{};
    for (kvn_window *w : {&a, &b, &c, &d, &e}) ASSERT_EQ(0, register_window(w));
    EXPECT_EQ(-1, register_window(nullptr));
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

// Only four applications count, each by its first record, and only when that holds exactly 1.
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
}

using WindowRegistryOnScreen = kvn_test::SpiedOsdLayerTest;

// Asked for, the focus is taken at registration if it can be; at the holder's removal the first
// eligible record is shown and given the input, and the one that left hidden; during a standby
// the visual controller's removal focuses nobody.
TEST_F(WindowRegistryOnScreen, TheFocusIsTakenAtRegistrationAndHandedOnAtRemoval) {
    App idle(PLAYLIST_NAVIGATOR), second(PHOTO_PLAYER), focused(FLASH_LITE), refused(BROWSER, 1, 0);
    App controller(VISUAL_CONTROLLER);
    const auto apps = {&idle, &second, &focused, &refused, &controller};
    idle.record.active = 0;
    focused.record.on_focus = 1;
    refused.record.on_focus = 1;
    kvn_test::dfb_calls.clear();
    for (App *a : {&idle, &second, &focused, &refused}) ASSERT_EQ(0, register_window(&a->record));
    EXPECT_EQ(
        (Calls{"PLAYLIST_NAVIGATOR SetOpacity 0", "PHOTO_PLAYER SetOpacity 0",
               "FLASH_LITE SetOpacity 255", "FLASH_LITE RequestFocus", "FLASH_LITE RaiseToTop"}),
        kvn_test::window_journal(apps));
    EXPECT_EQ(1, focused.record.on_focus);
    EXPECT_EQ(1, refused.record.on_focus);
    kvn_test::dfb_calls.clear();
    ASSERT_EQ(0, unregister_window(&focused.record));
    EXPECT_EQ((Calls{"PHOTO_PLAYER SetOpacity 255", "PHOTO_PLAYER RequestFocus",
                     "FLASH_LITE SetOpacity 0"}),
              kvn_test::window_journal(apps));
    EXPECT_EQ(&second.record, get_window_on_focus());
    EXPECT_EQ(0, focused.record.on_focus);
    controller.record.on_focus = 1;
    ASSERT_EQ(0, register_window(&controller.record));
    kvn::standby_flag_store(1);
    ASSERT_EQ(0, unregister_window(&controller.record));
    kvn::standby_flag_store(0);
    EXPECT_EQ(nullptr, get_window_on_focus());
}
