// Keys and arguments posted to another application's loop; unwanted events offered to the others.
#include "kvn_app_harness.h"

namespace {

using kvn_test::App;
using Strings = std::vector<std::string>;

// The strings handed over, up to the closing null; argc counts them.
Strings strings(const kvn_invoke_args *args) {
    Strings out;
    for (int i = 0; args->argv[i] != nullptr; ++i) out.push_back(args->argv[i]);
    EXPECT_EQ(static_cast<int>(out.size()), args->argc);
    return out;
}

}  // namespace

TEST(Forwarding, EveryIdentifierHasItsName) {
    const std::pair<int, const char *> rows[] = {
        {0, "DUMMY1"},
        {1, "DUMMY2"},
        {2, "BROWSER"},
        {3, "ADVANCE_MEDIA_PLAYER"},
        {4, "PHOTO_PLAYER"},
        {5, "SCREEN_SAVER"},
        {6, "VISUAL_CONTROLLER"},
        {7, "PLAYLIST_NAVIGATOR"},
        {8, "FLASH_LITE"},
        {9, "FLASH_WIDGET"},
        {10, "TVMODE"},
    };
    for (const auto &[id, name] : rows) EXPECT_STREQ(name, window_id_str[id]) << id;
}

TEST(Forwarding, KeysAndArgumentsReachTheOtherApplicationsLoop) {
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}));
    static std::vector<DFBWindowEvent> received;
    flash.start([](DFBWindowEvent &e) {
        if (e.type == DWET_KEYDOWN) received.push_back(e);
        return true;
    });
    EXPECT_EQ(-1, kvnfw_send_event(TVMODE, DIKS_OK));
    EXPECT_EQ(1, kvn_invoke_framework_apps(42, "%s", "x"));
    ASSERT_EQ(0, kvnfw_send_event(FLASH_LITE, DIKS_OK));
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s %d %s", "a", 5, "b"));
    ASSERT_TRUE(flash.wait_for_keys(2));
    EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_OK, DIKS_CUSTOM0}), flash.keys());
    kvn_invoke_args *args = flash.record.invoke_args;
    EXPECT_EQ((Strings{"a", "b"}), strings(args));
    // Sixteen strings: fourteen kept, a null one handed on empty, the holder reused.
    ASSERT_EQ(0, kvn_invoke_framework_apps(FLASH_LITE, "%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s", "1", "2",
                                           static_cast<const char *>(nullptr), "4", "5", "6", "7",
                                           "8", "9", "10", "11", "12", "13", "14", "15", "16"));
    EXPECT_EQ(args, flash.record.invoke_args);
    EXPECT_EQ((Strings{"1", "2", "", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"}),
              strings(args));
    EXPECT_TRUE(flash.wait_for_keys(3));
    flash.stop();
    ASSERT_EQ(3u, received.size());
    for (const DFBWindowEvent &e : received) {  // a key-down naming the key, nothing else set
        EXPECT_EQ(std::vector<int>(9, 0),
                  (std::vector<int>{e.flags, e.key_id, e.key_code, e.modifiers, e.locks, e.button,
                                    e.buttons, e.x, e.y}));
    }
}

namespace {

// Notes its application's letter and takes the key `Takes` (DIKS_NULL: any key).
std::string g_offered;
template <char Name, DFBInputDeviceKeySymbol Takes>
int handler(DFBWindowEvent *e) {
    g_offered += Name;
    return Takes == DIKS_NULL || e->key_symbol == Takes ? 0 : 1;
}

}  // namespace

// Not to the caller; the media player has no handler, photos decline, flash takes RED, widget BLUE.
TEST(Forwarding, UnwantedEventsAreOfferedToTheOthersInOrder) {
    App browser(BROWSER), player(ADVANCE_MEDIA_PLAYER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    App widget(FLASH_WIDGET);
    browser.record.external_event_callback = handler<'B', DIKS_NULL>;
    photos.record.external_event_callback = handler<'P', DIKS_F12>;
    flash.record.external_event_callback = handler<'F', DIKS_RED>;
    widget.record.external_event_callback = handler<'W', DIKS_BLUE>;
    ASSERT_TRUE(kvn_test::register_all({&browser, &player, &photos, &flash, &widget}));
    DFBWindowEvent event = kvn_test::key_event(DIKS_GREEN);
    EXPECT_EQ(-1, redirect_external_event(&browser.record, &event));
    EXPECT_EQ(DIKS_GREEN, event.key_symbol) << "unchanged";
    event.key_symbol = DIKS_RED;
    EXPECT_EQ(0, redirect_external_event(&browser.record, &event));
    EXPECT_EQ(0, event.type) << "consumed";
    EXPECT_EQ(DIKS_NULL, event.key_symbol);
    EXPECT_EQ("PFWPF", g_offered) << "in order, up to the first that takes it";
    event = kvn_test::key_event(DIKS_BLUE);
    EXPECT_EQ(0, redirect_external_event(nullptr, &event));
    EXPECT_EQ("PFWPFB", g_offered) << "without a caller, the first handler of all";
    // A record without an event buffer keeps its arguments and is sent no key.
    App bare(VISUAL_CONTROLLER);
    bare.record.events->Release(bare.record.events);  // its window stays: DirectFB's focus watch
    bare.record.events = nullptr;                     // on it is released with it
    ASSERT_EQ(0, register_window(&bare.record));
    EXPECT_EQ(0, kvn_invoke_framework_apps(VISUAL_CONTROLLER, "%s", "kept"));
    EXPECT_EQ(Strings{"kept"}, strings(bare.record.invoke_args));
    EXPECT_EQ(-1, kvnfw_send_event(VISUAL_CONTROLLER, DIKS_OK));
}
