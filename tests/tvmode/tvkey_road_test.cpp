// The TV key's road: the key in the browser's window opens the menu on the
// browser's own thread through the default handler, the pages go to the
// dialog service, the keys come from the browser's own event buffer, and
// the chosen mode is switched, announced to the dialog service on behalf of
// the focused browser, and kept.  The menu's own rules are tested in
// menu_pages_test and menu_countdown_test.
#include <gtest/gtest.h>

#include "menu_harness.h"

using kvn_test::App;
using kvn_test::eventually;
using kvn_test::stored;
using namespace menu_test;

TEST(TvKey, ChosenModeIsSwitchedOnTheBrowsersThreadAndKeptWithReturn) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(50);
    kvn_test::write_file("/tmp/tolu_cgi", "");
    App browser(BROWSER);
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
    ASSERT_TRUE(eventually([&] { return browser.handled() >= 1; }, 10000)) << "the menu never ended";
    browser.stop();
    kvn_set_time_divisor(1);

    EXPECT_EQ(std::vector<DFBInputDeviceKeySymbol>{DIKS_TV}, browser.keys())
        << "the menu read its keys from the browser's buffer before the browser's loop could";
    std::vector<std::string> pages = texts(9);
    ASSERT_EQ(5u, pages.size());
    EXPECT_EQ(resolution_page("1080i"), pages[0]);
    EXPECT_EQ("-set=28\t-opts=Frequency  60hz\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=Resolution 1080i\t",
              pages[4]);
    std::vector<std::string> countdown = texts(42);
    ASSERT_GE(countdown.size(), 1u);
    EXPECT_EQ(countdown_text(20), countdown[0]);

    // The mode change tells the dialog service on behalf of the focused
    // browser, on a connection of its own between the menu's open and close.
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_GE(all.size(), 3u);
    const int menu_connection = all.front().connection;
    std::vector<osd_call> change;
    for (const osd_call &c : all)
        if (c.owner == browser.record.osd_id) change.push_back(c);
    ASSERT_EQ(3u, change.size());
    EXPECT_EQ(-3, change[0].command);
    EXPECT_EQ(34, change[1].command);
    EXPECT_EQ(-2, change[2].command);
    EXPECT_NE(0, change[1].connection);
    EXPECT_NE(menu_connection, change[1].connection);
    EXPECT_EQ(change[0].connection, change[2].connection);
    for (const osd_call &c : all)
        if (c.owner != browser.record.osd_id) {
            EXPECT_EQ(0, c.owner);
        }
    EXPECT_EQ(-2, all.back().command);
    EXPECT_EQ(0, osd_service_open_connections());

    EXPECT_EQ(std::vector<int>{7}, daemon_codes()) << "1080i 60Hz kept";
    EXPECT_EQ("7\n", kvn_test::read_file("/tmp/tvmode"));
    EXPECT_EQ("7", stored("video_output"));
    EXPECT_EQ(std::string("tv=1080i\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    EXPECT_EQ(28, current_fip_mode);
}
