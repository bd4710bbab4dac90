// The "Keep current setting?" countdown after a confirmed choice: kept on
// Return, reverted on Backspace or when it runs out, keys pressed while it
// runs coming from another thread into the window's buffer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "menu_harness.h"

using kvn_test::eventually;
using kvn_test::stored;
using namespace menu_test;

namespace {

bool countdown_started() { return !dialog(42).empty(); }

class CountdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(20);
        kvn_test::write_file("/tmp/tolu_cgi", "");
        app_ = std::make_unique<kvn_test::App>(BROWSER);
    }
    void TearDown() override {
        app_.reset();
        kvn_set_time_divisor(1);
    }
    std::unique_ptr<kvn_test::App> app_;
};

TEST_F(CountdownTest, AutoConfirmedThenBackspaceRevertsAtOnce) {
    write_var("video_output", "9", 0);  // 1080p 60Hz: the fallback is (12, 3)
    Menu menu(&app_->record);
    menu.press({DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(eventually(countdown_started));
    menu.press({DIKS_BACKSPACE});
    ASSERT_TRUE(menu.ended());
    EXPECT_EQ("-set=28\t-opts=Auto\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=TV System\t", texts(9).back())
        << "Auto goes straight to the confirmation";
    EXPECT_EQ((std::vector<int>{0, 9}), daemon_codes()) << "Auto applied, then the starting mode again";
    EXPECT_EQ("9", stored("video_output"));
    EXPECT_EQ("9\n", kvn_test::read_file("/tmp/tvmode"));
    EXPECT_EQ(std::string("tv=1080p\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    std::vector<std::string> shown = texts(42);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(countdown_text(20), shown[0]);
    EXPECT_LT(shown.size(), 5u) << "Backspace ends it at once";
    // Taken down (42, mode 1, no text) once, on the menu's connection,
    // and never shown again.
    std::vector<osd_call> all = kvn_test::osd_calls();
    std::vector<std::string> after_down;
    bool down = false;
    for (const osd_call &c : all) {
        if (c.command != 42) continue;
        EXPECT_EQ((std::vector<int>{0x8000, all.front().connection, 0}), (std::vector<int>{c.flags, c.connection, c.owner}));
        if (down) after_down.push_back(c.text);
        if (c.mode == 1) {
            EXPECT_EQ(0, c.length);
            down = true;
        }
    }
    EXPECT_TRUE(down && after_down.empty());
    EXPECT_EQ(-2, all.back().command);
    EXPECT_EQ(all.front().connection, all.back().connection);
    EXPECT_EQ(28, current_fip_mode);
}

// About 22 s of player time: 20 numbers of ten ticks, each a 10 ms wait and
// a 100 ms sleep.  At divisor 10 the whole count is measured on both sides.
TEST_F(CountdownTest, RunningOutShowsTwentyToOneForTwentyTwoSecondsThenReverts) {
    kvn_set_time_divisor(10);
    write_var("video_output", "6", 0);  // 720p 50Hz: the fallback is (10, 2)
    Menu menu(&app_->record);
    menu.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(eventually(countdown_started));
    menu.press({DIKS_OK, DIKS_CURSOR_LEFT, DIKS_5});
    menu.press({DIKS_RETURN}, DWET_KEYUP);
    ASSERT_TRUE(menu.ended(20000));
    std::vector<std::string> twenty_to_one;
    for (int n = 20; n >= 1; --n) twenty_to_one.push_back(countdown_text(n));
    EXPECT_EQ(twenty_to_one, texts(42));
    double counted = seconds_until(42, 0, 42, 1);
    EXPECT_GE(counted, 2.15) << "199 sleeps of 10 ms and 200 waits of 1 ms at divisor 10";
    EXPECT_LE(counted, 4.0) << "a slow machine adds to each of the 199 sleeps";
    EXPECT_EQ((std::vector<int>{7, 6}), daemon_codes()) << "1080i 60Hz, then back to 720p 50Hz";
    EXPECT_EQ("6", stored("video_output"));
    // The reply file is written in place, not truncated: the fallback's
    // reply is the first one in it.
    EXPECT_EQ(std::string("tv=720p\0", 8), kvn_test::read_file("/tmp/tolu_cgi").substr(0, 8));
    EXPECT_TRUE(menu.left_in_buffer().empty()) << "the countdown uses up what it reads";
}

TEST_F(CountdownTest, PendingReturnKeepsAndAFallbackWithoutRowIsAuto) {
    {
        // Keys pressed faster than the menu reads them: the second Return
        // after the confirmation is the countdown's.
        write_var("video_output", "8", 0);
        Menu menu(&app_->record);
        menu.press({DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
        ASSERT_TRUE(menu.ended());
        EXPECT_EQ(std::vector<int>{7}, daemon_codes());
        EXPECT_EQ("7", stored("video_output"));
        EXPECT_EQ(1u, texts(42).size());
    }
    {
        write_var("video_output", "2", 0);  // 576i has no row: the menu starts on Auto, 50hz
        Menu menu(&app_->record);
        menu.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
        ASSERT_TRUE(menu.ended());
        EXPECT_EQ((std::vector<int>{6, 0}), daemon_codes());
        EXPECT_EQ("0", stored("video_output"));
        EXPECT_EQ(std::string("tv=auto\0", 8), kvn_test::read_file("/tmp/tolu_cgi").substr(0, 8));
    }
}

}  // namespace
