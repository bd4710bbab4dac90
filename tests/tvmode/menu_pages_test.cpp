// The TV-mode menu: its pages, keys, time-out, languages, the "Keep current setting?" countdown
// after a confirmed choice, and the TV key's road from the browser's window.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

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
        kvn_test::write_file(
            "/tmp/tolu_cgi",
            "");  // the user interface's end of the reply, never created by the menu
        app_ = std::make_unique<App>(BROWSER);
    }
    void TearDown() override { app_.reset(), kvn_set_time_divisor(1); }
    void run(std::initializer_list<DFBInputDeviceKeySymbol> keys) {
        Menu menu(&app_->record);
        ASSERT_TRUE(menu.shown()) << "the menu never showed its page";
        menu.press(keys);
        ASSERT_TRUE(menu.ended());
    }
    void post(std::initializer_list<DFBInputDeviceKeySymbol> keys) {
        for (DFBInputDeviceKeySymbol k : keys) kvn_test::post_key(app_->record.events, k);
    }
    std::unique_ptr<App> app_;
};

// A choice confirmed: the countdown runs at a divisor that keeps its keys' effects apart.
class Countdown : public MenuTest {
  protected:
    void SetUp() override { MenuTest::SetUp(), kvn_set_time_divisor(20); }
    static bool started() { return !dialog(42).empty(); }
};

TEST_F(MenuTest, EveryStoredModeStartsOnItsRowAndFrequency) {
    // A start without a row shows its frequency index on the 1080p list (index 0, on none, the
    // list's first).
    const char *rows[][3] = {
        {"0", "Auto", "24hz"},  {"1", "Auto", "60hz"},   {"2", "Auto", "50hz"},
        {"3", "Auto", "60hz"},  {"4", "Auto", "50hz"},   {"5", "720p", "60hz"},
        {"6", "720p", "50hz"},  {"7", "1080i", "60hz"},  {"8", "1080i", "50hz"},
        {"9", "1080p", "60hz"}, {"10", "1080p", "50hz"}, {"11", "1080p", "24hz"},
        {"12", "Auto", "24hz"}, {"13", "Auto", "24hz"},  {"14", "Auto", "24hz"},
        {"15", "Auto", "24hz"}, {"16", "Auto", "24hz"},  {"17", "Auto", "24hz"},
        {"18", "Auto", "24hz"}, {"19", "Auto", "24hz"},  {"20", "4K", "30hz"},
        {"21", "4K", "25hz"},   {"22", "4K", "24hz"},    {"23", "Auto", "24hz"},
        {"-1", "Auto", "24hz"}, {"abc", "Auto", "24hz"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row[0]);
        write_var("video_output", row[0], 0);
        const std::string start = row[1];
        if (start == "Auto")
            run({DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_TV});
        else
            run({DIKS_RETURN, DIKS_TV});
        std::vector<std::string> pages = texts(9);  // each list's options: the highlight walk's
        ASSERT_GE(pages.size(), 3u);
        EXPECT_EQ(resolution_page(start), pages[0]);
        EXPECT_EQ(highlight(25, row[2]), pages.back());
        EXPECT_TRUE(daemon_codes().empty()) << "TV leaves without a change";
    }
}

TEST_F(MenuTest, WithoutAnEventBufferNothingIsShown) {
    kvn_window bare{};
    osd_service_clear();
    EXPECT_EQ((std::vector<int>{0, 0, 0}),
              (std::vector<int>{kvn_tvmode(&bare), kvn_tvmode(nullptr), osd_service_count()}));
}

TEST_F(MenuTest, HighlightsMoveThroughEveryListAndStopAtItsEnds) {
    EXPECT_EQ(28, current_fip_mode) << "as loaded";
    write_var("video_output", "0", 0);
    run({DIKS_CURSOR_LEFT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
         DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_STOP});
    EXPECT_EQ((std::vector<std::string>{resolution_page("Auto"), highlight(24, "Auto"),
                                        highlight(24, "720p"), highlight(24, "1080i"),
                                        highlight(24, "1080p"), highlight(24, "4K"),
                                        highlight(24, "4K")}),
              texts(9));
    EXPECT_EQ(28, current_fip_mode);
    // Each row's list, walked three steps right and three back.
    const struct {
        int row;
        const char *name, *options;
        std::vector<std::string> names;
    } lists[] = {{1, "720p", "50hz,60hz", {"50hz", "60hz"}},
                 {2, "1080i", "50hz,60hz", {"50hz", "60hz"}},
                 {3, "1080p", "24hz,50hz,60hz", {"24hz", "50hz", "60hz"}},
                 {4, "4K", "24hz,25hz,30hz", {"24hz", "25hz", "30hz"}}};
    for (const auto &l : lists) {
        SCOPED_TRACE(l.name);
        for (int i = 0; i < l.row; ++i) post({DIKS_CURSOR_RIGHT});
        run({DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT, DIKS_CURSOR_LEFT,
             DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_STOP});
        std::vector<std::string> expected = {frequency_page(l.options, l.name, l.names[0]),
                                             highlight(25, l.names[0])};
        int last = static_cast<int>(l.names.size()) - 1, at = 0;
        for (int step : {1, 1, 1, -1, -1, -1})
            at = std::max(0, std::min(last, at + step)),
            expected.push_back(highlight(25, l.names[static_cast<size_t>(at)]));
        std::vector<std::string> pages = texts(9);
        ASSERT_GE(pages.size(), expected.size());
        EXPECT_EQ(expected, std::vector<std::string>(
                                pages.end() - static_cast<long>(expected.size()), pages.end()));
    }
}

TEST_F(MenuTest, InvalidModeAndOkOnlyRedrawTheCurrentPage) {
    write_var("video_output", "9", 0);
    run({DIKS_3, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_CURSOR_LEFT, DIKS_3,
         DIKS_BACKSPACE, DIKS_BACKSPACE, DIKS_TV});
    EXPECT_EQ((std::vector<std::string>{"-msg=Invalid mode", "-msg=Invalid mode"}), texts(13));
    EXPECT_EQ(0x4000, dialog(13).at(0).flags);
    const std::string confirm = confirmation("Frequency  60hz", "Resolution 1080p"),
                      frequencies = frequency_page("24hz,50hz,60hz", "1080p", "60hz");
    EXPECT_EQ(
        (std::vector<std::string>{resolution_page("1080p"), highlight(24, "1080p"), frequencies,
                                  highlight(25, "60hz"), highlight(25, "60hz"), confirm, confirm,
                                  confirm, frequencies, highlight(25, "60hz"),
                                  resolution_page("1080p"), highlight(24, "1080p")}),
        texts(9));
    EXPECT_TRUE(daemon_codes().empty());
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

TEST_F(MenuTest, ShortcutsApplyTheirModeWithoutACountdown) {
    const struct {
        DFBInputDeviceKeySymbol key;
        int mode;
        const char *reply;
    } cases[] = {
        {DIKS_0, 0, "tv=auto"},     {DIKS_RED, 0, "tv=auto"}, {DIKS_1, 0, "tv=auto"},
        {DIKS_2, 0, "tv=auto"},     {DIKS_4, 5, "tv=720p"},   {DIKS_7, 5, "tv=720p"},
        {DIKS_GREEN, 5, "tv=720p"}, {DIKS_5, 7, "tv=1080i"},  {DIKS_8, 7, "tv=1080i"},
        {DIKS_6, 9, "tv=1080p"},    {DIKS_9, 9, "tv=1080p"},  {DIKS_YELLOW, 10, "tv=1080p"},
        {DIKS_BLUE, 20, "tv=4k"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key);
        write_var("video_output", "6", 0), kvn_test::write_file("/tmp/tolu_cgi", "");
        current_fip_mode = 3;
        post({c.key, DIKS_RETURN,
              DIKS_CURSOR_LEFT});  // one batch: the keys behind the shortcut already wait
        Menu menu(&app_->record);
        ASSERT_TRUE(menu.ended());
        const std::string mode = std::to_string(c.mode);
        EXPECT_EQ(mode + " | " + mode + " | 28", left());
        EXPECT_EQ(mode + "\n" + c.reply + '\0',
                  kvn_test::read_file("/tmp/tvmode") + kvn_test::read_file("/tmp/tolu_cgi"));
        EXPECT_TRUE(dialog(42).empty()) << "no countdown after a shortcut";
        EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_RETURN, DIKS_CURSOR_LEFT}),
                  menu.left_in_buffer());
    }
}

TEST_F(MenuTest, SelectSwitchesTheTvSystem) {
    write_var("video_output", "7", 0), write_var("tv_system", "PAL", 0);
    post({DIKS_SELECT, DIKS_TV});
    Menu menu(&app_->record);
    ASSERT_TRUE(menu.ended());
    EXPECT_EQ(std::vector<DFBInputDeviceKeySymbol>{DIKS_TV}, menu.left_in_buffer());
    EXPECT_EQ("8 | 8 | 28", left());
    EXPECT_EQ("NTSC", stored("tv_system"));
    EXPECT_TRUE(dialog(42).empty());
}

// From Auto's confirmation to the resolution page, and from there out of the menu.
TEST_F(MenuTest, BackspaceGoesBackAPageAndLeavesFromTheFirst) {
    write_var("video_output", "8", 0), current_fip_mode = 4;
    run({DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_BACKSPACE, DIKS_BACKSPACE});
    EXPECT_EQ((std::vector<std::string>{resolution_page("1080i"), highlight(24, "720p"),
                                        highlight(24, "Auto"), confirmation("Auto", "TV System"),
                                        resolution_page("Auto"), highlight(24, "Auto")}),
              texts(9));
    EXPECT_EQ("| 8 | 28", left());
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

// Ten seconds of player time after the last key, at a divisor that keeps a second's error visible
// on either side.
TEST_F(MenuTest, PagesCloseTenSecondsAfterTheLastKeyWithoutAnyChange) {
    kvn_set_time_divisor(3), write_var("video_output", "10", 0), current_fip_mode = 7;
    Menu menu(&app_->record);
    ASSERT_TRUE(menu.shown());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    menu.press({DIKS_OK}),
        menu.press({DIKS_RETURN}, DWET_KEYUP);  // a release is skipped: the wait runs on
    ASSERT_TRUE(menu.ended(20000));
    double waited = seconds_until(9, 0, 9, 1, true);
    EXPECT_GE(waited, 3.3) << "10 s at divisor 3, from the OK key's redraw";
    EXPECT_LT(waited, 3.64) << "11 s would be 3.67 s";
    std::vector<osd_call> all = kvn_test::osd_calls();
    ASSERT_EQ(5u, all.size());
    EXPECT_EQ((std::vector<std::string>{resolution_page("1080p"), highlight(24, "1080p")}),
              texts(9));
    EXPECT_EQ((std::vector<int>{9, 0x8002, 1, 0}), head(all[3]));
    EXPECT_EQ("| 10 | 7", left()) << "the time-out exit leaves the mode mark alone";
    EXPECT_EQ("", kvn_test::read_file("/tmp/tolu_cgi"));
}

TEST_F(MenuTest, TextsInTheLanguageTakenAtTheStart) {
    write_var("lang", "chinese_lang", 0), write_var("video_output", "5", 0);
    Menu menu(&app_->record);
    ASSERT_TRUE(menu.shown());
    write_var("lang", "korean_lang", 0);  // too late for this run
    menu.press({DIKS_3, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(menu.ended());
    EXPECT_EQ(
        (std::vector<std::string>{
            resolution_page("720p", "下一个", "退出"),
            "-set=25\t-opts=50hz,60hz\t-optdel=,\t-ntt=选择\t-rtt=返回\t-acm=\t-inm=分辨率  "
            "720p\t-fset=25\t-fdis=0\t-fopt=60hz\t",
            highlight(25, "60hz"),
            "-set=28\t-opts=频率  60hz\t-ntt=是\t-rtt=不是\t-acm=使用设置？\t-inm=分辨率 720p\t"}),
        texts(9));
    EXPECT_EQ(std::vector<std::string>{"-msg=无效的模式"}, texts(13));
    EXPECT_EQ(std::vector<std::string>{countdown_text(20, "电视模式", "保持目前的设定吗？", "秒",
                                                      "是", "不是")},
              texts(42))
        << "the pending Return ends the countdown at once";
    EXPECT_EQ(std::vector<int>{5}, daemon_codes());
}

TEST_F(Countdown, BackspaceRevertsAtOnce) {
    write_var("video_output", "8", 0), kvn_trace_clear();  // 1080i 50Hz: the fallback (11, 2)
    Menu menu(&app_->record);
    menu.press({DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(kvn_test::eventually(started));
    menu.press({DIKS_BACKSPACE});
    ASSERT_TRUE(menu.ended());
    std::vector<std::string> trace = platform_trace();
    const std::string counting = osd(0, "a", 42, 0x8000, 0, countdown_text(20));
    const auto first = std::find(trace.begin(), trace.end(), counting);
    const auto more =
        std::remove_if(first + (first != trace.end()), trace.end(), [](const std::string &l) {
            return has(l, {"cmd=42 ", "mode=0"});
        });
    EXPECT_LT(trace.end() - more, 4) << "Backspace ends the countdown at once";
    trace.erase(more, trace.end());
    // Auto goes straight to the confirmation; Auto applied, then the starting mode again.
    std::vector<std::string> expected = {
        osd(0, "a", -3),
        osd(0, "a", 9, 0x8002, 0, resolution_page("1080i")),
        osd(0, "a", 9, 0x8002, 0, highlight(24, "720p")),
        osd(0, "a", 9, 0x8002, 0, highlight(24, "Auto")),
        osd(0, "a", 9, 0x8002, 0, highlight(24, "Auto")),
        osd(0, "a", 9, 0x8002, 0, confirmation("Auto", "TV System"))};
    for (const auto &step : {std::vector<std::string>(applied(0, "b")),
                             {osd(0, "a", 9, 0x8002, 1), counting, osd(0, "a", 42, 0x8000, 1)},
                             applied(8, "c"),
                             {osd(0, "a", -2)}})
        expected.insert(expected.end(), step.begin(), step.end());
    EXPECT_EQ(expected, trace);
    EXPECT_EQ("0 8 | 8 | 28", left());
    EXPECT_EQ(std::string("8\ntv=1080i\0", 11),
              kvn_test::read_file("/tmp/tvmode") + kvn_test::read_file("/tmp/tolu_cgi"));
}

// About 22 s of player time (20 numbers of ten ticks, each a 10 ms wait and a 100 ms sleep), both
// sides measured; then the countdown taken down, the fallback applied and the dialog closed.
TEST_F(Countdown, RunningOutShowsTwentyToOneThenReverts) {
    write_var("video_output", "6", 0), kvn_trace_clear();  // 720p 50Hz: falls back to (10, 2)
    Menu menu(&app_->record);
    menu.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN});
    ASSERT_TRUE(kvn_test::eventually(started));
    menu.press({DIKS_OK, DIKS_CURSOR_LEFT, DIKS_5});
    menu.press({DIKS_RETURN}, DWET_KEYUP);
    ASSERT_TRUE(menu.ended(20000));
    std::vector<std::string> twenty_to_one;
    for (int n = 20; n >= 1; --n) twenty_to_one.push_back(countdown_text(n));
    EXPECT_EQ(twenty_to_one, texts(42));
    double counted = seconds_until(42, 0, 42, 1);
    EXPECT_GE(counted, 1.07) << "199 sleeps of 5 ms and 200 waits of 0.5 ms at divisor 20";
    EXPECT_LE(counted, 1.75) << "waits of 100 ms would make it 2 s";
    EXPECT_EQ("7 6 | 6 | 28", left()) << "1080i 60Hz, then back to 720p 50Hz";
    std::vector<std::string> end = {osd(0, "a", 42, 0x8000, 1)}, trace = platform_trace();
    for (const std::string &step : applied(6, "c")) end.push_back(step);
    end.push_back(osd(0, "a", -2));
    ASSERT_GE(trace.size(), end.size());
    EXPECT_EQ(end, std::vector<std::string>(trace.end() - long(end.size()), trace.end()));
    // The reply file is written in place, not truncated: the fallback's reply is the first one in
    // it.
    EXPECT_EQ(std::string("tv=720p\0", 8), kvn_test::read_file("/tmp/tolu_cgi").substr(0, 8));
    EXPECT_TRUE(menu.left_in_buffer().empty()) << "the countdown uses up what it reads";
}

// Keys faster than the menu reads them: the second Return after the confirmation is the
// countdown's.
TEST_F(Countdown, APendingReturnKeepsTheNewMode) {
    write_var("video_output", "8", 0);
    post({DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
    ASSERT_TRUE(Menu(&app_->record).ended());
    EXPECT_EQ("7 | 7 | 28", left());
    EXPECT_EQ(1u, texts(42).size());
}

TEST_F(Countdown, AFallbackFromAModeWithoutARowIsAuto) {
    write_var("video_output", "2", 0);  // 576i has no row: the menu starts on Auto, 50hz
    post({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE});
    ASSERT_TRUE(Menu(&app_->record).ended());
    EXPECT_EQ("6 0 | 0 | 28", left());
    EXPECT_EQ(std::string("tv=auto\0", 8), kvn_test::read_file("/tmp/tolu_cgi").substr(0, 8));
}

// The menu for the caller's window while the browser or the flash player has the focus, whoever
// calls; else "Not allowed" from the focused application. A Stop key waits in every window.
TEST(TvKey, OpensTheMenuForTheCallerOnlyUnderTheBrowserOrTheFlashPlayer) {
    KVN_REQUIRE_SANDBOX();
    App browser(BROWSER), flash(FLASH_LITE), photos(PHOTO_PLAYER);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash, &photos}));
    write_var("video_output", "0", 0), write_var("lang", "english_lang", 0);
    const std::vector<std::string> menu = {"0 -3 0 0 ", "0 9 32770 0 " + resolution_page("Auto"),
                                           "0 9 32770 1 ", "0 -2 0 0 "},
                                   not_allowed = {"104 -3 0 0 ", "104 13 16384 0 -msg=Not allowed",
                                                  "104 -2 0 0 "};
    const struct {
        App *focused, *caller;
        bool opens;
    } rows[] = {{&browser, &browser, true}, {&flash, &flash, true},    {&flash, &browser, true},
                {&browser, &flash, true},   {&photos, &photos, false}, {&photos, &browser, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.focused->record.window_id) + " focused, " +
                     std::to_string(row.caller->record.window_id) + " calls");
        for (App *a : {&browser, &flash, &photos}) {
            a->record.on_focus = a == row.focused;
            for (DFBEvent e; a->record.events->GetEvent(a->record.events, &e) == DFB_OK;) continue;
            a->press(DIKS_STOP);
        }
        osd_service_clear(), current_fip_mode = 7;
        DFBWindowEvent e = kvn_test::key_event(DIKS_TV);
        EXPECT_EQ(0, kvn_default_event_handling(&row.caller->record, &e));
        EXPECT_TRUE(e.type == 0 && e.key_symbol == DIKS_NULL) << "cleared";
        std::vector<std::string> calls;
        for (const osd_call &c : kvn_test::osd_calls())
            calls.push_back(std::to_string(c.owner) + " " + std::to_string(c.command) + " " +
                            std::to_string(c.flags) + " " + std::to_string(c.mode) + " " + c.text);
        EXPECT_EQ(row.opens ? menu : not_allowed, calls);
        EXPECT_EQ(row.opens ? 28 : 7, current_fip_mode);
        for (App *a : {&browser, &flash, &photos})
            EXPECT_EQ(row.opens && a == row.caller ? DFB_BUFFEREMPTY : DFB_OK,
                      a->record.events->HasEvent(a->record.events))
                << a->record.window_id << ": the menu reads the caller's keys only";
    }
}

// The menu on a buffer whose wait fails at once (for 3 s; then it times out, so that a menu that
// would spin ends) leaves as on its 10-second time-out (0.5 s here).
std::atomic<int> g_failed_waits{0};
Clock::time_point g_failing_since;

TEST(TvKey, AMenuOnAFailingWaitLeavesAsOnATimeOut) {
    KVN_REQUIRE_SANDBOX();
    IDirectFBEventBuffer failing{};
    failing.WaitForEventWithTimeout = [](IDirectFBEventBuffer *, unsigned, unsigned) {
        return ++g_failed_waits, Clock::now() - g_failing_since < std::chrono::seconds(3)
                                     ? DFB_DESTROYED
                                     : DFB_TIMEOUT;
    };
    failing.GetEvent = [](IDirectFBEventBuffer *, DFBEvent *) { return DFB_BUFFEREMPTY; };
    kvn_window browser{};
    browser.window_id = BROWSER, browser.active = 1, browser.opacity = 0xff,
    browser.events = &failing;
    ASSERT_EQ(0, register_window(&browser));
    ASSERT_EQ(0, focus_on_window(BROWSER));
    kvn_set_time_divisor(20);
    current_fip_mode = 7;
    g_failing_since = Clock::now();
    DFBWindowEvent e = kvn_test::key_event(DIKS_TV);
    EXPECT_EQ(0, kvn_default_event_handling(&browser, &e));
    auto took = Clock::now() - g_failing_since;
    kvn_set_time_divisor(1);
    EXPECT_GE(took, std::chrono::milliseconds(450));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_LE(g_failed_waits.load(), 1001) << "a pause between failed waits";
    std::vector<osd_call> calls = kvn_test::osd_calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ((std::vector<int>{9, 0x8002, 1, 0}), head(calls[calls.size() - 2]));
    EXPECT_EQ(-2, calls.back().command) << "the pages are taken down";
    EXPECT_EQ(7, current_fip_mode) << "left as on a time-out";
    unregister_window(&browser);
}

}  // namespace
