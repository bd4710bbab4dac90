// Mode commands from other programs on /tmp/display, and the answer to an HDMI change.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

class ModePipe : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        start_display();
        smpoutd_stub_set_auto_name(nullptr);  // the automatic mode names nothing: no event line
    }
};

TEST_F(ModePipe, EveryPipeWordSelectsItsMode) {
    const struct {
        std::string text;
        int code;  // -1: nothing happens
        const char *reply, *event;
        bool save;
    } rows[] = {{"tv=auto", 0, "tv=auto", "", false},
                {"tv=480i", 1, "tv=480i", "<tvmode>480i</tvmode>", false},
                {"tv=576i", 2, "tv=576i", "<tvmode>576i</tvmode>", false},
                {"tv=480p", 3, "tv=480p", "<tvmode>480p</tvmode>", false},
                {"tv=576p", 4, "tv=576p", "<tvmode>576p</tvmode>", false},
                {"tv=720p60\n", 5, "tv=720p", "<tvmode>720p 60Hz</tvmode>", false},
                {"tv=720p50", 6, "tv=720p", "<tvmode>720p 50Hz</tvmode>", false},
                {"tv=1080i60", 7, "tv=1080i", "<tvmode>1080i 60Hz</tvmode>", false},
                {"tv=1080i50", 8, "tv=1080i", "<tvmode>1080i 50Hz</tvmode>", false},
                {"tv=1080p60", 9, "tv=1080p", "<tvmode>1080p 60Hz</tvmode>", false},
                {"tv=1080p50", 10, "tv=1080p", "<tvmode>1080p 50Hz</tvmode>", false},
                {"tv=1080p24 save", 11, "tv=1080p", "<tvmode>1080p 24Hz</tvmode>", true},
                {"tv=4k", 0, "tv=auto", "", false},
                {"tv=1080i609", 7, "tv=1080i", "<tvmode>1080i 60Hz</tvmode>", false},
                {"tv=", 0, "tv=auto", "", false},
                {"tv=480ptv=576isave", 3, "tv=480p", "<tvmode>480p</tvmode>", true},
                {"x", -1, "", "", false},
                {"hello=720p60", -1, "", "", false},
                {std::string("tv\0=720p60", 10), -1, "", "", false}};
    for (const auto &row : rows) {
        Journal journal;
        send_mode_command(row.text);
        check_tvmode_fifo();
        check_tvmode_fifo();  // on an empty pipe: nothing
        Lines expected;
        if (row.save)
            expected.push_back("flash write_var video_output=" + std::to_string(row.code));
        if (row.code >= 0) expected = expected + changed(row.code, "a", 0, row.event);
        if (row.code >= 0) expected.push_back("reply " + std::string(row.reply));
        EXPECT_EQ(expected, journal.lines()) << row.text;
    }
}

// Only in the automatic mode, and the mode itself is not changed.
TEST_F(ModePipe, AnHdmiChangeIsAnsweredInTheAutomaticModeOnly) {
    const struct {
        const char *tvmode;  // null: no file
        bool marker;
        int result;  // 0: answered
    } rows[] = {{"0\n", true, 0},    {"7\n", true, 7}, {"0\n", false, -1},
                {nullptr, true, -1}, {"", true, -1},   {"-1\n", true, -1}};
    for (const auto &row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        remove_file("/tmp/tvmode");
        remove_file("/tmp/hdmi_changed");
        if (row.tvmode) write_file("/tmp/tvmode", row.tvmode);
        if (row.marker) write_file("/tmp/hdmi_changed", "");
        Journal journal;
        EXPECT_EQ(row.result, check_hdmi_state_changed());
        EXPECT_EQ(row.result == 0 ? Lines{"reply tv=auto"} : Lines{}, journal.lines());
        EXPECT_EQ(row.marker && row.result != 0, exists("/tmp/hdmi_changed"));
    }
}

// Line ends separate commands, each with its own "save" (how reads are cut is the fuzzer's). Two
// loops polling at once still take them in order (a race no planted fault makes).
TEST_F(ModePipe, CommandsAreWhatOneReadReturnsOnePerCallInOrder) {
    std::string burst = "\n\n\n\n\n";
    std::vector<int> codes;
    for (int i = 0; i < 40; ++i) {
        burst += "tv=576i\ntv=1080i50\n";
        codes.insert(codes.end(), {2, 8});
    }
    burst += "tv=720p60\ntv=480p save\ntv=576i\n";
    codes.insert(codes.end(), {5, 3, 2});
    Journal journal;  // the replies' reader
    std::atomic<bool> polling{true};
    auto poll = [&] {
        while (polling) check_tvmode_fifo();
    };
    std::thread first(poll), second(poll);
    send_mode_command(burst);
    // Under qemu-user a command takes about 50 ms: 4 s for the burst on armhf, more under load.
    eventually([] { return smpoutd_stub_count() >= 83; }, emulated() ? 30000 : 5000);
    polling = false;
    first.join();
    second.join();
    EXPECT_EQ(codes, daemon_codes());
    EXPECT_EQ("3", stored("video_output"));
}

}  // namespace
