// The TV-mode menu: its pages and keys, its time-out, its language, and the "Keep current setting?"
// countdown after a confirmed choice.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

// The page texts, each as the dialog command that sends it on the menu's connection.
std::string page(const std::string &text) { return osd(0, "a", 9, 0x8002, 0, text); }
std::string resolution_page(const std::string &row) {
    return page(
        "-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=Next\t-rtt=Exit\t-acm=\t"
        "-inm=\t-fset=24\t-fdis=0\t-fopt=" +
        row + "\t");
}
std::string frequency_page(const std::string &options, const std::string &row,
                           const std::string &at) {
    return page("-set=25\t-opts=" + options + "\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=" +
                "Resolution  " + row + "\t-fset=25\t-fdis=0\t-fopt=" + at + "\t");
}
std::string confirmation(const std::string &line, const std::string &heading) {
    return page("-set=28\t-opts=" + line +
                "\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=" + heading + "\t");
}
std::string highlight(int page_set, const std::string &name) {
    return page("-set=" + std::to_string(page_set) + "\t-fdis=0\t-fopt=" + name + "\t");
}
std::string countdown(int seconds) {
    return osd(0, "a", 42, 0x8000, 0,
               "-tit=TV Mode\t-msg=" + std::string(20, ' ') + "Keep current setting?" +
                   std::string(51, ' ') + std::to_string(seconds) + " seconds....\t-ntt=Yes\t" +
                   "-rtt=No\t");
}
const std::string kOpen = osd(0, "a", -3), kPagesDown = osd(0, "a", 9, 0x8002, 1),
                  kClose = osd(0, "a", -2), kCountdownDown = osd(0, "a", 42, 0x8000, 1),
                  kInvalid = osd(0, "a", 13, 0x4000, 0, "-msg=Invalid mode");
const std::string k720p60 = "<tvmode>720p 60Hz</tvmode>", k1080i60 = "<tvmode>1080i 60Hz</tvmode>";
const Lines kEnd = {kPagesDown, kClose};  // the pages taken down, the dialog closed

// Key-down symbols waiting in a buffer, taken out of it.
std::vector<DFBInputDeviceKeySymbol> keys_left(IDirectFBEventBuffer *events) {
    std::vector<DFBInputDeviceKeySymbol> out;
    for (DFBEvent e; events->GetEvent(events, &e) == DFB_OK;)
        if (e.clazz == DFEC_WINDOW && e.window.type == DWET_KEYDOWN)
            out.push_back(e.window.key_symbol);
    return out;
}
// The journal from a menu's choice on.
Lines from_the_choice(const Lines &all) {
    return Lines(std::find_if(all.begin(), all.end(),
                              [](const std::string &l) { return l.rfind("reply ", 0) == 0; }),
                 all.end());
}

class MenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(100);
        smpoutd_stub_set_auto_name(nullptr);  // the automatic mode names nothing: no event line
        app_ = std::make_unique<App>(BROWSER);
    }
    void TearDown() override {
        app_.reset();
        kvn_set_time_divisor(1);
    }
    // The menu from `stored` with `keys` waiting in the window, run to its end: its journal.
    Lines run(const char *stored, const std::vector<DFBInputDeviceKeySymbol> &keys) {
        write_var("video_output", stored, 0);
        current_fip_mode = 3;
        Journal journal;
        for (DFBInputDeviceKeySymbol key : keys) app_->press(key);
        EXPECT_EQ(0, kvn_tvmode(&app_->record));
        return journal.lines();
    }
    std::unique_ptr<App> app_;
};

TEST_F(MenuTest, EveryStoredModeStartsOnItsRowAndFrequency) {
    // Rows without a frequency list are shown on 1080p's, where a frequency index of 0 is on none.
    const struct {
        const char *stored, *row, *frequency;
    } rows[] = {{"0", "Auto", "24hz"},  {"1", "Auto", "60hz"},   {"2", "Auto", "50hz"},
                {"3", "Auto", "60hz"},  {"4", "Auto", "50hz"},   {"5", "720p", "60hz"},
                {"6", "720p", "50hz"},  {"7", "1080i", "60hz"},  {"8", "1080i", "50hz"},
                {"9", "1080p", "60hz"}, {"10", "1080p", "50hz"}, {"11", "1080p", "24hz"},
                {"12", "Auto", "24hz"}, {"19", "Auto", "24hz"},  {"20", "4K", "30hz"},
                {"21", "4K", "25hz"},   {"22", "4K", "24hz"},    {"23", "Auto", "24hz"},
                {"-1", "Auto", "24hz"}, {"abc", "Auto", "24hz"}};
    std::map<std::string, std::string> lists = {{"1080p", "24hz,50hz,60hz"},
                                                {"4K", "24hz,25hz,30hz"}};
    lists["720p"] = lists["1080i"] = "50hz,60hz";
    for (const auto &row : rows) {
        const bool automatic = row.row == std::string("Auto");
        const std::string shown = automatic ? "1080p" : row.row;
        Lines expected = {kOpen, resolution_page(row.row)};
        if (automatic)
            for (const char *name : {"720p", "1080i", "1080p"})
                expected.push_back(highlight(24, name));
        expected = expected +
                   Lines{frequency_page(lists.at(shown), shown, row.frequency),
                         highlight(25, row.frequency)} +
                   kEnd;
        EXPECT_EQ(expected, automatic ? run(row.stored, {DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
                                                         DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_TV})
                                      : run(row.stored, {DIKS_RETURN, DIKS_TV}))
            << "stored " << row.stored;
    }
}

// Highlights stop at the ends of their lists (the 4K list is of indexes 1, 4 and 5); other keys
// redraw the page they are on; Backspace goes back a page, from Auto's confirmation to the rows.
TEST_F(MenuTest, CursorKeysMoveWithinAPageAndOnlyReturnAndBackspaceTurnIt) {
    EXPECT_EQ((Lines{kOpen, resolution_page("4K"), highlight(24, "4K"),
                     frequency_page("24hz,25hz,30hz", "4K", "24hz"), highlight(25, "24hz"),
                     highlight(25, "25hz"), highlight(25, "30hz"), highlight(25, "30hz"),
                     highlight(25, "25hz"), highlight(25, "24hz"), highlight(25, "24hz"),
                     kPagesDown, kClose}),
              run("22", {DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_CURSOR_RIGHT,
                         DIKS_CURSOR_RIGHT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT,
                         DIKS_STOP}));
    const std::string rows = resolution_page("1080p"),
                      frequencies = frequency_page("24hz,50hz,60hz", "1080p", "60hz"),
                      confirm = confirmation("Frequency  60hz", "Resolution 1080p");
    EXPECT_EQ(
        (Lines{kOpen, rows, kInvalid, highlight(24, "1080p"), frequencies, highlight(25, "60hz"),
               highlight(25, "60hz"), confirm, confirm, confirm, kInvalid, frequencies,
               highlight(25, "60hz"), rows, highlight(24, "1080p"), kPagesDown, kClose}),
        run("9", {DIKS_3, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_RETURN, DIKS_OK, DIKS_CURSOR_LEFT,
                  DIKS_3, DIKS_BACKSPACE, DIKS_BACKSPACE, DIKS_BACKSPACE}));
    EXPECT_EQ((Lines{kOpen, resolution_page("1080i"), highlight(24, "720p"), highlight(24, "Auto"),
                     highlight(24, "Auto"), confirmation("Auto", "TV System"),
                     resolution_page("Auto"), highlight(24, "Auto"), kPagesDown, kClose}),
              run("8", {DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_CURSOR_LEFT, DIKS_RETURN,
                        DIKS_BACKSPACE, DIKS_BACKSPACE}));
}

// Each key with two more behind it in one batch: those wait for the application.
TEST_F(MenuTest, EveryKeyThatActsOnEveryPageLeavesAsItsRowSays) {
    write_var("tv_system", "PAL", 0);
    const struct {
        DFBInputDeviceKeySymbol key;
        Lines done;
    } rows[] = {
        {DIKS_0, applied(0, "tv=auto", "b", "")},
        {DIKS_RED, applied(0, "tv=auto", "b", "")},
        {DIKS_1, applied(0, "tv=auto", "b", "")},
        {DIKS_2, applied(0, "tv=auto", "b", "")},
        {DIKS_4, applied(5, "tv=720p", "b", k720p60)},
        {DIKS_7, applied(5, "tv=720p", "b", k720p60)},
        {DIKS_GREEN, applied(5, "tv=720p", "b", k720p60)},
        {DIKS_5, applied(7, "tv=1080i", "b", k1080i60)},
        {DIKS_8, applied(7, "tv=1080i", "b", k1080i60)},
        {DIKS_6, applied(9, "tv=1080p", "b", "<tvmode>1080p 60Hz</tvmode>")},
        {DIKS_9, applied(9, "tv=1080p", "b", "<tvmode>1080p 60Hz</tvmode>")},
        {DIKS_YELLOW, applied(10, "tv=1080p", "b", "<tvmode>1080p 50Hz</tvmode>")},
        {DIKS_BLUE, applied(20, "tv=4k", "b", k1080i60)},
        {DIKS_SELECT, Lines{"flash write_var video_output=5", "flash write_var tv_system=NTSC"} +
                          changed(5, "b", 0, k720p60)},
        {DIKS_TV, {}},
        {DIKS_STOP, {}},
        {DIKS_BACKSPACE, {}}};
    for (const auto &row : rows) {
        EXPECT_EQ(Lines({kOpen, resolution_page("720p")}) + row.done + kEnd,
                  run("6", {row.key, DIKS_RETURN, DIKS_CURSOR_LEFT}))
            << "key " << row.key;
        EXPECT_EQ(28, current_fip_mode) << "key " << row.key;
        EXPECT_EQ((std::vector<DFBInputDeviceKeySymbol>{DIKS_RETURN, DIKS_CURSOR_LEFT}),
                  keys_left(app_->record.events))
            << "key " << row.key;
    }
}

// Every text comes through one lookup by the language index taken at the start, so two texts show
// it. The pages close ten seconds of player time after the last event, at a divisor that keeps a
// second's error visible on either side; a key release is no key.
TEST_F(MenuTest, PagesInTheStartsLanguageCloseTenSecondsAfterTheLastKeyWithoutAnyChange) {
    kvn_set_time_divisor(3);
    write_var("lang", "chinese_lang", 0);
    write_var("video_output", "5", 0);
    current_fip_mode = 3;
    Journal journal;
    osd_service_clear();
    std::thread menu([&] { EXPECT_EQ(0, kvn_tvmode(&app_->record)); });
    ASSERT_TRUE(eventually([] { return osd_service_count() >= 2; }));  // the first page is up
    write_var("lang", "korean_lang", 0);                               // too late for this run
    post_key(app_->record.events, DIKS_RETURN, DWET_KEYUP);
    app_->press(DIKS_3);
    const auto start = std::chrono::steady_clock::now();
    menu.join();
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(
        (Lines{kOpen,
               page("-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=下一个\t-rtt=退出\t"
                    "-acm=\t-inm=\t-fset=24\t-fdis=0\t-fopt=720p\t"),
               "flash write_var lang=korean_lang", osd(0, "a", 13, 0x4000, 0, "-msg=无效的模式"),
               kPagesDown, kClose}),
        journal.lines());
    EXPECT_GE(waited.count(), 3.3) << "10 s at divisor 3";
    EXPECT_LT(waited.count(), 3.64) << "11 s would be 3.67 s";
    EXPECT_EQ(3, current_fip_mode) << "the time-out exit leaves the mode mark alone";
}

// Keys already waiting when the countdown starts are its own, and only Return and Backspace act;
// the fallback from a mode without a row is Auto. Run out: about 22 s of player time (20 numbers of
// ten ticks, each a 10 ms wait and a 100 ms sleep) at divisor 20, both sides measured.
TEST_F(MenuTest, TheCountdownKeepsOrRevertsAtItsFirstKeyOrRunsOutFromTwentyToOne) {
    kvn_set_time_divisor(20);
    Lines numbers;
    for (int n = 20; n >= 1; --n) numbers.push_back(countdown(n));
    const std::string k720p50 = "<tvmode>720p 50Hz</tvmode>";
    const struct {
        const char *stored;
        std::vector<DFBInputDeviceKeySymbol> keys;
        Lines choice, counted, fallback;
    } rows[] = {
        {"8",
         {DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE},
         applied(7, "tv=1080i", "b", k1080i60),
         {countdown(20)},
         {}},
        {"2",
         {DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN, DIKS_BACKSPACE},
         applied(6, "tv=720p", "b", k720p50),
         {countdown(20)},
         applied(0, "tv=auto", "c", "")},
        {"6",
         {DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_OK,
          DIKS_CURSOR_LEFT, DIKS_5},
         applied(7, "tv=1080i", "b", k1080i60),
         numbers,
         applied(6, "tv=720p", "c", k720p50)}};
    for (const auto &row : rows) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(row.choice + Lines{kPagesDown} + row.counted + Lines{kCountdownDown} +
                      row.fallback + Lines{kClose},
                  from_the_choice(run(row.stored, row.keys)))
            << "from " << row.stored;
        const std::chrono::duration<double> counted = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(28, current_fip_mode);
        if (row.counted != numbers) continue;
        EXPECT_GE(counted.count(), 1.05) << "199 sleeps of 5 ms and 200 waits of 0.5 ms";
        EXPECT_LE(counted.count(), 1.75) << "waits of 100 ms would make it 2 s";
        EXPECT_TRUE(keys_left(app_->record.events).empty())
            << "the countdown uses up what it reads";
    }
}

// A wait failing otherwise than by a time-out is made again after 10 ms (0.1 ms here), not spun
// on; failing for as long as the page time-out, it ends the menu as a time-out does.
TEST_F(MenuTest, AMissingOrFailingEventBufferHangsNothing) {
    write_var("video_output", "0", 0);
    current_fip_mode = 7;
    Journal journal(false);
    kvn_window browser{};
    EXPECT_EQ(0, kvn_tvmode(&browser));
    EXPECT_EQ(0, kvn_tvmode(nullptr));
    EXPECT_EQ(Lines{}, journal.lines());
    static std::atomic<int> waits{0};
    IDirectFBEventBuffer failing{};
    failing.WaitForEventWithTimeout = [](IDirectFBEventBuffer *, unsigned, unsigned) {
        ++waits;
        return DFB_DESTROYED;
    };
    failing.GetEvent = [](IDirectFBEventBuffer *, DFBEvent *) { return DFB_BUFFEREMPTY; };
    browser.events = &failing;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, kvn_tvmode(&browser));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(99900));
    EXPECT_EQ(1000, waits.load());
    EXPECT_EQ((Lines{kOpen, resolution_page("Auto"), kPagesDown, kClose}), journal.lines());
    EXPECT_EQ(7, current_fip_mode) << "left as on a time-out";
}

}  // namespace
