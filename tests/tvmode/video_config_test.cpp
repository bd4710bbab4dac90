// /tmp/tvmode seeded at start-up from the store, and the picture switched off and back on.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

// From the same /tmp/tvmode and video_output (null: none): a start-up, then a wake-up and switches
// off that change no file.
TEST(VideoConfig, StartUpSeedsAMissingModeFileAndWakingRestoresTheRecordedMode) {
    KVN_REQUIRE_SANDBOX();
    const struct {
        const char *tvmode, *stored, *seeded, *stored_after;
        int woken;
    } rows[] = {{"11\n", nullptr, "11\n", "", 11},
                {nullptr, nullptr, "0\n", "0", -1},
                {"-1\n", "11", "11\n", "11", -1},
                {"", "9", "9\n", "9", -1},
                {nullptr, "4294967301", "0\n", "0", -1},
                {nullptr, "abc", "0\n", "0", -1},
                {"0\n", "7", "0\n", "7", 0},
                {"22\n", nullptr, "22\n", "", 22},
                {"28\n", "9", "28\n", "9", 9},
                {"28\n", nullptr, "28\n", "", 0},
                {"-5\n", "10", "-5\n", "10", 10},
                {"19\n", "6", "19\n", "6", 6},
                {"99999999999\n", "20", "20\n", "20", 20},
                {"23\n", "28", "23\n", "28", 0},
                {"12\n", "4294967301", "12\n", "4294967301", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        auto plant = [&] {
            remove_file("/tmp/tvmode");
            if (row.tvmode) write_file("/tmp/tvmode", row.tvmode);
            write_var("video_output", row.stored ? row.stored : "", 0);
            smpoutd_stub_clear();
        };
        plant();
        captured_stderr([] { EXPECT_EQ(0, init_video_config(nullptr)); });
        EXPECT_EQ(row.seeded, read_file("/tmp/tvmode"));
        EXPECT_EQ(row.stored_after, stored("video_output"));
        EXPECT_EQ(0, smpoutd_stub_count());
        plant();
        const std::string file = read_file("/tmp/tvmode"), store = stored("video_output");
        testing::internal::CaptureStdout();
        captured_stderr([] {
            EXPECT_EQ(0, VideoOutputOnOff(1, nullptr));
            for (int off : {0, 2, -1}) EXPECT_EQ(0, VideoOutputOnOff(off, nullptr));
        });
        EXPECT_EQ("Turn ON the display \ntvmode :" + std::to_string(row.woken) +
                      "\nTurn OFF the display \nTurn OFF the display \nTurn OFF the display \n",
                  testing::internal::GetCapturedStdout());
        EXPECT_EQ((std::vector<int>{row.woken, 28, 28, 28}), daemon_codes());
        EXPECT_EQ(file, read_file("/tmp/tvmode"));
        EXPECT_EQ(store, stored("video_output"));
    }
    EXPECT_EQ(0, init_audio_config());
}

}  // namespace
