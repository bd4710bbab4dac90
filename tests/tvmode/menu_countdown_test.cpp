// The "Keep current setting?" countdown after a confirmed choice: kept on
// Return, reverted on Backspace or when it runs out, keys pressed while it
// runs coming from another thread into the window's buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kvn_app_harness.h"
#include "kvn_platform.h"
#include "smpoutd_api.h"

using kvn_test::App;
using kvn_test::eventually;
using kvn_test::stored;

namespace {

std::string countdown_text(int seconds) {
    return "-tit=TV Mode\t-msg=" + std::string(20, ' ') + "Keep current setting?" + std::string(51, ' ') +
           std::to_string(seconds) + " seconds....\t-ntt=Yes\t-rtt=No\t";
}

std::vector<std::string> shown_countdown() {
    std::vector<std::string> out;
    for (const osd_call &c : kvn_test::osd_calls())
        if (c.command == 42 && c.mode == 0) out.push_back(c.text);
    return out;
}

bool countdown_started() {
    for (const osd_call &c : kvn_test::osd_calls())
        if (c.command == 42) return true;
    return false;
}

std::vector<int> daemon_codes() {
    std::vector<int> out;
    for (int i = 0; i < smpoutd_stub_count(); ++i) out.push_back(smpoutd_stub_code(i));
    return out;
}

// An application window whose thread runs the menu while the test presses
// keys into the window's buffer.
class Player {
public:
    explicit Player(const char *stored_mode) : app_(BROWSER) {
        kvn_test::write_file("/tmp/tolu_cgi", "");
        write_var("video_output", stored_mode, 0);
        osd_service_clear();
        smpoutd_stub_clear();
        menu_ = std::thread([this] {
            kvn_tvmode(&app_.record);
            done_ = true;
        });
        EXPECT_TRUE(eventually([] { return osd_service_count() >= 2; }));
    }
    ~Player() {
        if (menu_.joinable()) menu_.join();
    }
    void press(DFBInputDeviceKeySymbol key, DFBWindowEventType type = DWET_KEYDOWN) {
        kvn_test::post_key(app_.record.events, key, type);
    }
    void press(std::initializer_list<DFBInputDeviceKeySymbol> keys) {
        for (DFBInputDeviceKeySymbol k : keys) press(k);
    }
    bool wait_until_ended(int timeout_ms) {
        bool ended = eventually([this] { return done_.load(); }, timeout_ms);
        if (ended) menu_.join();
        return ended;
    }
    int pending_events() {
        int n = 0;
        DFBEvent event;
        while (app_.record.events->GetEvent(app_.record.events, &event) == DFB_OK) ++n;
        return n;
    }

private:
    App app_;
    std::thread menu_;
    std::atomic<bool> done_{false};
};

class CountdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(20);
    }
    void TearDown() override { kvn_set_time_divisor(1); }
};

TEST_F(CountdownTest, AutoConfirmedThenBackspaceRevertsAtOnce) {
    Player player("9");  // 1080p 60Hz: the fallback is (12, 3)
    player.press({DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(eventually(countdown_started, 5000));
    player.press(DIKS_BACKSPACE);
    ASSERT_TRUE(player.wait_until_ended(5000));
    std::vector<std::string> pages;
    for (const osd_call &c : kvn_test::osd_calls())
        if (c.command == 9 && c.mode == 0) pages.push_back(c.text);
    ASSERT_FALSE(pages.empty());
    EXPECT_EQ("-set=28\t-opts=Auto\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=TV System\t", pages.back())
        << "Auto goes straight to the confirmation";
    EXPECT_EQ((std::vector<int>{0, 9}), daemon_codes()) << "Auto applied, then the starting mode again";
    EXPECT_EQ("9", stored("video_output"));
    EXPECT_EQ("9\n", kvn_test::read_file("/tmp/tvmode"));
    EXPECT_EQ(std::string("tv=1080p\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    std::vector<std::string> shown = shown_countdown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(countdown_text(20), shown[0]);
    EXPECT_LT(shown.size(), 5u) << "Backspace ends it at once";
    std::vector<osd_call> all = kvn_test::osd_calls();
    size_t down = 0;
    while (down < all.size() && !(all[down].command == 42 && all[down].mode == 1)) ++down;
    ASSERT_LT(down, all.size()) << "the countdown is taken down";
    EXPECT_EQ(0, all[down].length);
    for (size_t i = down + 1; i < all.size(); ++i) EXPECT_NE(42, all[i].command);
    EXPECT_EQ(-2, all.back().command);
    EXPECT_EQ(28, current_fip_mode);
}

TEST_F(CountdownTest, OtherKeysChangeNothingAndRunningOutReverts) {
    Player player("6");  // 720p 50Hz: the fallback is (10, 2)
    player.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(eventually(countdown_started, 5000));
    player.press({DIKS_OK, DIKS_CURSOR_LEFT, DIKS_5});
    player.press(DIKS_RETURN, DWET_KEYUP);
    ASSERT_TRUE(player.wait_until_ended(10000));
    std::vector<std::string> expected;
    for (int s = 20; s >= 1; --s) expected.push_back(countdown_text(s));
    EXPECT_EQ(expected, shown_countdown());
    EXPECT_EQ((std::vector<int>{7, 6}), daemon_codes()) << "1080i 60Hz, then back to 720p 50Hz";
    EXPECT_EQ("6", stored("video_output"));
    // The reply file is written in place, not truncated: the fallback's
    // reply is the first one in it.
    EXPECT_EQ(std::string("tv=720p\0", 8), kvn_test::read_file("/tmp/tolu_cgi").substr(0, 8));
    EXPECT_EQ(0, player.pending_events()) << "the countdown uses up what it reads";
}

TEST_F(CountdownTest, PendingReturnKeepsAndAFallbackWithoutRowIsAuto) {
    {
        // Keys pressed faster than the menu reads them: the second Return
        // after the confirmation is the countdown's.
        Player player("8");
        player.press({DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
        ASSERT_TRUE(player.wait_until_ended(5000));
        EXPECT_EQ(std::vector<int>{7}, daemon_codes());
        EXPECT_EQ("7", stored("video_output"));
        EXPECT_EQ(1u, shown_countdown().size());
    }
    {
        Player player("2");  // 576i has no row: the menu starts on Auto, 50hz
        player.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
        ASSERT_TRUE(player.wait_until_ended(5000));
        EXPECT_EQ((std::vector<int>{6, 0}), daemon_codes());
        EXPECT_EQ("0", stored("video_output"));
        EXPECT_EQ(std::string("tv=auto\0", 8), kvn_test::read_file("/tmp/tolu_cgi"));
    }
}

// Real player time: no key, the box counts 20 down to 1 over about 22 s.
TEST(CountdownRealTime, RunsItsFullLengthThenReverts) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(1);
    Player player("10");  // 1080p 50Hz
    auto started = std::chrono::steady_clock::now();
    player.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(player.wait_until_ended(40000));
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<std::string> expected;
    for (int s = 20; s >= 1; --s) expected.push_back(countdown_text(s));
    EXPECT_EQ(expected, shown_countdown());
    EXPECT_EQ((std::vector<int>{22, 10}), daemon_codes()) << "4K 24Hz tried, 1080p 50Hz restored";
    EXPECT_EQ("10", stored("video_output"));
    EXPECT_GE(elapsed, 20.0);
    EXPECT_LE(elapsed, 30.0);
    printf("countdown took %.2f s\n", elapsed);
}

}  // namespace
