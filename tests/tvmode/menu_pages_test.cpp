// The TV-mode menu run on an application's thread against its real window:
// keys go into the window's own event buffer from another thread, and what
// the menu did is read back from the dialog service, the output daemon,
// /tmp/tvmode, /tmp/tolu_cgi and the settings store.
#include <gtest/gtest.h>

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

const char *kEnglishResolution =
    "-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=Next\t-rtt=Exit\t-acm=\t-inm=\t"
    "-fset=24\t-fdis=0\t-fopt=";

std::string highlight(int page, const std::string &name) {
    return "-set=" + std::to_string(page) + "\t-fdis=0\t-fopt=" + name + "\t";
}

std::string countdown_text(int seconds, const std::string &title = "TV Mode",
                           const std::string &keep = "Keep current setting?", const std::string &unit = "seconds",
                           const std::string &yes = "Yes", const std::string &no = "No") {
    return "-tit=" + title + "\t-msg=" + std::string(20, ' ') + keep + std::string(51, ' ') + std::to_string(seconds) +
           " " + unit + "....\t-ntt=" + yes + "\t-rtt=" + no + "\t";
}

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(100);
        // apply_tvmode_selection opens it without creating it, as the main
        // user-interface application's end of the reply.
        kvn_test::write_file("/tmp/tolu_cgi", "");
        app_ = std::make_unique<App>(BROWSER);
    }
    void TearDown() override {
        app_.reset();
        kvn_set_time_divisor(1);
    }

    void press(DFBInputDeviceKeySymbol key, DFBWindowEventType type = DWET_KEYDOWN) {
        kvn_test::post_key(app_->record.events, key, type);
    }

    // Clears the recorders, then runs the menu on its own thread with the
    // keys posted from this one while it runs; `during` runs on this thread
    // once the menu has started.
    void run(const std::vector<DFBInputDeviceKeySymbol> &keys, const std::function<void()> &during = nullptr) {
        osd_service_clear();
        smpoutd_stub_clear();
        std::atomic<bool> done{false};
        std::thread menu([&] {
            EXPECT_EQ(0, kvn_tvmode(&app_->record));
            done = true;
        });
        ASSERT_TRUE(eventually([] { return osd_service_count() >= 2; })) << "the menu never showed its page";
        for (DFBInputDeviceKeySymbol k : keys) press(k);
        if (during) during();
        bool ended = eventually([&] { return done.load(); }, 10000);
        menu.join();
        ASSERT_TRUE(ended);
    }

    std::vector<osd_call> commands(int command, int mode = 0) {
        std::vector<osd_call> out;
        for (const osd_call &c : kvn_test::osd_calls())
            if (c.command == command && c.mode == mode) out.push_back(c);
        return out;
    }
    std::vector<std::string> texts(int command) {
        std::vector<std::string> out;
        for (const osd_call &c : commands(command)) out.push_back(c.text);
        return out;
    }
    // Key-down symbols still waiting in the window's buffer, drained.
    std::vector<DFBInputDeviceKeySymbol> left_in_buffer() {
        std::vector<DFBInputDeviceKeySymbol> out;
        DFBEvent event;
        while (app_->record.events->GetEvent(app_->record.events, &event) == DFB_OK)
            if (event.clazz == DFEC_WINDOW && event.window.type == DWET_KEYDOWN) out.push_back(event.window.key_symbol);
        return out;
    }
    std::vector<int> daemon_codes() {
        std::vector<int> out;
        for (int i = 0; i < smpoutd_stub_count(); ++i) out.push_back(smpoutd_stub_code(i));
        return out;
    }

    std::unique_ptr<App> app_;
};

TEST_F(MenuTest, StartRowAndFrequencyFollowTheStoredMode) {
    struct Case {
        const char *stored;
        std::vector<DFBInputDeviceKeySymbol> keys;
        const char *row;          // highlighted at start
        const char *options;      // frequency list shown after the keys
        const char *frequency;    // highlighted frequency
    };
    const Case cases[] = {
        {"8", {DIKS_RETURN}, "1080i", "50hz,60hz", "50hz"},
        {"2", {DIKS_CURSOR_RIGHT, DIKS_RETURN}, "Auto", "50hz,60hz", "50hz"},
        {"11", {DIKS_CURSOR_RIGHT, DIKS_RETURN}, "1080p", "24hz,25hz,30hz", "24hz"},
        {"11", {DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN}, "1080p", "50hz,60hz", "50hz"},
        {"21", {DIKS_RETURN}, "4K", "24hz,25hz,30hz", "25hz"},
        {"1", {DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_RETURN}, "Auto", "24hz,50hz,60hz", "60hz"},
        {"15", {DIKS_CURSOR_RIGHT, DIKS_RETURN}, "Auto", "50hz,60hz", "50hz"},
        {"abc", {DIKS_CURSOR_RIGHT, DIKS_RETURN}, "Auto", "50hz,60hz", "50hz"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored);
        write_var("video_output", c.stored, 0);
        std::vector<DFBInputDeviceKeySymbol> keys = c.keys;
        keys.push_back(DIKS_TV);
        run(keys);
        std::vector<std::string> pages = texts(9);
        ASSERT_GE(pages.size(), 3u);
        EXPECT_EQ(std::string(kEnglishResolution) + c.row + "\t", pages[0]);
        const std::string &frequency_page = pages[pages.size() - 2];
        EXPECT_NE(std::string::npos, frequency_page.find(std::string("-opts=") + c.options + "\t")) << frequency_page;
        EXPECT_NE(std::string::npos, frequency_page.find(std::string("-fopt=") + c.frequency + "\t")) << frequency_page;
        EXPECT_EQ(highlight(25, c.frequency), pages.back());
        EXPECT_TRUE(daemon_codes().empty()) << "TV leaves without a change";
    }
}

TEST_F(MenuTest, HighlightStopsAtTheEndsOfEveryList) {
    write_var("video_output", "0", 0);
    run({DIKS_CURSOR_LEFT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
         DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
         DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_BACKSPACE, DIKS_STOP});
    std::vector<std::string> pages = texts(9);
    std::vector<std::string> expected = {
        std::string(kEnglishResolution) + "Auto\t",
        highlight(24, "Auto"),
        highlight(24, "720p"),
        highlight(24, "1080i"),
        highlight(24, "1080p"),
        highlight(24, "4K"),
        highlight(24, "4K"),
        "-set=25\t-opts=24hz,25hz,30hz\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  4K\t"
        "-fset=25\t-fdis=0\t-fopt=24hz\t",
        highlight(25, "24hz"),
        highlight(25, "25hz"),
        highlight(25, "30hz"),
        highlight(25, "30hz"),
        highlight(25, "25hz"),
        highlight(25, "24hz"),
        highlight(25, "24hz"),
        std::string(kEnglishResolution) + "4K\t",
        highlight(24, "4K"),
    };
    EXPECT_EQ(expected, pages);
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(-3, all.front().command);
    EXPECT_EQ(-2, all.back().command);
    const osd_call &down = all[all.size() - 2];
    EXPECT_EQ(9, down.command);
    EXPECT_EQ(0x8002, down.flags);
    EXPECT_EQ(1, down.mode);
    EXPECT_EQ(0, down.length);
    for (const osd_call &c : all) {
        EXPECT_EQ(0, c.owner);
        EXPECT_EQ(strlen(c.text), c.length);
    }
    EXPECT_EQ(28, current_fip_mode);
}

TEST_F(MenuTest, InvalidModeAndOkOnlyRedrawTheCurrentPage) {
    write_var("video_output", "9", 0);
    run({DIKS_3, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_CURSOR_LEFT, DIKS_3, DIKS_BACKSPACE,
         DIKS_BACKSPACE, DIKS_TV});
    std::vector<osd_call> notices = commands(13);
    ASSERT_EQ(2u, notices.size());
    EXPECT_STREQ("-msg=Invalid mode", notices[0].text);
    EXPECT_EQ(0x4000, notices[0].flags);
    const std::string confirmation =
        "-set=28\t-opts=Frequency  60hz\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=Resolution 1080p\t";
    const std::string frequency_page =
        "-set=25\t-opts=24hz,50hz,60hz\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  1080p\t"
        "-fset=25\t-fdis=0\t-fopt=60hz\t";
    std::vector<std::string> expected = {
        std::string(kEnglishResolution) + "1080p\t",
        highlight(24, "1080p"),  // OK
        frequency_page,
        highlight(25, "60hz"),
        highlight(25, "60hz"),  // OK
        confirmation,
        confirmation,  // OK
        confirmation,  // cursor
        frequency_page,  // back from the confirmation
        highlight(25, "60hz"),
        std::string(kEnglishResolution) + "1080p\t",  // back from the frequency page
        highlight(24, "1080p"),
    };
    EXPECT_EQ(expected, texts(9));
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

TEST_F(MenuTest, ShortcutsApplyAtOnceAndLeaveLaterKeysToTheApplication) {
    struct Case {
        DFBInputDeviceKeySymbol key;
        int mode;
        const char *reply;
    };
    const Case cases[] = {
        {DIKS_0, 0, "tv=auto"},      {DIKS_RED, 0, "tv=auto"},     {DIKS_1, 0, "tv=auto"},
        {DIKS_2, 0, "tv=auto"},      {DIKS_4, 5, "tv=720p"},       {DIKS_7, 5, "tv=720p"},
        {DIKS_GREEN, 5, "tv=720p"},  {DIKS_5, 7, "tv=1080i"},      {DIKS_8, 7, "tv=1080i"},
        {DIKS_6, 9, "tv=1080p"},     {DIKS_9, 9, "tv=1080p"},      {DIKS_YELLOW, 10, "tv=1080p"},
        {DIKS_BLUE, 20, "tv=4k"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        write_var("video_output", "6", 0);
        kvn_test::write_file("/tmp/tolu_cgi", "");
        current_fip_mode = 3;
        // The keys go in as one batch, so those behind the shortcut are
        // already waiting when it is acted on.
        osd_service_clear();
        press(c.key);
        press(DIKS_RETURN, DWET_KEYUP);
        press(DIKS_RETURN);
        press(DIKS_CURSOR_LEFT);
        run({});
        EXPECT_EQ(std::vector<int>{c.mode}, daemon_codes());
        EXPECT_EQ(std::to_string(c.mode), stored("video_output"));
        EXPECT_EQ(std::to_string(c.mode) + "\n", kvn_test::read_file("/tmp/tvmode"));
        EXPECT_EQ(std::string(c.reply) + '\0', kvn_test::read_file("/tmp/tolu_cgi"));
        EXPECT_TRUE(commands(42).empty()) << "no countdown after a shortcut";
        EXPECT_EQ(28, current_fip_mode);
        EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_RETURN, DIKS_CURSOR_LEFT}), left_in_buffer());
    }
}

TEST_F(MenuTest, SelectSwitchesTheTvSystemAndBackspaceLeavesUnchanged) {
    write_var("video_output", "7", 0);
    write_var("tv_system", "PAL", 0);
    press(DIKS_SELECT);
    press(DIKS_TV);
    run({});
    EXPECT_EQ(std::vector<int>{8}, daemon_codes());
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ("NTSC", stored("tv_system"));
    EXPECT_TRUE(commands(42).empty());
    EXPECT_EQ(std::vector<DFBInputDeviceKeySymbol>{DIKS_TV}, left_in_buffer());

    current_fip_mode = 4;
    run({DIKS_CURSOR_RIGHT, DIKS_BACKSPACE});
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ(28, current_fip_mode);
}

TEST_F(MenuTest, InactivityEndsTheMenuWithoutAnyChange) {
    write_var("video_output", "10", 0);
    current_fip_mode = 7;
    auto started = std::chrono::steady_clock::now();
    // Only key-down events count: a release is skipped, the wait runs on.
    run({}, [&] { press(DIKS_RETURN, DWET_KEYUP); });
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(elapsed, 2.0) << "10 s of player time at divisor 100";
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(-3, all[0].command);
    EXPECT_EQ(std::string(kEnglishResolution) + "1080p\t", all[1].text);
    EXPECT_EQ(9, all[2].command);
    EXPECT_EQ(1, all[2].mode);
    EXPECT_EQ(-2, all[3].command);
    EXPECT_EQ(7, current_fip_mode) << "the time-out exit leaves it alone";
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("10", stored("video_output"));
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

TEST_F(MenuTest, ChineseTexts) {
    write_var("lang", "chinese_lang", 0);
    write_var("video_output", "5", 0);
    run({DIKS_3, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
    std::vector<std::string> pages = texts(9);
    ASSERT_EQ(4u, pages.size());
    EXPECT_EQ("-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=下一个\t-rtt=退出\t-acm=\t-inm=\t"
              "-fset=24\t-fdis=0\t-fopt=720p\t",
              pages[0]);
    EXPECT_EQ("-set=25\t-opts=50hz,60hz\t-optdel=,\t-ntt=选择\t-rtt=返回\t-acm=\t-inm=分辨率  720p\t"
              "-fset=25\t-fdis=0\t-fopt=60hz\t",
              pages[1]);
    EXPECT_EQ("-set=28\t-opts=频率  60hz\t-ntt=是\t-rtt=不是\t-acm=使用设置？\t-inm=分辨率 720p\t", pages[3]);
    EXPECT_EQ(std::vector<std::string>{"-msg=无效的模式"}, texts(13));
    std::vector<std::string> countdown = texts(42);
    ASSERT_EQ(1u, countdown.size()) << "the pending Return ends the countdown at once";
    EXPECT_EQ(countdown_text(20, "电视模式", "保持目前的设定吗？", "秒", "是", "不是"), countdown[0]);
    EXPECT_EQ(std::vector<int>{5}, daemon_codes());
}

}  // namespace
