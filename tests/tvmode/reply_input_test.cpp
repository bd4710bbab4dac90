// The replies to the main user-interface application on /tmp/tolu_cgi, whose reader reopens its
// end between two messages, is slow, or has gone.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"
#include "tvmode/menu_selection.h"

namespace {

using namespace kvn_test;

enum Route { kCommand, kChoice, kHdmi };
enum Reader { kMissing, kLate, kNever };

// A reader that reopens its end late (0.5 s of player time) is waited for; one away past 3 s loses
// the reply, with one warning naming it. Never created.
TEST(ReplyInput, EveryRouteWaitsForALateReaderAndNoLonger) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(10);
    start_display();
    smpoutd_stub_set_auto_name(nullptr);
    const std::string kLost = "open error!!!! line 454 \n";
    const char *named[] = {"the command \"tv=720p60\"", "\"tv=1080p\"", "\"tv=auto\""};
    const struct {
        Route route;
        Reader reader;
        std::vector<int> codes;
        const char *reply;  // with its NUL byte
        int result;
    } rows[] = {{kCommand, kLate, {5}, "tv=720p", 0}, {kCommand, kNever, {}, "", 0},
                {kCommand, kMissing, {}, "", 0},      {kChoice, kLate, {11}, "tv=1080p", 0},
                {kChoice, kNever, {}, "", -1},        {kChoice, kMissing, {}, "", -1},
                {kHdmi, kLate, {}, "tv=auto", 0},     {kHdmi, kNever, {}, "", 0},
                {kHdmi, kMissing, {}, "", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        remove_file("/tmp/tolu_cgi");
        write_file("/tmp/hdmi_changed", "");
        write_file("/tmp/tvmode", "0\n");
        smpoutd_stub_clear();
        if (row.reader != kMissing) mkfifo("/tmp/tolu_cgi", 0622);
        std::string got;
        std::thread application([&] {  // opens its end after 50 ms, reads until a reply came
            if (row.reader != kLate) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            int reader = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
            for (int i = 0; i < 300 && got.find('\0') == std::string::npos; ++i) {
                usleep(10000);
                got += drain(reader);
            }
            close(reader);
        });
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        testing::internal::CaptureStdout();
        const std::string err = captured_stderr([&] {
            if (row.route == kCommand) {
                send_mode_command("tv=720p60\n");
                check_tvmode_fifo();
            }
            if (row.route == kChoice) result = kvn::apply_tvmode_selection(12, 1);
            if (row.route == kHdmi) result = check_hdmi_state_changed();
        });
        EXPECT_EQ(row.result < 0 ? kLost : "", testing::internal::GetCapturedStdout());
        const auto took = std::chrono::steady_clock::now() - start;
        application.join();
        EXPECT_EQ(row.codes, daemon_codes());
        EXPECT_EQ(*row.reply ? row.reply + std::string(1, '\0') : "", got);
        EXPECT_EQ(row.result, result);
        EXPECT_EQ(row.reader == kNever, has(err, {named[row.route], "is lost"})) << err;
        const int least_ms = row.reader == kLate ? 45 : row.reader == kNever ? 295 : 0;
        EXPECT_GE(took, std::chrono::milliseconds(least_ms));
        EXPECT_LT(took, std::chrono::milliseconds(2000));
        EXPECT_EQ(row.reader != kMissing, exists("/tmp/tolu_cgi")) << "never created";
        EXPECT_EQ(row.route == kHdmi, !exists("/tmp/hdmi_changed")) << "removed";
    }
    kvn_set_time_divisor(1);
}

}  // namespace
