// The TV key's road: the key in the browser's window opens the menu on the
// browser's own thread through the default handler, the keys come from the
// browser's own buffer, and the chosen mode is switched on behalf of the
// focused browser and kept.  The menu's own rules are in menu_*_test.
#include <gtest/gtest.h>

#include "menu_harness.h"

using namespace menu_test;

TEST(TvKey, ChosenModeIsSwitchedOnTheBrowsersThreadAndKeptWithReturn) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(50);
    kvn_test::write_file("/tmp/tolu_cgi", "");
    kvn_test::App browser(BROWSER);
    ASSERT_EQ(0, register_window(&browser.record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    write_var("video_output", "8", 0);  // 1080i 50Hz
    current_fip_mode = 5;
    osd_service_clear();
    smpoutd_stub_clear();
    // Pressed at once, as a fast remote's keys wait in the buffer.
    for (DFBInputDeviceKeySymbol k : {DIKS_TV, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
        browser.press(k);
    browser.start();
    ASSERT_TRUE(kvn_test::eventually([&] { return browser.handled() >= 1; }, 10000)) << "the menu never ended";
    browser.stop();
    kvn_set_time_divisor(1);

    EXPECT_EQ(std::vector<DFBInputDeviceKeySymbol>{DIKS_TV}, browser.keys())
        << "the menu read its keys from the browser's buffer before the browser's loop could";
    EXPECT_EQ(resolution_page("1080i"), texts(9).at(0));
    // The change speaks for the browser on a connection of its own.
    std::vector<int> commands;
    for (const osd_call &c : kvn_test::osd_calls()) {
        if (c.owner == browser.record.osd_id) commands.push_back(c.command);
        if (c.command == 34) {
            EXPECT_NE(kvn_test::osd_calls().front().connection, c.connection);
        }
    }
    EXPECT_EQ((std::vector<int>{-3, 34, -2}), commands);
    EXPECT_EQ(0, osd_service_open_connections());
    EXPECT_EQ(std::vector<int>{7}, daemon_codes()) << "1080i 60Hz kept";
    EXPECT_EQ("7", kvn_test::stored("video_output"));
    EXPECT_EQ(std::string("tv=1080i\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    EXPECT_EQ(28, current_fip_mode);
}
