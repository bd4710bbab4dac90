// The TV-mode menu's pages: where it starts, how the highlight moves, the
// shortcut keys, the page time-out and the texts in another language.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "menu_harness.h"

using kvn_test::App;
using kvn_test::stored;
using namespace menu_test;

namespace {

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
    // Runs the menu with these keys pressed while it shows its first page.
    void run(std::initializer_list<DFBInputDeviceKeySymbol> keys) {
        Menu menu(&app_->record);
        ASSERT_TRUE(menu.shown()) << "the menu never showed its page";
        menu.press(keys);
        ASSERT_TRUE(menu.ended());
    }
    std::unique_ptr<App> app_;
};

TEST_F(MenuTest, WithoutAWindowOrItsEventBufferNothingIsShown) {
    EXPECT_EQ(28, current_fip_mode) << "as loaded";
    kvn_window bare{};
    osd_service_clear();
    EXPECT_EQ(0, kvn_tvmode(&bare));
    EXPECT_EQ(0, kvn_tvmode(nullptr));
    EXPECT_EQ(0, osd_service_count());
}

TEST_F(MenuTest, EveryStoredModeStartsOnItsRowAndFrequency) {
    // A start without a row shows its frequency index on the 1080p list
    // (index 0 is on no list: the list's first, 24hz, is taken).
    const char *rows[][3] = {
        {"0", "Auto", "24hz"},   {"1", "Auto", "60hz"},   {"2", "Auto", "50hz"},   {"3", "Auto", "60hz"},
        {"4", "Auto", "50hz"},   {"5", "720p", "60hz"},   {"6", "720p", "50hz"},   {"7", "1080i", "60hz"},
        {"8", "1080i", "50hz"},  {"9", "1080p", "60hz"},  {"10", "1080p", "50hz"}, {"11", "1080p", "24hz"},
        {"12", "Auto", "24hz"},  {"13", "Auto", "24hz"},  {"14", "Auto", "24hz"},  {"15", "Auto", "24hz"},
        {"16", "Auto", "24hz"},  {"17", "Auto", "24hz"},  {"18", "Auto", "24hz"},  {"19", "Auto", "24hz"},
        {"20", "4K", "30hz"},    {"21", "4K", "25hz"},    {"22", "4K", "24hz"},    {"23", "Auto", "24hz"},
        {"-1", "Auto", "24hz"},  {"abc", "Auto", "24hz"},
    };
    const std::map<std::string, std::string> lists = {
        {"Auto", "24hz,50hz,60hz"}, {"720p", "50hz,60hz"}, {"1080i", "50hz,60hz"}, {"1080p", "24hz,50hz,60hz"},
        {"4K", "24hz,25hz,30hz"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row[0]);
        write_var("video_output", row[0], 0);
        const std::string start = row[1];
        if (start == "Auto") {
            run({DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_TV});
        } else {
            run({DIKS_RETURN, DIKS_TV});
        }
        std::vector<std::string> pages = texts(9);
        ASSERT_GE(pages.size(), 3u);
        EXPECT_EQ(resolution_page(start), pages[0]);
        const std::string &frequency_page = pages[pages.size() - 2];
        EXPECT_NE(std::string::npos, frequency_page.find("-opts=" + lists.at(start) + "\t")) << frequency_page;
        EXPECT_NE(std::string::npos, frequency_page.find(std::string("-fopt=") + row[2] + "\t")) << frequency_page;
        EXPECT_EQ(highlight(25, row[2]), pages.back());
        EXPECT_TRUE(daemon_codes().empty()) << "TV leaves without a change";
    }
}

TEST_F(MenuTest, HighlightsMoveThroughEveryListAndStopAtItsEnds) {
    write_var("video_output", "0", 0);
    run({DIKS_CURSOR_LEFT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
         DIKS_CURSOR_RIGHT, DIKS_STOP});
    EXPECT_EQ((std::vector<std::string>{resolution_page("Auto"), highlight(24, "Auto"), highlight(24, "720p"),
                                        highlight(24, "1080i"), highlight(24, "1080p"), highlight(24, "4K"),
                                        highlight(24, "4K")}),
              texts(9));
    // The menu's own dialog (owner 0) on one connection: opened first, the
    // page taken down, closed last.
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_GE(all.size(), 4u);
    auto head = [](const osd_call &c) { return std::vector<int>{c.command, c.flags, c.mode, c.length}; };
    EXPECT_EQ((std::vector<int>{-3, 0, 0, 0}), head(all.front()));
    EXPECT_EQ((std::vector<int>{9, 0x8002, 1, 0}), head(all[all.size() - 2]));
    EXPECT_EQ((std::vector<int>{-2, 0, 0, 0}), head(all.back()));
    EXPECT_EQ(0, osd_service_open_connections());
    for (const osd_call &c : all) {
        EXPECT_EQ((std::vector<int>{0, all.front().connection, static_cast<int>(strlen(c.text))}),
                  (std::vector<int>{c.owner, c.connection, c.length}));
        if (c.command == 9 && c.mode == 0) {
            EXPECT_EQ(0x8002, c.flags);
        }
    }
    EXPECT_EQ(28, current_fip_mode);

    // Each row's list, walked three steps right and three back.
    struct List {
        int row;
        const char *name;
        std::vector<std::string> names;
    };
    const List lists[] = {{1, "720p", {"50hz", "60hz"}},
                          {2, "1080i", {"50hz", "60hz"}},
                          {3, "1080p", {"24hz", "50hz", "60hz"}},
                          {4, "4K", {"24hz", "25hz", "30hz"}}};
    for (const List &l : lists) {
        SCOPED_TRACE(l.name);
        for (int i = 0; i < l.row; ++i) kvn_test::post_key(app_->record.events, DIKS_CURSOR_RIGHT);
        run({DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_LEFT,
             DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_STOP});
        std::string options;
        for (const std::string &n : l.names) options += (options.empty() ? "" : ",") + n;
        std::vector<std::string> expected = {
            "-set=25\t-opts=" + options + "\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  " + l.name +
                "\t-fset=25\t-fdis=0\t-fopt=" + l.names[0] + "\t",
            highlight(25, l.names[0])};
        int last = static_cast<int>(l.names.size()) - 1, at = 0;
        for (int step : {1, 1, 1, -1, -1, -1}) {
            at = std::max(0, std::min(last, at + step));
            expected.push_back(highlight(25, l.names[static_cast<size_t>(at)]));
        }
        std::vector<std::string> pages = texts(9);
        ASSERT_GE(pages.size(), expected.size());
        EXPECT_EQ(expected, std::vector<std::string>(pages.end() - static_cast<long>(expected.size()), pages.end()));
    }
}

TEST_F(MenuTest, InvalidModeAndOkOnlyRedrawTheCurrentPage) {
    write_var("video_output", "9", 0);
    run({DIKS_3, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_CURSOR_LEFT, DIKS_3, DIKS_BACKSPACE,
         DIKS_BACKSPACE, DIKS_TV});
    std::vector<osd_call> notices = dialog(13);
    ASSERT_EQ(2u, notices.size());
    EXPECT_STREQ("-msg=Invalid mode", notices[0].text);
    EXPECT_EQ(0x4000, notices[0].flags);
    const std::string confirmation =
        "-set=28\t-opts=Frequency  60hz\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=Resolution 1080p\t";
    const std::string frequency_page =
        "-set=25\t-opts=24hz,50hz,60hz\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  1080p\t"
        "-fset=25\t-fdis=0\t-fopt=60hz\t";
    std::vector<std::string> expected = {
        resolution_page("1080p"),
        highlight(24, "1080p"),  // OK
        frequency_page,
        highlight(25, "60hz"),
        highlight(25, "60hz"),  // OK
        confirmation,
        confirmation,  // OK
        confirmation,  // cursor
        frequency_page,  // back from the confirmation
        highlight(25, "60hz"),
        resolution_page("1080p"),  // back from the frequency page
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
        for (DFBInputDeviceKeySymbol k : {c.key, DIKS_RETURN, DIKS_CURSOR_LEFT})
            kvn_test::post_key(app_->record.events, k);
        Menu menu(&app_->record);
        ASSERT_TRUE(menu.ended());
        EXPECT_EQ(std::vector<int>{c.mode}, daemon_codes());
        EXPECT_EQ(std::to_string(c.mode), stored("video_output"));
        EXPECT_EQ(std::to_string(c.mode) + "\n", kvn_test::read_file("/tmp/tvmode"));
        EXPECT_EQ(std::string(c.reply) + '\0', kvn_test::read_file("/tmp/tolu_cgi"));
        EXPECT_TRUE(dialog(42).empty()) << "no countdown after a shortcut";
        EXPECT_EQ(28, current_fip_mode);
        EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_RETURN, DIKS_CURSOR_LEFT}), menu.left_in_buffer());
    }
}

TEST_F(MenuTest, SelectSwitchesTheTvSystemAndBackspaceLeavesUnchanged) {
    write_var("video_output", "7", 0);
    write_var("tv_system", "PAL", 0);
    kvn_test::post_key(app_->record.events, DIKS_SELECT);
    kvn_test::post_key(app_->record.events, DIKS_TV);
    {
        Menu menu(&app_->record);
        ASSERT_TRUE(menu.ended());
        EXPECT_EQ(std::vector<DFBInputDeviceKeySymbol>{DIKS_TV}, menu.left_in_buffer());
    }
    EXPECT_EQ(std::vector<int>{8}, daemon_codes());
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ("NTSC", stored("tv_system"));
    EXPECT_TRUE(dialog(42).empty());

    current_fip_mode = 4;
    run({DIKS_CURSOR_RIGHT, DIKS_BACKSPACE});
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ(28, current_fip_mode);
}

// Ten seconds of player time after the last key, at a divisor that keeps a
// second's error visible on either side.
TEST_F(MenuTest, PagesCloseTenSecondsAfterTheLastKeyWithoutAnyChange) {
    kvn_set_time_divisor(2);
    write_var("video_output", "10", 0);
    current_fip_mode = 7;
    Menu menu(&app_->record);
    ASSERT_TRUE(menu.shown());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // Only key-down events count: a release is skipped and the wait runs on.
    menu.press({DIKS_OK});
    menu.press({DIKS_RETURN}, DWET_KEYUP);
    ASSERT_TRUE(menu.ended(20000));
    double waited = seconds_until(9, 0, 9, 1, true);
    EXPECT_GE(waited, 4.95) << "10 s at divisor 2, from the OK key's redraw";
    EXPECT_LT(waited, 5.45) << "11 s would be 5.5 s";
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_EQ(5u, all.size());
    EXPECT_EQ((std::vector<std::string>{resolution_page("1080p"), highlight(24, "1080p")}), texts(9));
    EXPECT_EQ((std::vector<int>{9, 0x8002, 1, 0}), (std::vector<int>{all[3].command, all[3].flags, all[3].mode, all[3].length}));
    EXPECT_EQ(7, current_fip_mode) << "the time-out exit leaves it alone";
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("10", stored("video_output"));
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

TEST_F(MenuTest, TextsInTheLanguageTakenAtTheStart) {
    write_var("lang", "chinese_lang", 0);
    write_var("video_output", "5", 0);
    Menu menu(&app_->record);
    ASSERT_TRUE(menu.shown());
    write_var("lang", "korean_lang", 0);  // too late for this run
    menu.press({DIKS_3, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(menu.ended());
    std::vector<std::string> pages = texts(9);
    ASSERT_EQ(4u, pages.size());
    EXPECT_EQ(resolution_page("720p", "下一个", "退出"), pages[0]);
    EXPECT_EQ("-set=25\t-opts=50hz,60hz\t-optdel=,\t-ntt=选择\t-rtt=返回\t-acm=\t-inm=分辨率  720p\t"
              "-fset=25\t-fdis=0\t-fopt=60hz\t",
              pages[1]);
    EXPECT_EQ("-set=28\t-opts=频率  60hz\t-ntt=是\t-rtt=不是\t-acm=使用设置？\t-inm=分辨率 720p\t", pages[3]);
    EXPECT_EQ(std::vector<std::string>{"-msg=无效的模式"}, texts(13));
    EXPECT_EQ(std::vector<std::string>{countdown_text(20, "电视模式", "保持目前的设定吗？", "秒", "是", "不是")},
              texts(42))
        << "the pending Return ends the countdown at once";
    EXPECT_EQ(std::vector<int>{5}, daemon_codes());
}

}  // namespace
