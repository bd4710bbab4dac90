// The switch between the 50 Hz and 60 Hz families of modes.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

// Without a display, so that no start-up has stored a mode yet (and no event line has a reader).
TEST(TvSystem, TheSwitchMovesEveryModeToItsTwin) {
    KVN_REQUIRE_SANDBOX();
    smpoutd_stub_set_auto_name(nullptr);
    const struct {
        const char *mode, *system;  // null: not stored (the first rows, before anything is)
        const char *stored_mode, *stored_system;  // null: nothing written
        int code;                                 // -1: no switch
    } rows[] = {{nullptr, nullptr, nullptr, nullptr, -1},
                {"7", nullptr, "8", nullptr, -1},
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
                {"00", "PAL", nullptr, "NTSC", 0},
                {"11", "pal", "0", "PAL", 0},
                {"20", "PAL ", "0", "PAL", 0},
                {"-3", "", "0", "PAL", 0},
                {"99", "PAL", "0", "NTSC", 0},
                {"junk", "PAL", nullptr, "NTSC", 0},
                {"4294967301", "PAL", "0", "NTSC", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        if (row.mode) write_var("video_output", row.mode, 0);
        if (row.system) write_var("tv_system", row.system, 0);
        Journal journal(false);
        captured_stderr(SwitchTvSystem);
        Lines expected;
        if (row.stored_mode)
            expected.push_back("flash write_var video_output=" + std::string(row.stored_mode));
        if (row.stored_system)
            expected.push_back("flash write_var tv_system=" + std::string(row.stored_system));
        if (row.code >= 0) expected = expected + changed(row.code, "a");
        EXPECT_EQ(expected, journal.lines()) << "stored, switched, never committed";
    }
}

}  // namespace
