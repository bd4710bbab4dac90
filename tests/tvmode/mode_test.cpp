// Mode changes as the other programs see them: /tmp/tvmode, the event line on the framework
// pipe, and the stand-ins' ordered trace (dialog commands with owner and connection, daemon
// codes, stored values, commits).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "../context/context_test_util.h"
#include "menu_harness.h"
#include "tvmode/tvmode_internal.h"

namespace {

using namespace kvn_test;
using namespace menu_test;

const std::string kEvent = "swf=<event>change_tvmode</event>";
const std::vector<std::string> kChanges = {"smpoutd", "flash"};

class Mode : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_test::start_display();
        write_file("/tmp/tolu_cgi", "");
        smpoutd_stub_set_auto_name(nullptr);  // the output side names nothing unless asked
        reset();
    }
    void reset() {
        menu_test::drain(kvn_command_pipe);
        smpoutd_stub_clear(), osd_service_clear(), kvn_trace_clear();
    }
    static void send(const std::string &command) {
        int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK);
        ASSERT_EQ(static_cast<ssize_t>(command.size()), write(fd, command.data(), command.size()));
        close(fd);
    }
};

// A dialog command as the trace shows it (tabs written as \t).
std::string osd(int owner, const char *conn, int cmd, int flags = 0, int mode = 0, const std::string &text = "") {
    std::string shown;
    for (char c : text) shown += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "osd owner=" + std::to_string(owner) + " conn=" + conn + " cmd=" + std::to_string(cmd) + " flags=" +
           std::to_string(flags) + " mode=" + std::to_string(mode) + " len=" + std::to_string(text.size()) + " text=" + shown;
}

TEST_F(Mode, EveryCodeWritesItsFileEventLineLabelAndCommit) {
    // payload: between <tvmode> and </tvmode>, but the automatic mode's is bare
    const struct { int code; const char *label, *payload; } rows[] = {
        {1, "NTSC", "480i"}, {2, "PAL", "576i"}, {3, "720p 60Hz", "480p"}, {4, "720p 60Hz", "576p"},
        {5, "720p 60Hz", "720p 60Hz"}, {6, "720p 50Hz", "720p 50Hz"}, {7, "1080i 60Hz", "1080i 60Hz"},
        {8, "1080i 50Hz", "1080i 50Hz"}, {9, "1080p 60Hz", "1080p 60Hz"}, {10, "1080p 50Hz", "1080p 50Hz"},
        {11, "1080p 24Hz", "1080p 24Hz"}, {20, "4K 30Hz", "1080i 60Hz"}, {21, "4K 25Hz", "1080i 60Hz"},
        {22, "4K 24Hz", "1080i 60Hz"}, {12, "720p 60Hz", "1080i 60Hz"}, {19, "720p 60Hz", "1080i 60Hz"},
        {23, "720p 60Hz", "1080i 60Hz"}, {99, "720p 60Hz", "1080i 60Hz"}, {-4, "720p 60Hz", "1080i 60Hz"},
        {0, "Auto", "1080i60"},
    };
    for (bool focused : {true, false}) {
        std::unique_ptr<kvn_test::App> app;
        if (focused) {
            app = std::make_unique<kvn_test::App>(BROWSER);
            ASSERT_EQ(0, register_window(&app->record));
            ASSERT_EQ(0, focus_on_window(BROWSER));
        }
        const int owner = focused ? 100 + BROWSER : 0;
        for (const auto &row : rows) {
            for (int announce : {1, 0, 2}) {
                SCOPED_TRACE(std::to_string(row.code) + (focused ? " focused" : " no focus") + ", announce " + std::to_string(announce));
                write_file("/tmp/tvmode", "77\n");
                write_file("/tmp/tvname", "1080i59\n");
                reset();
                testing::internal::CaptureStderr();
                ASSERT_EQ(0, change_tvmode(row.code, announce));
                std::string err = testing::internal::GetCapturedStderr();
                EXPECT_EQ(row.code >= 0 ? std::to_string(row.code) + "\n" : "77\n", read_file("/tmp/tvmode"));
                const std::string payload = row.code ? "<tvmode>" + std::string(row.payload) + "</tvmode>" : row.payload;
                EXPECT_EQ(kEvent + payload + "\n", menu_test::drain(kvn_command_pipe));
                std::vector<std::string> expected = {osd(owner, "a", -3), osd(owner, "a", 34), osd(owner, "a", -2),
                                                     "smpoutd code=" + std::to_string(row.code)};
                const std::string option = std::string("-opts=") + row.label + "\t-optdel=,\t";
                if (announce == 1)
                    expected.insert(expected.end(), {osd(0, "0", 40, 0x4000, 1, option), osd(0, "0", 40, 0x4000, 0, option), "flash save_commit"});
                expected.push_back(osd(0, "0", -2));
                EXPECT_EQ(expected, platform_trace());
                EXPECT_EQ(announce == 1 && !focused, err.find("WARNING!: get_current_apps [5322] \n") != std::string::npos) << err;
            }
        }
    }
}

TEST_F(Mode, TheAutomaticModesEventCarriesTheOutputSidesName) {
    const char *rows[][2] = {  // the name in /tmp/tvname (null: no file), the event's (null: none)
        {"1080i59\n", "1080i60"}, {"1080p59.94\n", "1080p60"}, {"720p59\n", "720p60"}, {"576p\n", "576p\n"},
        {"1080i50\n", "1080i50\n"}, {"720p5\n", "720p5\n"}, {"123456789012", "123456789"}, {"", nullptr}, {nullptr, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row[0] ? row[0] : "no file");
        kvn_test::remove_file("/tmp/tvname");
        if (row[0]) write_file("/tmp/tvname", row[0]);
        reset();
        change_tvmode(0, 0);
        EXPECT_EQ(row[1] ? kEvent + row[1] + "\n" : "", menu_test::drain(kvn_command_pipe));
        EXPECT_EQ(std::vector<std::string>{"smpoutd code=0"}, platform_trace({"smpoutd"}));
        EXPECT_EQ("0\n", read_file("/tmp/tvmode"));
    }
}

TEST_F(Mode, EveryPipeWordSwitchesRepliesAndIsStoredOnlyWithSave) {
    const struct { std::string text; int code; const char *reply; bool save; } rows[] = {  // code -1: nothing happens
        {"tv=auto", 0, "tv=auto", false},  {"tv=480i", 1, "tv=480i", false},      {"tv=576i", 2, "tv=576i", false},
        {"tv=480p", 3, "tv=480p", false},  {"tv=576p", 4, "tv=576p", false},      {"tv=720p60\n", 5, "tv=720p", false},
        {"tv=720p50", 6, "tv=720p", false}, {"tv=1080i60", 7, "tv=1080i", false}, {"tv=1080i50", 8, "tv=1080i", false},
        {"tv=1080p60", 9, "tv=1080p", false}, {"tv=1080p50", 10, "tv=1080p", false}, {"tv=1080p24 save", 11, "tv=1080p", true},
        {"tv=4k", 0, "tv=auto", false},    {"tv=1080i609", 7, "tv=1080i", false}, {"tv=1080i5", 0, "tv=auto", false},
        {"tv=", 0, "tv=auto", false},      {"tv=savea", 0, "tv=auto", true},      {"tv=480ptv=576isave", 3, "tv=480p", true},
        {"save tv=576i", -1, "", false},   {"TV=576i", -1, "", false},            {"x", -1, "", false},
        {"hello=720p60", -1, "", false},   {std::string("tv\0=720p60", 10), -1, "", false},
    };
    const int descriptors = ctx_test::open_descriptor_count();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        write_file("/tmp/tolu_cgi", "");
        write_var("video_output", "none", 0);
        reset();
        send(row.text);
        check_tvmode_fifo();
        check_tvmode_fifo();  // an empty pipe does nothing
        std::vector<std::string> expected;
        if (row.save) expected.push_back("flash write_var video_output=" + std::to_string(row.code));
        if (row.code >= 0) expected.push_back("smpoutd code=" + std::to_string(row.code));
        EXPECT_EQ(expected, platform_trace(kChanges)) << "stored before the change, never committed";
        EXPECT_EQ(row.code >= 0 ? std::string(row.reply) + '\0' : "", read_file("/tmp/tolu_cgi"));
    }
    EXPECT_EQ(descriptors, ctx_test::open_descriptor_count()) << "every reply closed";
}

TEST_F(Mode, HdmiChangeIsAnsweredInTheAutomaticModeOnly) {
    const struct { const char *tvmode; bool marker; int result; bool answered; } rows[] = {{"0\n", true, 0, true},      {"7\n", true, 7, false}, {"0\n", false, -1, false},
                {nullptr, true, -1, false}, {"", true, -1, false},   {"-1\n", true, -1, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.tvmode ? row.tvmode : "no file") + (row.marker ? " marker" : ""));
        kvn_test::remove_file("/tmp/tvmode");
        if (row.tvmode) write_file("/tmp/tvmode", row.tvmode);
        if (row.marker) write_file("/tmp/hdmi_changed", "");
        write_file("/tmp/tolu_cgi", "");
        reset();
        EXPECT_EQ(row.result, check_hdmi_state_changed());
        EXPECT_EQ(row.answered ? std::string("tv=auto\0", 8) : "", read_file("/tmp/tolu_cgi"));
        EXPECT_EQ(row.marker && !row.answered, kvn_test::exists("/tmp/hdmi_changed"));
        EXPECT_TRUE(platform_trace().empty()) << "the mode itself is not changed";
        kvn_test::remove_file("/tmp/hdmi_changed");
    }
}

TEST_F(Mode, EveryMenuChoiceIsMappedRepliedStoredSwitchedAndCommitted) {
    const struct { int group, frequency, code; const char *reply; } rows[] = {
        {10, 2, 6, "tv=720p"},  {10, 3, 5, "tv=720p"},  {10, 1, 5, "tv=720p"},   {11, 2, 8, "tv=1080i"}, {11, 3, 7, "tv=1080i"},
        {11, 0, 7, "tv=1080i"}, {12, 1, 11, "tv=1080p"}, {12, 2, 10, "tv=1080p"}, {12, 3, 9, "tv=1080p"}, {12, 4, 9, "tv=1080p"},
        {13, 1, 22, "tv=4k"},   {13, 4, 21, "tv=4k"},    {13, 2, 20, "tv=4k"},    {13, 5, 20, "tv=4k"},   {0, 3, 0, "tv=auto"},
        {9, 2, 0, "tv=auto"},   {14, 1, 0, "tv=auto"},   {-1, 2, 0, "tv=auto"},
    };
    const int descriptors = ctx_test::open_descriptor_count();
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.group) + ", " + std::to_string(row.frequency));
        write_file("/tmp/tolu_cgi", "");
        reset();
        EXPECT_EQ(0, apply_tvmode_selection(row.group, row.frequency));
        EXPECT_EQ(std::string(row.reply) + '\0', read_file("/tmp/tolu_cgi"));
        const std::string code = std::to_string(row.code);
        EXPECT_EQ(code + "\n", read_file("/tmp/tvmode"));
        EXPECT_EQ((std::vector<std::string>{"flash write_var video_output=" + code, "flash write_var video_setting=tvmode",
                                            "smpoutd code=" + code, "flash save_commit"}),
                  platform_trace(kChanges));
    }
    EXPECT_EQ(descriptors, ctx_test::open_descriptor_count()) << "every reply closed";
}

TEST_F(Mode, AReplyInputThatCannotBeOpenedChangesNothingAndNeverBlocks) {
    for (bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "a FIFO without its reader" : "missing");
        kvn_test::remove_file("/tmp/tolu_cgi");
        if (fifo) { ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0644)); }
        reset();
        send("tv=480i save");
        check_tvmode_fifo();
        testing::internal::CaptureStdout();
        EXPECT_EQ(-1, apply_tvmode_selection(12, 1));
        EXPECT_EQ("open error!!!! line 454 \n", testing::internal::GetCapturedStdout());
        EXPECT_EQ(std::vector<std::string>{}, platform_trace(kChanges));
        write_file("/tmp/tvmode", "0\n");
        write_file("/tmp/hdmi_changed", "");
        EXPECT_EQ(0, check_hdmi_state_changed());
        EXPECT_FALSE(kvn_test::exists("/tmp/hdmi_changed")) << "the marker goes all the same";
        EXPECT_EQ(fifo, kvn_test::exists("/tmp/tolu_cgi")) << "never created";
    }
}

TEST_F(Mode, TheTvSystemSwitchMovesEveryModeToItsTwin) {
    const struct { const char *mode, *system, *new_mode, *new_system; int code; } rows[] = {  // code -1: no change
        {"1", "PAL", "2", "NTSC", 2},  {"2", "NTSC", "1", "PAL", 1},   {"3", "PAL", "4", "NTSC", 4},  {"4", "PAL", "3", "NTSC", 3},
        {"5", "PAL", "6", "NTSC", 6},  {"6", "PAL", "5", "NTSC", 5},   {"7", "PAL", "8", "NTSC", 8},  {"8", "NTSC", "7", "PAL", 7},
        {"9", "PAL", "10", "NTSC", 10}, {"10", "PAL", "9", "NTSC", 9}, {"00", "PAL", "00", "NTSC", 0}, {"11", "pal", "0", "PAL", 0},
        {"20", "PAL ", "0", "PAL", 0}, {"-3", "", "0", "PAL", 0},      {"99", "PAL", "0", "NTSC", 0}, {"junk", "PAL", "junk", "NTSC", 0},
        {"4294967301", "PAL", "4294967301", "PAL", -1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.mode) + " / " + row.system);
        write_var("video_output", row.mode, 0);
        write_var("tv_system", row.system, 0);
        reset();
        SwitchTvSystem();
        EXPECT_EQ(row.new_mode, stored("video_output"));
        EXPECT_EQ(row.new_system, stored("tv_system"));
        EXPECT_EQ(row.code < 0 ? std::vector<std::string>{} : std::vector<std::string>{"smpoutd code=" + std::to_string(row.code)},
                  platform_trace({"smpoutd", "flash save_commit"})) << "switched, never committed";
    }
}

TEST(TvSystem, WithoutAStoredModeNothingHappensAndWithoutASystemNothingIsSwitched) {
    KVN_REQUIRE_SANDBOX();
    SwitchTvSystem();
    EXPECT_EQ(std::vector<std::string>{}, platform_trace({"smpoutd", "flash"}));
    write_var("video_output", "7", 0);
    SwitchTvSystem();
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ("<null>", stored("tv_system"));
    EXPECT_EQ(std::vector<std::string>{}, platform_trace({"smpoutd"}));
}

}  // namespace
