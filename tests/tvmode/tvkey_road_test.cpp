// The TV key's road: the key in the browser's window opens the menu on the
// browser's thread, the pages go to the dialog service, the keys come from
// the browser's own event buffer, and the countdown keeps or reverts.  The
// menu's own rules are tested in menu_pages_test and menu_countdown_test.
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

}  // namespace
