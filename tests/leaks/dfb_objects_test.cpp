// Every DirectFB interface the library makes is released again: none is
// left over after a standby, a TV-mode menu, and none at all once the
// windows and the context are cleaned up.
#include <gtest/gtest.h>

#include <algorithm>

#include "dfb_objects.h"
#include "keys/keys_internal.h"
#include "kvn_app_harness.h"

using kvn_test::App;
using kvn_test::dfb_objects_alive;
using kvn_test::eventually;

namespace {

std::string alive() {
    std::string which;
    dfb_objects_alive(&which);
    return which;
}

TEST(DirectFBObjects, NoneLeftByAStandbyAMenuOrTheCleanUp) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(50);
    {
        App browser(BROWSER), flash(FLASH_LITE);
        ASSERT_EQ(0, register_window(&browser.record));
        ASSERT_EQ(0, register_window(&flash.record));
        ASSERT_EQ(0, focus_on_window(BROWSER));
        const size_t before = dfb_objects_alive();
        const std::string before_kinds = alive();
        // Main interface, screen, OSD layer, two windows with surfaces and buffers.
        ASSERT_GE(before, 9u) << before_kinds;

        browser.start();
        flash.start();
        browser.press(DIKS_POWER);  // the flash player runs the standby
        ASSERT_TRUE(eventually([] { return kvn_standby_input_buffer() != nullptr; })) << "no standby";
        kvn_test::post_input_key(kvn_standby_input_buffer(), DIKS_POWER);
        ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0 && kvn_standby_input_buffer() == nullptr; }));
        EXPECT_EQ(before, dfb_objects_alive()) << "after a standby: " << alive() << "\nbefore: " << before_kinds;

        ASSERT_EQ(0, focus_on_window(BROWSER));
        int handled = browser.handled();
        for (DFBInputDeviceKeySymbol k : {DIKS_TV, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
            browser.press(k);
        ASSERT_TRUE(eventually([&] { return browser.handled() > handled; }, 20000)) << "the menu never ended";
        auto calls = kvn_test::osd_calls();
        EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const osd_call &c) { return c.command == 42; }));
        EXPECT_EQ(before, dfb_objects_alive()) << "after a menu: " << alive() << "\nbefore: " << before_kinds;
    }
    kvn_set_time_divisor(1);
    EXPECT_EQ(3u, dfb_objects_alive()) << "after the windows' clean-up: " << alive();
    // DirectFB's own release waits for what is still held: do not hang on it.
    if (::testing::Test::HasFailure()) return;
    kvn_clean_up();
    EXPECT_EQ(0u, dfb_objects_alive()) << "after the clean-up: " << alive();
}

}  // namespace
