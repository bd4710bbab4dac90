// Mode changes as the other programs see them (files, the event line, the stand-ins' ordered
// trace), and the small files and pipes under /tmp as a hostile or broken neighbour leaves them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>

#include "keys/standby.h"
#include "keys/standby_keys.h"
#include "menu_harness.h"
#include "tvmode/change_tvmode.h"
#include "tvmode/menu_selection.h"
#include "tvmode/mode_parse.h"
#include "tvmode/value_file.h"

namespace {

using namespace kvn_test;
using namespace menu_test;
using namespace std::string_literals;

const std::string kEvent = "swf=<event>change_tvmode</event>";
const std::vector<std::string> kChanges = {"smpoutd", "flash"};

class Mode : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        alarm(60);  // a call that blocks ends the test program instead of hanging it
        kvn_test::start_display();
        write_file("/tmp/tolu_cgi", "");
        smpoutd_stub_set_auto_name(nullptr);  // the output side names nothing unless asked (its own
                                              // write could block on a FIFO)
        reset();
    }
    void TearDown() override { alarm(0); }
    void reset() {
        menu_test::drain(kvn_command_pipe), smpoutd_stub_clear(), osd_service_clear(),
            kvn_trace_clear();
    }
    static void send(const std::string &command) {
        int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK);
        ASSERT_EQ(static_cast<ssize_t>(command.size()), write(fd, command.data(), command.size()));
        close(fd);
    }
};

// The small value files, read and written without a display.
class ValueFile : public ::testing::Test {
  protected:
    void SetUp() override { KVN_REQUIRE_SANDBOX(); }
};

void clear_path(const std::string &path) { (void)system(("rm -rf " + path).c_str()); }
void set(const char *path, const char *content) {
    clear_path(path);
    if (content) write_file(path, content);
}  // null: no file

TEST_F(Mode, EveryCodeRunsTheWholeChangeInOrder) {
    // payload: between <tvmode> and </tvmode>, but the automatic mode's is bare
    const struct {
        int code;
        const char *label, *payload;
    } rows[] = {{1, "NTSC", "480i"},
                {2, "PAL", "576i"},
                {3, "720p 60Hz", "480p"},
                {4, "720p 60Hz", "576p"},
                {5, "720p 60Hz", "720p 60Hz"},
                {6, "720p 50Hz", "720p 50Hz"},
                {7, "1080i 60Hz", "1080i 60Hz"},
                {8, "1080i 50Hz", "1080i 50Hz"},
                {9, "1080p 60Hz", "1080p 60Hz"},
                {10, "1080p 50Hz", "1080p 50Hz"},
                {11, "1080p 24Hz", "1080p 24Hz"},
                {20, "4K 30Hz", "1080i 60Hz"},
                {21, "4K 25Hz", "1080i 60Hz"},
                {22, "4K 24Hz", "1080i 60Hz"},
                {12, "720p 60Hz", "1080i 60Hz"},
                {19, "720p 60Hz", "1080i 60Hz"},
                {23, "720p 60Hz", "1080i 60Hz"},
                {99, "720p 60Hz", "1080i 60Hz"},
                {-4, "720p 60Hz", "1080i 60Hz"},
                {0, "Auto", "1080i60"}};
    for (bool focused : {true, false}) {
        std::unique_ptr<kvn_test::App> app =
            focused ? std::make_unique<kvn_test::App>(BROWSER) : nullptr;
        if (focused) {
            ASSERT_TRUE(register_window(&app->record) == 0 && focus_on_window(BROWSER) == 0);
        }
        const int owner = focused ? 100 + BROWSER : 0;
        for (const auto &row : rows) {
            for (int announce : {1, 0, 2}) {
                SCOPED_TRACE(std::to_string(row.code) + (focused ? " focused" : " no focus") +
                             ", announce " + std::to_string(announce));
                write_file("/tmp/tvmode", "77\n"), write_file("/tmp/tvname", "1080i59\n"), reset();
                std::string err =
                    captured_stderr([&] { EXPECT_EQ(0, change_tvmode(row.code, announce)); });
                EXPECT_EQ(row.code >= 0 ? std::to_string(row.code) + "\n" : "77\n",
                          read_file("/tmp/tvmode"));
                const std::string payload =
                    row.code ? "<tvmode>" + std::string(row.payload) + "</tvmode>" : row.payload;
                EXPECT_EQ(kEvent + payload + "\n", menu_test::drain(kvn_command_pipe));
                const std::string option = std::string("-opts=") + row.label + "\t-optdel=,\t";
                std::vector<std::string> expected = {osd(owner, "a", -3), osd(owner, "a", 34),
                                                     osd(owner, "a", -2),
                                                     "smpoutd code=" + std::to_string(row.code)};
                if (announce == 1)
                    expected.insert(expected.end(),
                                    {osd(0, "0", 40, 0x4000, 1, option),
                                     osd(0, "0", 40, 0x4000, 0, option), "flash save_commit"});
                expected.push_back(osd(0, "0", -2));
                EXPECT_EQ(expected, platform_trace());
                EXPECT_EQ(announce == 1 && !focused,
                          err.find("WARNING!: get_current_apps [5322] \n") != std::string::npos)
                    << err;
            }
        }
    }
}

TEST_F(Mode, TheAutomaticModesEventCarriesTheOutputSidesName) {
    const char *rows[][2] = {
        // the name in /tmp/tvname (null: no file), the event's (null: none)
        {"1080i59\n", "1080i60"},
        {"1080p59.94\n", "1080p60"},
        {"720p59\n", "720p60"},
        {"576p\n", "576p\n"},
        {"1080i50\n", "1080i50\n"},
        {"720p5\n", "720p5\n"},
        {"123456789012", "123456789"},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row[0] ? row[0] : "no file");
        set("/tmp/tvname", row[0]), reset(), change_tvmode(0, 0);
        EXPECT_EQ(row[1] ? kEvent + row[1] + "\n" : "", menu_test::drain(kvn_command_pipe));
    }
}

TEST_F(Mode, EveryPipeWordSelectsItsMode) {
    const struct {
        std::string text;
        int code;
        const char *reply;
        bool save;
    } rows[] = {// code -1: nothing happens
                {"tv=auto", 0, "tv=auto", false},
                {"tv=480i", 1, "tv=480i", false},
                {"tv=576i", 2, "tv=576i", false},
                {"tv=480p", 3, "tv=480p", false},
                {"tv=576p", 4, "tv=576p", false},
                {"tv=720p60\n", 5, "tv=720p", false},
                {"tv=720p50", 6, "tv=720p", false},
                {"tv=1080i60", 7, "tv=1080i", false},
                {"tv=1080i50", 8, "tv=1080i", false},
                {"tv=1080p60", 9, "tv=1080p", false},
                {"tv=1080p50", 10, "tv=1080p", false},
                {"tv=1080p24 save", 11, "tv=1080p", true},
                {"tv=4k", 0, "tv=auto", false},
                {"tv=1080i609", 7, "tv=1080i", false},
                {"tv=1080i5", 0, "tv=auto", false},
                {"tv=", 0, "tv=auto", false},
                {"tv=savea", 0, "tv=auto", true},
                {"tv=480ptv=576isave", 3, "tv=480p", true},
                {"save tv=576i", -1, "", false},
                {"TV=576i", -1, "", false},
                {"x", -1, "", false},
                {"hello=720p60", -1, "", false},
                {std::string("tv\0=720p60", 10), -1, "", false}};
    const int descriptors = kvn_test::open_descriptors();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        write_file("/tmp/tolu_cgi", ""), write_var("video_output", "none", 0), reset();
        send(row.text);
        check_tvmode_fifo(), check_tvmode_fifo();  // the second, on an empty pipe, does nothing
        std::vector<std::string> expected;
        if (row.save)
            expected.push_back("flash write_var video_output=" + std::to_string(row.code));
        if (row.code >= 0) expected.push_back("smpoutd code=" + std::to_string(row.code));
        EXPECT_EQ(expected, platform_trace(kChanges))
            << "stored before the change, never committed";
        EXPECT_EQ(row.code >= 0 ? std::string(row.reply) + '\0' : "", read_file("/tmp/tolu_cgi"));
    }
    EXPECT_EQ(descriptors, kvn_test::open_descriptors()) << "every reply closed";
}

TEST_F(Mode, HdmiChangeIsAnsweredInTheAutomaticModeOnly) {
    const struct {
        const char *tvmode;
        bool marker;
        int result;
        bool answered;
    } rows[] = {// tvmode null: no file
                {"0\n", true, 0, true},     {"7\n", true, 7, false}, {"0\n", false, -1, false},
                {nullptr, true, -1, false}, {"", true, -1, false},   {"-1\n", true, -1, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.tvmode ? row.tvmode : "no file") +
                     (row.marker ? " marker" : ""));
        set("/tmp/tvmode", row.tvmode), set("/tmp/hdmi_changed", row.marker ? "" : nullptr),
            write_file("/tmp/tolu_cgi", ""), reset();
        EXPECT_EQ(row.result, check_hdmi_state_changed());
        EXPECT_EQ(row.answered ? std::string("tv=auto\0", 8) : "", read_file("/tmp/tolu_cgi"));
        EXPECT_EQ(row.marker && !row.answered, kvn_test::exists("/tmp/hdmi_changed"));
        EXPECT_TRUE(platform_trace().empty()) << "the mode itself is not changed";
    }
}

TEST_F(Mode, EveryMenuChoiceAppliesItsMode) {
    const struct {
        int group, frequency, code;
        const char *reply;
    } rows[] = {{10, 2, 6, "tv=720p"},   {10, 3, 5, "tv=720p"},   {10, 1, 5, "tv=720p"},
                {11, 2, 8, "tv=1080i"},  {11, 3, 7, "tv=1080i"},  {11, 0, 7, "tv=1080i"},
                {12, 1, 11, "tv=1080p"}, {12, 2, 10, "tv=1080p"}, {12, 3, 9, "tv=1080p"},
                {12, 4, 9, "tv=1080p"},  {13, 1, 22, "tv=4k"},    {13, 4, 21, "tv=4k"},
                {13, 2, 20, "tv=4k"},    {13, 5, 20, "tv=4k"},    {0, 3, 0, "tv=auto"},
                {9, 2, 0, "tv=auto"},    {14, 1, 0, "tv=auto"},   {-1, 2, 0, "tv=auto"}};
    const int descriptors = kvn_test::open_descriptors();
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.group) + ", " + std::to_string(row.frequency));
        write_file("/tmp/tolu_cgi", ""), reset();
        EXPECT_EQ(0, kvn::apply_tvmode_selection(row.group, row.frequency));
        EXPECT_EQ(std::string(row.reply) + '\0' + std::to_string(row.code) + "\n",
                  read_file("/tmp/tolu_cgi") + read_file("/tmp/tvmode"));
        EXPECT_EQ(applied(row.code, "a"), platform_trace());
    }
    EXPECT_EQ(descriptors, kvn_test::open_descriptors()) << "every reply closed";
}

// The user interface's end of /tmp/tolu_cgi as a program that reopens it for each message keeps it:
// opened after each gap (real milliseconds from its last close), until one reply came, then closed.
class ReplyReader {
  public:
    explicit ReplyReader(std::vector<int> gaps_ms)
        : thread_([this, gaps_ms] {
              for (int gap : gaps_ms) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(gap));
                  int fd = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
                  const size_t before = got_.size();
                  for (int i = 0; i < 300 && got_.find('\0', before) == std::string::npos; ++i)
                      usleep(10000), got_ += drain(fd);
                  close(fd), ++closed_;
              }
          }) {}
    int closed() const { return closed_; }
    std::string replies() { return thread_.join(), got_; }

  private:
    std::string got_;
    std::atomic<int> closed_{0};
    std::thread thread_;
};

// A reply waits for a reader that comes late (0.5 s after the call, here a tenth) and the command
// is carried out; a reader that stays away past 3 s loses it, with a warning naming it, and nothing
// changes. Missing, the input is never created. Each outcome: the daemon's codes, the replies the
// reader got (NUL as |), what the caller saw.
TEST_F(Mode, EveryRouteWaitsForALateReplyReaderAndNoLonger) {
    kvn_set_time_divisor(10);
    App browser(BROWSER);
    auto command = [](const ReplyReader &) { return send("tv=720p60\n"), check_tvmode_fifo(), ""; };
    auto choice = [](const ReplyReader &) {
        int result = 0;
        std::string out = stdout_of([&] { result = kvn::apply_tvmode_selection(12, 1); });
        return out + std::to_string(result);
    };
    auto revert = [&](const ReplyReader &application) {  // to automatic from 720p at 50 Hz
        write_var("video_output", "0", 0);
        Menu menu(&browser.record);
        menu.press({DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN});
        // Back to the old mode once the choice's reader has gone.
        eventually([&] { return application.closed() > 0 || !exists("/tmp/tolu_cgi"); });
        menu.press({DIKS_BACKSPACE});
        return std::to_string(menu.ended());
    };
    auto hdmi = [](const ReplyReader &) {
        write_file("/tmp/tvmode", "0\n"), write_file("/tmp/hdmi_changed", "");
        std::string result = std::to_string(check_hdmi_state_changed());
        return result + (exists("/tmp/hdmi_changed") ? ", marker kept" : "");
    };
    const struct {
        const char *what, *named;
        std::function<std::string(const ReplyReader &)> run;
        bool earlier;  // a reply before, to a reader there at once
        const char *late, *never, *missing;
    } routes[] = {
        {"mode command", "the command \"tv=720p60\"", command, false, "5 / tv=720p| / ", " /  / ",
         " /  / "},
        {"menu choice", "\"tv=1080p\"", choice, false, "11 / tv=1080p| / 0",
         " /  / open error!!!! line 454 \n-1", " /  / open error!!!! line 454 \n-1"},
        {"countdown revert", "\"tv=auto\"", revert, true, "6 0 / tv=720p|tv=auto| / 1",
         "6 / tv=720p| / 1", " /  / 1"},
        {"HDMI answer", "\"tv=auto\"", hdmi, false, " / tv=auto| / 0", " /  / 0", " /  / 0"},
    };
    enum Reader { kMissing, kLate, kNever };
    for (const auto &route : routes) {
        for (Reader reader : {kMissing, kLate, kNever}) {
            SCOPED_TRACE(std::string(route.what) + (reader == kMissing ? ", missing"
                                                    : reader == kLate  ? ", late"
                                                                       : ", never"));
            clear_path("/tmp/tolu_cgi"), reset();
            if (reader != kMissing) {
                ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622));
            }
            std::vector<int> gaps;
            if (route.earlier && reader != kMissing) gaps.push_back(0);
            if (reader == kLate) gaps.push_back(50);
            ReplyReader application(gaps);
            const auto start = std::chrono::steady_clock::now();
            std::string saw, err = captured_stderr([&] { saw = route.run(application); });
            const auto took = std::chrono::steady_clock::now() - start;
            std::string codes, replies = application.replies();
            for (int code : daemon_codes())
                codes += (codes.empty() ? "" : " ") + std::to_string(code);
            std::replace(replies.begin(), replies.end(), '\0', '|');
            EXPECT_EQ(reader == kLate    ? route.late
                      : reader == kNever ? route.never
                                         : route.missing,
                      codes + " / " + replies + " / " + saw);
            EXPECT_EQ(reader == kNever, static_cast<bool>(has(err, {route.named, "is lost"})))
                << err;
            EXPECT_GE(took, std::chrono::milliseconds(reader == kLate    ? 45
                                                      : reader == kNever ? 295
                                                                         : 0));
            EXPECT_LT(took, std::chrono::milliseconds(2000));
            EXPECT_EQ(reader != kMissing, exists("/tmp/tolu_cgi")) << "never created";
        }
    }
    kvn_set_time_divisor(1);
}

// Without a display, so that no start-up has stored a mode yet.
TEST(TvSystem, TheSwitchMovesEveryModeToItsTwin) {
    KVN_REQUIRE_SANDBOX();
    // null: not stored (the first rows, before anything is); code -1: no switch
    const struct {
        const char *mode, *system, *new_mode, *new_system;
        int code;
    } rows[] = {{nullptr, nullptr, "<null>", "<null>", -1},
                {"7", nullptr, "8", "<null>", -1},
                {"1", "PAL", "2", "NTSC", 2},
                {"2", "NTSC", "1", "PAL", 1},
                {"3", "PAL", "4", "NTSC", 4},
                {"4", "PAL", "3", "NTSC", 3},
                {"5", "PAL", "6", "NTSC", 6},
                {"6", "PAL", "5", "NTSC", 5},
                {"7", "PAL", "8", "NTSC", 8},
                {"8", "NTSC", "7", "PAL", 7},
                {"9", "PAL", "10", "NTSC", 10},
                {"10", "PAL", "9", "NTSC", 9},
                {"00", "PAL", "00", "NTSC", 0},
                {"11", "pal", "0", "PAL", 0},
                {"20", "PAL ", "0", "PAL", 0},
                {"-3", "", "0", "PAL", 0},
                {"99", "PAL", "0", "NTSC", 0},
                {"junk", "PAL", "junk", "NTSC", 0},
                {"4294967301", "PAL", "0", "NTSC", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.mode ? row.mode : "none") + " / " +
                     (row.system ? row.system : "none"));
        if (row.mode) write_var("video_output", row.mode, 0);
        if (row.system) write_var("tv_system", row.system, 0);
        kvn_trace_clear(), captured_stderr(SwitchTvSystem);
        EXPECT_EQ(std::string(row.new_mode) + " " + row.new_system,
                  stored("video_output") + " " + stored("tv_system"));
        std::vector<std::string> switched;
        if (row.code >= 0) switched.push_back("smpoutd code=" + std::to_string(row.code));
        EXPECT_EQ(switched, platform_trace({"smpoutd", "flash save_commit"})) << "never committed";
    }
}

void fill_pipe(const char *path) {
    int fd = open(path, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    for (std::string block(4096, 'x'); write(fd, block.data(), block.size()) > 0;) continue;
    while (write(fd, "x", 1) > 0) continue;
    close(fd);
}

TEST_F(ValueFile, ReadsTheNumberAtTheStartOfItsFirstTenBytes) {
    const struct {
        std::string text;
        int value;
    } rows[] = {{"7\n", 7},
                {"", -1},
                {"\0005"s, -1},
                {"abc", 0},
                {"  \t12x", 12},
                {"-1\n", -1},
                {"+28", 28},
                {"1234567890123", 1234567890},
                {"000000000012", 0},
                {"12\00034"s, 12},
                {"2147483647", INT_MAX},
                {"2147483648", -1},
                {"4294967301", -1},
                {"9999999999", -1},
                {"-2147483648", -214748364},
                {"-999999999999", -999999999},
                {"\r5", 5},
                {"\0165"s, 0},
                {"\0105"s, 0},
                {"-", 0}};
    for (const auto &row : rows) {
        // the polled file reads alike, and the fuzzed parse
        write_file("/tmp/value", row.text), write_file("/tmp/tvmode", row.text);
        EXPECT_EQ(
            std::vector<int>(3, row.value),
            (std::vector<int>{get_value_from_file("/tmp/value"), get_value_from_file("/tmp/tvmode"),
                              kvn::parse_value_text(row.text.data(), row.text.size())}))
            << row.text;
    }
    ASSERT_EQ(0, mkdir("/tmp/folder", 0755));
    for (const char *unreadable :
         {"/tmp/missing", "/tmp/folder", static_cast<const char *>(nullptr)})
        EXPECT_EQ(-1, get_value_from_file(unreadable)) << (unreadable ? unreadable : "null");
}

TEST_F(ValueFile, WritesThroughTheShellOnlyWhatItCanPassSafely) {
    const struct {
        const char *path;
        int value, result;
        const char *content;
    } rows[] = {// result 1: a file the shell could not have made either
                // "echo "5" > " leaves 19 characters for the path
                {"/tmp/tvmode", 5, 0, "5\n"},
                {"/tmp/tvmode", -1, 0, "-1\n"},
                {"/tmp/aAzZ09._-", 4, 0, "4\n"},
                {"/tmp/abcdefghijklmn", 5, 0, "5\n"},
                {"/tmp/abcdefghijklmno", 5, -1, nullptr},
                {"/tmp/abcdefghijklmn", 10, -1, nullptr},
                {"/tmp/a-b_c.d/../x", 3, 1, nullptr},
                {"/tmp/x;touch /tmp/pwned", 1, -1, nullptr},
                {"/tmp/$(touch /tmp/pwned)", 1, -1, nullptr},
                {"/tmp/a b", 1, -1, nullptr},
                {"/tmp/`id`", 1, -1, nullptr},
                {"/tmp/p|tee", 1, -1, nullptr},
                {"/tmp/p&", 1, -1, nullptr},
                {"/tmp/q\n", 1, -1, nullptr},
                {"/tmp/\x1b]2;x\a", 1, -1, nullptr},
                {"", 1, -1, nullptr},
                {nullptr, 1, -1, nullptr}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path ? row.path : "null");
        if (row.path && row.content) clear_path(row.path);
        int result = 0;
        std::string err =
            captured_stderr([&] { result = write_value_to_file(row.path, row.value); });
        EXPECT_TRUE(row.result == 1 ? result != 0 && result != -1 : result == row.result) << result;
        if (row.content) {
            EXPECT_EQ(row.content, read_file(row.path));
        }
        EXPECT_EQ(row.result != 0, err.find("write_value_to_file") != std::string::npos) << err;
        // Said with every control byte escaped: nothing of the path acts on the terminal.
        EXPECT_TRUE(std::none_of(err.begin(), err.end(),
                                 [](char c) {
                                     return iscntrl(static_cast<unsigned char>(c)) && c != '\n';
                                 }) &&
                    std::count(err.begin(), err.end(), '\n') == (row.result != 0))
            << err;
    }
    for (const char *made : {"/tmp/pwned", "/tmp/x", "/tmp/a", "/tmp/abcdefghijklmno"})
        EXPECT_FALSE(exists(made)) << made;
}

// /tmp/tvmode and video_output (null: none) before a start-up or a wake-up; after the start-up
// the file and the store, after the wake-up the daemon's code, which is the number said.
const struct {
    const char *tvmode, *stored, *seeded, *stored_after;
    int woken;
} kModeFiles[] = {{"11\n", nullptr, "11\n", nullptr, 11},
                  {nullptr, nullptr, "0\n", "0", -1},
                  {"-1\n", "11", "11\n", "11", -1},
                  {"", "9", "9\n", "9", -1},
                  {nullptr, "4294967301", "0\n", "0", -1},
                  {nullptr, "abc", "0\n", "0", -1},
                  {"0\n", "7", "0\n", "7", 0},
                  {"22\n", nullptr, "22\n", nullptr, 22},
                  {"28\n", "9", "28\n", "9", 9},
                  {"28\n", nullptr, "28\n", nullptr, 0},
                  {"-5\n", "10", "-5\n", "10", 10},
                  {"19\n", "6", "19\n", "6", 6},
                  {"99999999999\n", "20", "20\n", "20", 20},
                  {"23\n", "28", "23\n", "28", 0},
                  {"12\n", "4294967301", "12\n", "4294967301", 0}};

void plant_mode_files(const char *tvmode, const char *value) {
    set("/tmp/tvmode", tvmode), write_var("video_output", value ? value : "", 0);
    smpoutd_stub_clear();
}
std::string mode_files() { return read_file("/tmp/tvmode") + "|" + stored("video_output"); }

TEST_F(Mode, StartUpSeedsAMissingModeFileFromTheStore) {
    for (const auto &row : kModeFiles) {
        SCOPED_TRACE(std::string(row.tvmode ? row.tvmode : "none") + " / " +
                     (row.stored ? row.stored : "none"));
        plant_mode_files(row.tvmode, row.stored);
        captured_stderr([] { EXPECT_EQ(0, init_video_config(nullptr)); });
        EXPECT_EQ(std::string(row.seeded) + "|" + (row.stored_after ? row.stored_after : ""),
                  mode_files());
        EXPECT_EQ(std::vector<int>{}, daemon_codes());
    }
}

TEST_F(Mode, WakingRestoresTheRecordedPictureModeAndChangesNoFile) {
    for (const auto &row : kModeFiles) {
        SCOPED_TRACE(std::string(row.tvmode ? row.tvmode : "none") + " / " +
                     (row.stored ? row.stored : "none"));
        plant_mode_files(row.tvmode, row.stored);
        const std::string before = mode_files();
        std::string out =
            stdout_of([] { captured_stderr([] { EXPECT_EQ(0, VideoOutputOnOff(1, nullptr)); }); });
        EXPECT_EQ("Turn ON the display \ntvmode :" + std::to_string(row.woken) + "\n", out);
        EXPECT_EQ(std::vector<int>{row.woken}, daemon_codes());
        EXPECT_EQ(before, mode_files());
    }
}

TEST_F(Mode, AnyWordButOneSwitchesThePictureOff) {
    write_file("/tmp/tvmode", "7\n");
    for (int off : {0, 2, -1})
        EXPECT_EQ("Turn OFF the display \n",
                  stdout_of([&] { EXPECT_EQ(0, VideoOutputOnOff(off, nullptr)); }));
    EXPECT_EQ((std::vector<int>{28, 28, 28}), daemon_codes());
    EXPECT_EQ("7\n", read_file("/tmp/tvmode"));
    EXPECT_EQ(0, init_audio_config());
}

TEST_F(Mode, SpecialFilesWhereSmallFilesBelongReadAsMissing) {
    write_var("video_output", "0", 0);
    const struct {
        const char *what;
        std::function<void(const char *)> make;
    } plants[] = {{"a FIFO without a writer", [](const char *p) { mkfifo(p, 0666); }},
                  {"a folder", [](const char *p) { mkdir(p, 0777); }},
                  {"a link to a FIFO",
                   [](const char *p) {
                       mkfifo("/tmp/elsewhere.fifo", 0666), symlink("/tmp/elsewhere.fifo", p);
                   }},
                  {"a link to an endless device", [](const char *p) { symlink("/dev/zero", p); }}};
    for (const auto &plant : plants) {
        SCOPED_TRACE(plant.what);
        for (const char *path : {"/tmp/tvmode", "/tmp/tvname", "/tmp/elsewhere.fifo"})
            clear_path(path);
        plant.make("/tmp/tvmode"), plant.make("/tmp/tvname"), smpoutd_stub_clear();
        EXPECT_EQ((std::vector<int>{-1, -1}), (std::vector<int>{get_value_from_file("/tmp/tvmode"),
                                                                check_hdmi_state_changed()}));
        EXPECT_TRUE(has(captured_stderr([] {
                            EXPECT_EQ(-1, write_value_to_file("/tmp/tvmode", 5));
                            EXPECT_EQ(0, init_video_config(nullptr));
                        }),
                        {"refusing to write /tmp/tvmode"}));
        stdout_of([] { VideoOutputOnOff(1, nullptr); }), change_tvmode(0, 0),
            kvn_confirm_virtual_screensize();
        EXPECT_EQ("", drain(kvn_command_pipe)) << "no name from the output side";
        EXPECT_EQ((std::vector<int>{-1, 0}), daemon_codes()) << "read as a missing file";
        struct stat st;
        EXPECT_TRUE(lstat("/tmp/tvmode", &st) == 0 && !S_ISREG(st.st_mode)) << "left as it was";
    }
}

TEST_F(Mode, NothingIsWrittenThroughALink) {
    const std::string victim = "/opt/victim",
                      hard = "/tmp/.victim";  // a hard link needs the same file system
    const struct {
        const char *path, *who;
        std::function<void()> write;
    } rows[] = {
        {"/tmp/tvmode", "write_value_to_file", [] { write_value_to_file("/tmp/tvmode", 5); }},
        {"/tmp/tvmode", "write_value_to_file", [] { change_tvmode(7, 0); }},
        {"/tmp/kvn_framework_pipe", "notify_tvmode_change",
         [] { EXPECT_EQ(1, kvn::notify_tvmode_change("<tvmode>x</tvmode>")); }},
        {"/tmp/tolu_cgi", "tolu_cgi", [] { EXPECT_EQ(-1, kvn::apply_tvmode_selection(10, 2)); }},
        {"/tmp/cdpipe", "write_cdrom_pipe", [] { kvn::write_cdrom_pipe(1); }},
        {"/tmp/wait_to_reboot", "reboot", [] {
             kvn::check_standby_power_keys(DIKS_POWER), kvn::check_standby_power_keys(DIKS_EJECT);
         }}};
    for (const auto &row : rows) {
        for (std::string kind : {"link", "dangling link", "hard link"}) {
            SCOPED_TRACE(std::string(row.path) + " as a " + kind);
            clear_path(row.path), clear_path("/opt/created-through-a-link");
            write_file(victim, "precious\n"), write_file(hard, "precious\n");
            kind == "hard link"
                ? link(hard.c_str(), row.path)
                : symlink(kind == "link" ? victim.c_str() : "/opt/created-through-a-link",
                          row.path);
            std::string err = captured_stderr(row.write);
            EXPECT_EQ("precious\nprecious\n", read_file(victim) + read_file(hard));
            EXPECT_FALSE(exists("/opt/created-through-a-link"));
            EXPECT_TRUE(has(err, {std::string(row.who) + ": refusing to write " + row.path}));
            EXPECT_EQ(kind != "hard link", err.find("symbolic link") != std::string::npos) << err;
        }
    }
}

// A missing framework pipe is not made, a plain file there not truncated.
TEST_F(Mode, TheEventLineGoesIntoTheFifoOnly) {
    clear_path("/tmp/kvn_framework_pipe");
    EXPECT_EQ(1, kvn::notify_tvmode_change(nullptr));
    EXPECT_FALSE(exists("/tmp/kvn_framework_pipe"));
    write_file("/tmp/kvn_framework_pipe", "someone's file\n"), smpoutd_stub_clear();
    captured_stderr([] { change_tvmode(5, 0); });
    EXPECT_EQ("someone's file\n", read_file("/tmp/kvn_framework_pipe"));
    EXPECT_EQ(std::vector<int>{5}, daemon_codes());
}

// /tmp/tolu_cgi as the user-interface application keeps it: a FIFO with a reader.
class ModePipe : public Mode {
  protected:
    void SetUp() override {
        Mode::SetUp();
        clear_path("/tmp/tolu_cgi");
        ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622));
        replies = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
    }
    void TearDown() override { close(replies), Mode::TearDown(); }
    int replies = -1;
};

// What one read returns is a command; line ends in it separate commands, handled one per call.
TEST_F(ModePipe, CommandsAreWhatOneReadReturnsOnePerCallInOrder) {
    // Five empty lines, then pairs; the read of 512 bytes ends inside the 27th "tv=1080i50".
    std::string burst = "\n\n\n\n\n";
    std::vector<int> burst_codes;
    for (int i = 0; i < 40; ++i)
        burst += "tv=576i\ntv=1080i50\n", burst_codes.insert(burst_codes.end(), {2, 8});
    // writes: by one writer that keeps the pipe open, a poll after each
    const struct {
        const char *what;
        std::vector<std::string> writes;
        std::vector<int> codes;
        std::string saved;
    } rows[] = {{"no line ends", {"tv=720p60", "tv=1080p24 save"}, {5, 11}, "11"},
                {"one after another", {"tv=576i", "tv=480p"}, {2, 3}, "none"},
                {"two in one write", {"tv=720p60\ntv=576i save\n"}, {5, 2}, "2"},
                {"76 bytes, 60 count", {"tv=1080i50" + std::string(62, ' ') + "save"}, {8}, "none"},
                {"a write that fills a read", {"tv=480p save" + std::string(500, ' ')}, {3}, "3"},
                {"a burst larger than one read", {burst}, burst_codes, "none"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        write_var("video_output", "none", 0), smpoutd_stub_clear(), drain(replies);
        int writer = open("/tmp/display", O_WRONLY | O_NONBLOCK);
        for (const std::string &chunk : row.writes) {
            EXPECT_EQ(static_cast<ssize_t>(chunk.size()),
                      write(writer, chunk.data(), chunk.size()));
            check_tvmode_fifo();
        }
        for (int call = 0; call < 100; ++call) check_tvmode_fifo();
        EXPECT_EQ(row.codes, daemon_codes());
        EXPECT_EQ(row.saved, stored("video_output"));
        std::string got = drain(replies);
        EXPECT_EQ(row.codes.size(), static_cast<size_t>(std::count(got.begin(), got.end(), '\0')))
            << "a reply each";
        close(writer);
    }
    // Two application loops polling at once still take the burst in order.
    smpoutd_stub_clear();
    std::atomic<bool> polling{true};
    auto poll = [&] {
        while (polling) check_tvmode_fifo();
    };
    std::thread first(poll), second(poll);
    send(burst);
    // Under qemu-user a command takes about 50 ms: 4 s for the burst on armhf, more under load.
    kvn_test::eventually([] { return smpoutd_stub_count() >= 80; },
                         kvn_test::emulated() ? 30000 : 5000);
    polling = false, first.join(), second.join();
    EXPECT_EQ(burst_codes, daemon_codes());
}

TEST_F(ValueFile, APolledModeFileIsReadAgainWhateverTheRewrite) {
    for (int i = 0; i < 200; ++i) {  // rewrites of the same size, each right after the last read
        write_file("/tmp/tvmode", i % 2 ? "7\n" : "5\n");
        ASSERT_TRUE(get_value_from_file("/tmp/tvmode") == 5 + 2 * (i % 2) &&
                    check_hdmi_state_changed() == 5 + 2 * (i % 2))
            << i;
    }
    clear_path("/tmp/tvmode");
    EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode"));
}

TEST_F(ModePipe, AReplyWaitsForRoomInAFullPipe) {
    fill_pipe("/tmp/tolu_cgi");
    send("tv=720p60\n");
    const std::string reply("tv=720p\0", 8);
    std::string received;
    std::thread application([&] {  // reads only after a while, then until the reply came
        usleep(200000);
        for (int i = 0; i < 100 && received.find(reply) == std::string::npos; ++i)
            received += drain(replies), usleep(10000);
    });
    check_tvmode_fifo();
    application.join();
    EXPECT_EQ(std::vector<int>{5}, daemon_codes());
    EXPECT_NE(std::string::npos, received.find(reply));
}

TEST_F(Mode, AnEventLineThatFindsThePipeFullIsReportedNotWritten) {
    fill_pipe("/tmp/kvn_framework_pipe");
    EXPECT_TRUE(has(captured_stderr([] {
                        EXPECT_EQ(1, kvn::notify_tvmode_change("<tvmode>720p 60Hz</tvmode>"));
                    }),
                    {"not written"}));
}

TEST_F(ModePipe, AMarkerThatCannotBeRemovedIsAnsweredOnce) {
    write_file("/tmp/tvmode", "0\n");
    ASSERT_EQ(0, mkdir("/tmp/hdmi_changed", 0755));
    EXPECT_TRUE(has(captured_stderr([] {
                        for (int poll = 0; poll < 3; ++poll)
                            EXPECT_NE(0, check_hdmi_state_changed());
                    }),
                    {"cannot remove"}));
    EXPECT_EQ(std::string("tv=auto\0", 8), drain(replies));
    rmdir("/tmp/hdmi_changed"), write_file("/tmp/hdmi_changed", "");
    EXPECT_EQ(0, check_hdmi_state_changed()) << "a new marker is answered again";
    EXPECT_EQ(std::string("tv=auto\0", 8), drain(replies));
}

TEST(TextCut, NeverSplitsACharacter) {
    const struct {
        std::string text;
        size_t limit, kept;
    } rows[] = {{"Frequency  50hz", 12, 12},
                {"ab\xc3\xa9", 3, 2},
                {"ab\xc3\xa9", 4, 4},
                {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 4, 3},
                {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 5, 3},
                {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 6, 6},
                {"a\xf0\x9f\x93\xba", 4, 1},
                {"a\xf0\x9f\x93\xba", 5, 5},
                {"\x80\x80\x80", 2, 2}};
    for (const auto &row : rows)
        EXPECT_EQ(row.kept, kvn::utf8_cut(row.text.data(), row.limit)) << row.text;
}

}  // namespace
