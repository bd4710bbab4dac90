// Focus and visibility on real windows: the spies' journal, opacities, what the services heard.
#include "host_stub.h"
#include "kvn_app_harness.h"
#include "screensaver_stub.h"

namespace {

using kvn_test::App;
using Calls = std::vector<std::string>;
using Focus = kvn_test::SpiedOsdLayerTest;

int called_back(kvn_window *w, const char *how) {
    kvn_test::dfb_calls.push_back(window_id_str[w->window_id] + std::string(" called back") + how);
    return 0;
}

std::vector<App *> g_apps;  // registered in order, their callbacks logging who was called back
void enter(std::initializer_list<App *> apps) {
    g_apps = apps;
    for (App *a : apps) {
        a->record.focus_on_window_callback = [](kvn_window *w) { return called_back(w, ""); };
        a->record.focus_next_window_callback = [](kvn_window *w) {
            return called_back(w, " next");
        };
    }
    ASSERT_TRUE(kvn_test::register_all(apps));
    kvn_test::dfb_calls.clear();
}
Calls journal() {  // the calls since the last journal
    Calls out = kvn_test::window_journal(g_apps);
    kvn_test::dfb_calls.clear();
    return out;
}

}  // namespace

// One row a rule. Every window is at 0x33: hidden 0, untouched 51, kept visible 255; the visible
// target keeps its opacity. The saver and the loser hear only of a change between applications.
TEST_F(Focus, EveryVisibilityRuleOfFocusingAnApplication) {
    App player(ADVANCE_MEDIA_PLAYER), flash(FLASH_LITE), photos(PHOTO_PLAYER), flash2(FLASH_LITE);
    App saver(SCREEN_SAVER), widget(FLASH_WIDGET), browser(BROWSER);
    const auto apps = {&player, &flash, &photos, &flash2, &saver, &widget, &browser};
    enter(apps);
    const struct {
        const char *rule;
        int from, to, hide_others, bgrun;
        bool told;
        std::vector<int> seen;  // in registration order
    } rows[] = {
        {"the others hidden", BROWSER, PHOTO_PLAYER, 1, 0, true, {0, 0, 51, 0, 0, 0, 0}},
        {"none hidden", BROWSER, PHOTO_PLAYER, 0, 0, true, {51, 51, 51, 51, 51, 51, 51}},
        {"photos hidden by flash", BROWSER, FLASH_LITE, 1, 0, true, {0, 51, 0, 0, 0, 0, 0}},
        {"photos running under flash", BROWSER, FLASH_LITE, 1, 1, true, {0, 51, 255, 0, 0, 0, 0}},
        {"saver over flash", FLASH_LITE, SCREEN_SAVER, 1, 0, true, {51, 255, 0, 255, 51, 0, 0}},
        {"saver over photos", PHOTO_PLAYER, SCREEN_SAVER, 1, 0, true, {51, 0, 0, 255, 51, 0, 0}},
        {"saver over browser", BROWSER, SCREEN_SAVER, 1, 0, true, {51, 0, 0, 0, 51, 0, 0}},
        {"widget over flash", FLASH_LITE, FLASH_WIDGET, 1, 0, true, {0, 255, 0, 255, 0, 51, 0}},
        {"the same application", FLASH_LITE, FLASH_LITE, 1, 0, false, {0, 51, 0, 0, 0, 0, 0}},
        {"nobody had it", -1, BROWSER, 1, 0, false, {0, 0, 0, 0, 0, 0, 51}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.rule);
        for (App *a : apps) a->record.on_focus = 0;
        if (row.from >= 0) {
            EXPECT_EQ(0, focus_on_window(row.from));
        }
        host_stub_set_bgrun(row.bgrun);
        kvn_window *target = get_window_node(row.to);
        target->hide_others = row.hide_others;
        for (App *a : apps) a->record.window->SetOpacity(a->record.window, 0x33);
        const int switches = scsvr_stub_switch_count();
        const size_t dialogs = kvn_test::osd_calls().size();
        ASSERT_EQ(0, focus_on_window(row.to));
        std::vector<int> seen;  // as DirectFB reads it back
        for (App *a : apps) seen.push_back(a->opacity());
        EXPECT_EQ(row.seen, seen);
        EXPECT_EQ(target, get_window_on_focus()) << "the only focus word set";
        EXPECT_EQ(row.told ? 1 : 0, scsvr_stub_switch_count() - switches);
        EXPECT_EQ(row.told ? 3u : 0u, kvn_test::osd_calls().size() - dialogs);
        target->hide_others = 1;
    }
}

// The others hidden in list order, the target shown, given the input, raised, called back.
TEST_F(Focus, OnAnApplicationHidesTheOthersInOrderThenShowsRaisesAndCallsItBack) {
    App browser(BROWSER), photos(PHOTO_PLAYER), flash(FLASH_LITE);
    enter({&browser, &photos, &flash});
    ASSERT_EQ(0, focus_on_window(PHOTO_PLAYER));
    journal();
    const size_t before = kvn_test::osd_calls().size();
    EXPECT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ(
        (Calls{"PHOTO_PLAYER SetOpacity 0", "FLASH_LITE SetOpacity 0", "BROWSER SetOpacity 255",
               "BROWSER RequestFocus", "BROWSER RaiseToTop", "BROWSER called back"}),
        journal());
    const std::vector<osd_call> calls = kvn_test::osd_calls();
    std::vector<std::vector<int>> told;  // owner, command, flags, mode, length, one connection
    for (size_t i = before; i < calls.size(); ++i)
        told.push_back({calls[i].owner, calls[i].command, calls[i].flags, calls[i].mode,
                        calls[i].length, calls[i].connection == calls[before].connection});
    const int p = photos.record.osd_id;
    EXPECT_EQ((std::vector<std::vector<int>>{
                  {p, -3, 0, 0, 0, 1}, {p, 35, -1, -1, 0, 1}, {p, -2, 0, 0, 0, 1}}),
              told);
    // No record, an inactive one, one of opacity 0: refused, nothing changed.
    photos.record.active = 0;
    flash.record.opacity = 0;
    EXPECT_EQ(-1, focus_on_window(PHOTO_PLAYER));
    EXPECT_EQ(-1, focus_on_window(FLASH_LITE));
    EXPECT_EQ(-1, focus_on_window(DUMMY1));
    EXPECT_EQ(Calls{}, journal());
    EXPECT_EQ(&browser.record, get_window_on_focus());
    EXPECT_EQ(0, func_default_focus_next_window_callback(&browser.record));
    EXPECT_EQ(0, func_default_focus_on_window_callback(&browser.record));
}

// From the head: three eligible alternate between the first two; hiding knows no exceptions.
TEST_F(Focus, NextAlternatesTheFirstTwoEligibleFromTheHead) {
    App flash(FLASH_LITE, 0), photos(PHOTO_PLAYER, 0), widget(FLASH_WIDGET, 0);
    enter({&flash, &photos, &widget});
    ASSERT_EQ(0, focus_on_window(BROWSER));
    EXPECT_EQ(&flash.record, get_window_on_focus()) << "no browser: the flash player";
    journal();
    EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ((Calls{"PHOTO_PLAYER SetOpacity 255", "PHOTO_PLAYER RequestFocus",
                     "PHOTO_PLAYER RaiseToTop", "PHOTO_PLAYER called back next"}),
              journal());
    EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ(&flash.record, get_window_on_focus()) << "from the head, not the third";
    EXPECT_EQ(0, photos.record.on_focus);
    ASSERT_EQ(0, focus_next_window());
    flash.record.hide_others = 1;
    host_stub_set_bgrun(1);
    journal();
    EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ((Calls{"PHOTO_PLAYER SetOpacity 0", "FLASH_WIDGET SetOpacity 0",
                     "FLASH_LITE SetOpacity 255", "FLASH_LITE RequestFocus",
                     "FLASH_LITE RaiseToTop", "FLASH_LITE called back next"}),
              journal());
    // Nothing else eligible: nothing changes; no focus word of exactly 1: refused.
    photos.record.active = 0;
    widget.record.active = 0;
    EXPECT_EQ(0, focus_next_window());
    EXPECT_EQ(Calls{}, journal());
    EXPECT_EQ(1, flash.record.on_focus);
    flash.record.on_focus = 2;
    photos.record.active = 1;
    EXPECT_EQ(-1, focus_next_window());
}
