// The TV key's road: the key in the browser's window opens the menu on the
// browser's thread, the pages go to the dialog service, the keys come from
// the browser's own event buffer, and the countdown keeps or reverts.
#include <gtest/gtest.h>

#include "kvn_app_harness.h"
#include "kvn_platform.h"
#include "smpoutd_api.h"

using kvn_test::App;
using kvn_test::eventually;

namespace {

using kvn_test::stored;

std::string countdown_text(int seconds, const char *keep = "Keep current setting?", const char *unit = "seconds") {
    return "-tit=TV Mode\t-msg=" + std::string(20, ' ') + keep + std::string(51, ' ') +
           std::to_string(seconds) + " " + unit + "....\t-ntt=Yes\t-rtt=No\t";
}

class TvKey : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(50);
        kvn_test::write_file("/tmp/tolu_cgi", "");
        browser_ = std::make_unique<App>(BROWSER);
        ASSERT_EQ(0, register_window(&browser_->record));
        ASSERT_EQ(0, focus_on_window(BROWSER));
        first_ = kvn_test::osd_calls().size();
    }
    void TearDown() override {
        browser_.reset();
        kvn_set_time_divisor(1);
    }
    // Presses the keys at once, so that they wait in the buffer as a fast
    // remote's would, and waits until the menu has ended.
    void run(std::initializer_list<DFBInputDeviceKeySymbol> keys, int timeout_ms = 10000) {
        for (DFBInputDeviceKeySymbol k : keys) browser_->press(k);
        browser_->start();
        ASSERT_TRUE(eventually([&] { return browser_->handled() >= 1; }, timeout_ms)) << "the menu never ended";
    }
    std::vector<osd_call> menu_commands(int command) {
        std::vector<osd_call> all = kvn_test::osd_calls(), out;
        for (size_t i = first_; i < all.size(); ++i)
            if (all[i].owner == 0 && all[i].command == command) out.push_back(all[i]);
        return out;
    }
    std::unique_ptr<App> browser_;
    size_t first_ = 0;
};

TEST_F(TvKey, ChosenModeIsKeptWithReturnAtTheCountdown) {
    write_var("video_output", "8", 0);  // 1080i 50Hz
    current_fip_mode = 5;
    run({DIKS_TV, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
    std::vector<osd_call> pages = menu_commands(9);
    ASSERT_GE(pages.size(), 6u);
    EXPECT_STREQ("-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=Next\t-rtt=Exit\t-acm=\t-inm=\t"
                 "-fset=24\t-fdis=0\t-fopt=1080i\t", pages[0].text);
    EXPECT_EQ(0x8002, pages[0].flags);
    EXPECT_EQ(strlen(pages[0].text), pages[0].length);
    EXPECT_STREQ("-set=25\t-opts=50hz,60hz\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  1080i\t"
                 "-fset=25\t-fdis=0\t-fopt=50hz\t", pages[1].text);
    EXPECT_STREQ("-set=25\t-fdis=0\t-fopt=50hz\t", pages[2].text);
    EXPECT_STREQ("-set=25\t-fdis=0\t-fopt=60hz\t", pages[3].text);
    EXPECT_STREQ("-set=25\t-fdis=0\t-fopt=60hz\t", pages[4].text) << "the end of the list holds";
    EXPECT_STREQ("-set=28\t-opts=Frequency  60hz\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=Resolution 1080i\t",
                 pages[5].text);
    EXPECT_EQ(1, pages.back().mode) << "the pages are taken down";
    std::vector<osd_call> countdown = menu_commands(42);
    ASSERT_GE(countdown.size(), 2u);
    EXPECT_EQ(countdown_text(20), countdown[0].text);
    EXPECT_EQ(1, countdown.back().mode);
    EXPECT_EQ(7, smpoutd_stub_last_code()) << "1080i 60Hz kept";
    EXPECT_EQ("7\n", kvn_test::read_file("/tmp/tvmode"));
    EXPECT_EQ("7", stored("video_output"));
    EXPECT_EQ(std::string("tv=1080i\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    EXPECT_EQ(28, current_fip_mode);
    EXPECT_EQ(-2, kvn_test::osd_calls().back().command);
}

TEST_F(TvKey, CountdownLeftAloneRestoresTheStartingRowAndFrequency) {
    write_var("video_output", "8", 0);
    run({DIKS_TV, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN});
    std::vector<osd_call> countdown = menu_commands(42);
    ASSERT_EQ(21u, countdown.size()) << "20 down to 1, then down";
    for (int i = 0; i < 20; ++i) EXPECT_EQ(countdown_text(20 - i), countdown[static_cast<size_t>(i)].text);
    // 1080p 60Hz was tried, then the start (1080i at 50hz) came back.
    EXPECT_EQ(9, smpoutd_stub_code(smpoutd_stub_count() - 2));
    EXPECT_EQ(8, smpoutd_stub_last_code());
    EXPECT_EQ("8", stored("video_output"));
}

TEST_F(TvKey, AutoSkipsTheFrequencyPageAndBackspaceRevertsAtOnce) {
    write_var("video_output", "2", 0);  // 576i: no row, "Auto" highlighted
    run({DIKS_TV, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_OK, DIKS_RETURN, DIKS_BACKSPACE});
    std::vector<osd_call> pages = menu_commands(9);
    ASSERT_GE(pages.size(), 4u);
    EXPECT_STREQ("-set=24\t-fdis=0\t-fopt=Auto\t", pages[1].text) << "no wrap-around";
    EXPECT_STREQ("-set=28\t-opts=Auto\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=TV System\t", pages[2].text);
    EXPECT_STREQ(pages[2].text, pages[3].text) << "OK confirms nothing";
    EXPECT_EQ(2u, menu_commands(42).size()) << "Backspace ends the countdown at once";
    EXPECT_EQ(0, smpoutd_stub_last_code()) << "the fallback of a start without a row is Auto";
}

TEST_F(TvKey, ShortcutsApplyWithoutCountdownAndLeaveLaterKeysToTheApplication) {
    write_var("video_output", "11", 0);
    run({DIKS_TV, DIKS_3, DIKS_9, DIKS_OK});
    EXPECT_EQ(9, smpoutd_stub_last_code());
    EXPECT_TRUE(menu_commands(42).empty());
    std::vector<osd_call> notices = menu_commands(13);
    ASSERT_EQ(1u, notices.size());
    EXPECT_STREQ("-msg=Invalid mode", notices[0].text);
    ASSERT_TRUE(browser_->wait_for_keys(2));
    EXPECT_EQ(DIKS_OK, browser_->keys().back()) << "the key behind the shortcut stays for the browser";
}

TEST_F(TvKey, FourKListAndLanguage) {
    write_var("video_output", "11", 0);
    write_var("lang", "chinese_lang", 0);
    run({DIKS_TV, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
         DIKS_CURSOR_LEFT, DIKS_STOP});
    write_var("lang", "english_lang", 0);
    std::vector<osd_call> pages = menu_commands(9);
    ASSERT_GE(pages.size(), 8u);
    EXPECT_NE(nullptr, strstr(pages[0].text, "-ntt=下一个\t-rtt=退出\t"));
    EXPECT_NE(nullptr, strstr(pages[2].text, "-opts=24hz,25hz,30hz\t"));
    EXPECT_NE(nullptr, strstr(pages[2].text, "-fopt=24hz\t")) << "1080p 24Hz keeps 24hz on 4K";
    const char *expected[] = {"25hz", "30hz", "30hz", "25hz"};
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(nullptr, strstr(pages[static_cast<size_t>(4 + i)].text, expected[i])) << i;
    EXPECT_EQ(1, pages.back().mode);
    EXPECT_EQ(-1, smpoutd_stub_last_code()) << "STOP leaves the mode as it was";
}

TEST_F(TvKey, InactivityClosesTheMenuWithoutChangingAnything) {
    current_fip_mode = 5;
    run({DIKS_TV});
    EXPECT_EQ(5, current_fip_mode);
    EXPECT_EQ(1, menu_commands(9).back().mode);
    EXPECT_EQ(-1, smpoutd_stub_last_code());
}

// The player's timing, once: about 22 seconds of countdown with no key.
TEST(TvKeyRealTime, CountdownRunsItsTwentySeconds) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tolu_cgi", "");
    App browser(BROWSER);
    ASSERT_EQ(0, register_window(&browser.record));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    write_var("video_output", "5", 0);
    for (DFBInputDeviceKeySymbol k : {DIKS_TV, DIKS_RETURN, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_RETURN})
        browser.press(k);
    auto start = std::chrono::steady_clock::now();
    browser.start();
    ASSERT_TRUE(eventually([&] { return browser.handled() >= 1; }, 40000));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GT(took.count(), 20000);
    EXPECT_LT(took.count(), 30000);
    EXPECT_EQ(6, smpoutd_stub_code(smpoutd_stub_count() - 2)) << "720p 50Hz tried";
    EXPECT_EQ(5, smpoutd_stub_last_code()) << "and 720p 60Hz restored";
}

}  // namespace
