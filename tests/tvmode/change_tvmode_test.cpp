// A mode change as the other programs see it: /tmp/tvmode, the dialog service, the framework pipe's
// event line, the output daemon and the store, in order.
#include "tvmode/change_tvmode.h"

#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

class ChangeTvmode : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        start_display();
        smpoutd_stub_set_auto_name(nullptr);  // the output side names only what a test plants
        drain(kvn_command_pipe);
    }
};

TEST_F(ChangeTvmode, EveryCodeRunsTheWholeChangeInOrder) {
    // The automatic mode's event carries the output side's name (only its first 9 bytes).
    const struct {
        int code;
        const char *label, *event, *tvname = "1080i59\n";  // null: no file
    } rows[] = {{0, "Auto", "1080i60"},
                {0, "Auto", "1080p60", "1080p59.94\n"},
                {0, "Auto", "720p60", "720p59\n"},
                {0, "Auto", "576p\n", "576p\n"},
                {0, "Auto", "123456789", "123456789012"},
                {0, "Auto", "", ""},
                {0, "Auto", "", nullptr},
                {1, "NTSC", "<tvmode>480i</tvmode>"},
                {2, "PAL", "<tvmode>576i</tvmode>"},
                {3, "720p 60Hz", "<tvmode>480p</tvmode>"},
                {4, "720p 60Hz", "<tvmode>576p</tvmode>"},
                {5, "720p 60Hz", "<tvmode>720p 60Hz</tvmode>"},
                {6, "720p 50Hz", "<tvmode>720p 50Hz</tvmode>"},
                {7, "1080i 60Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {8, "1080i 50Hz", "<tvmode>1080i 50Hz</tvmode>"},
                {9, "1080p 60Hz", "<tvmode>1080p 60Hz</tvmode>"},
                {10, "1080p 50Hz", "<tvmode>1080p 50Hz</tvmode>"},
                {11, "1080p 24Hz", "<tvmode>1080p 24Hz</tvmode>"},
                {20, "4K 30Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {21, "4K 25Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {22, "4K 24Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {12, "720p 60Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {19, "720p 60Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {23, "720p 60Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {99, "720p 60Hz", "<tvmode>1080i 60Hz</tvmode>"},
                {-4, "720p 60Hz", "<tvmode>1080i 60Hz</tvmode>"}};
    App browser(BROWSER);
    ASSERT_EQ(0, register_window(&browser.record));
    for (bool focused : {true, false}) {
        browser.record.on_focus = focused;
        for (const auto &row : rows) {
            for (int announce : {1, 0, 2}) {
                remove_file("/tmp/tvname");
                if (row.tvname) write_file("/tmp/tvname", row.tvname);
                Journal journal(false);
                const std::string err =
                    captured_stderr([&] { EXPECT_EQ(0, change_tvmode(row.code, announce)); });
                Lines expected = changed(row.code, "a", focused ? 100 + BROWSER : 0, row.event);
                const std::string option = std::string("-opts=") + row.label + "\t-optdel=,\t";
                if (announce == 1)
                    expected.insert(expected.end() - 1,
                                    {osd(0, "0", 40, 0x4000, 1, option),
                                     osd(0, "0", 40, 0x4000, 0, option), "flash save_commit"});
                EXPECT_EQ(expected, journal.lines()) << row.code << ", " << focused << announce;
                EXPECT_EQ(announce == 1 && !focused,
                          err.find("WARNING!: get_current_apps [5322] \n") != std::string::npos)
                    << err;
            }
        }
    }
}

// No framework pipe to open: said, and the change goes on (the FIFO-only open and the whole write
// are the file helpers').
TEST_F(ChangeTvmode, WithoutTheFrameworkPipeTheChangeGoesOn) {
    remove_file("/tmp/kvn_framework_pipe");
    EXPECT_TRUE(has(captured_stderr([] { change_tvmode(5, 0); }), {"fopen pipe failed"}));
    EXPECT_EQ(5, smpoutd_stub_last_code());
    EXPECT_EQ(1, kvn::notify_tvmode_change(nullptr));
}

}  // namespace
