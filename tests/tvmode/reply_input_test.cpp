// The replies to the main user-interface application on /tmp/tolu_cgi, whose reader reopens its
// end between two messages, is slow, or has gone.
#include <gtest/gtest.h>

#include "kvn_menu_harness.h"
#include "tvmode/menu_selection.h"

namespace {

using namespace kvn_test;
using Lines = std::vector<std::string>;

// The user interface's end as a program that reopens it for each message keeps it: opened after
// each gap (real milliseconds from its last close) until one reply came, then closed.
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
    Lines replies() {
        thread_.join();
        Lines out;
        for (size_t end; (end = got_.find('\0')) != std::string::npos; got_.erase(0, end + 1))
            out.push_back(got_.substr(0, end));
        return out;
    }

  private:
    std::string got_;
    std::atomic<int> closed_{0};
    std::thread thread_;
};

void send(const char *command) {
    int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(static_cast<ssize_t>(strlen(command)), write(fd, command, strlen(command)));
    close(fd);
}

enum Reader { kMissing, kLate, kNever };

// Every route waits for a reader that comes late (0.5 s of player time) and is carried out; one
// that stays away past 3 s loses the reply, with one warning naming it, and nothing changes. A
// missing input fails at once and is never created.
TEST(ReplyInput, EveryRouteWaitsForALateReaderAndNoLonger) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(10);
    smpoutd_stub_set_auto_name(nullptr);
    App browser(BROWSER);
    struct Route {
        const char *named;  // in the warning
        bool earlier;       // a reply before, to a reader there at once
        std::function<int(const ReplyReader &)> run;
    };
    const std::map<std::string, Route> routes = {
        {"mode command",
         {"the command \"tv=720p60\"", false,
          [](const ReplyReader &) {
              send("tv=720p60\n"), check_tvmode_fifo();
              return 0;
          }}},
        {"menu choice",
         {"\"tv=1080p\"", false,
          [](const ReplyReader &) { return kvn::apply_tvmode_selection(12, 1); }}},
        {"countdown revert",
         {"\"tv=auto\"", true,
          [&](const ReplyReader &application) {
              // to the automatic mode from 720p at 50 Hz, once the choice's
              // reader has gone
              write_var("video_output", "0", 0);
              for (DFBInputDeviceKeySymbol key :
                   {DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
                  browser.press(key);
              int result = -1;
              std::thread menu([&] { result = kvn_tvmode(&browser.record); });
              eventually([&] { return application.closed() > 0 || !exists("/tmp/tolu_cgi"); });
              browser.press(DIKS_BACKSPACE);
              menu.join();
              return result;
          }}},
        {"HDMI answer", {"\"tv=auto\"", false, [](const ReplyReader &) {
                             write_file("/tmp/tvmode", "0\n"), write_file("/tmp/hdmi_changed", "");
                             return check_hdmi_state_changed();
                         }}}};
    const char *const kLost = "open error!!!! line 454 \n";
    const struct {
        const char *route;
        Reader reader;
        std::vector<int> codes;
        Lines replies;
        int result;
        std::string printed;
    } rows[] = {{"mode command", kLate, {5}, {"tv=720p"}, 0, ""},
                {"mode command", kNever, {}, {}, 0, ""},
                {"mode command", kMissing, {}, {}, 0, ""},
                {"menu choice", kLate, {11}, {"tv=1080p"}, 0, ""},
                {"menu choice", kNever, {}, {}, -1, kLost},
                {"menu choice", kMissing, {}, {}, -1, kLost},
                {"countdown revert", kLate, {6, 0}, {"tv=720p", "tv=auto"}, 0, ""},
                {"countdown revert", kNever, {6}, {"tv=720p"}, 0, kLost},
                {"countdown revert", kMissing, {}, {}, 0, kLost + std::string(kLost)},
                {"HDMI answer", kLate, {}, {"tv=auto"}, 0, ""},
                {"HDMI answer", kNever, {}, {}, 0, ""},
                {"HDMI answer", kMissing, {}, {}, 0, ""}};
    for (const auto &row : rows) {
        const Route &route = routes.at(row.route);
        const std::string name = std::string(row.route) + ", reader " +
                                 (row.reader == kLate    ? "late"
                                  : row.reader == kNever ? "never"
                                                         : "missing");
        remove_file("/tmp/tolu_cgi"), remove_file("/tmp/hdmi_changed"), smpoutd_stub_clear();
        if (row.reader != kMissing) ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622)) << name;
        std::vector<int> gaps;
        if (route.earlier && row.reader != kMissing) gaps.push_back(0);
        if (row.reader == kLate) gaps.push_back(50);
        ReplyReader application(gaps);
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        std::string err;
        testing::internal::CaptureStdout();
        err = captured_stderr([&] { result = route.run(application); });
        const std::string printed = testing::internal::GetCapturedStdout();
        const auto took = std::chrono::steady_clock::now() - start;
        std::vector<int> codes;
        for (int i = 0; i < smpoutd_stub_count(); ++i) codes.push_back(smpoutd_stub_code(i));
        EXPECT_EQ(row.codes, codes) << name;
        EXPECT_EQ(row.replies, application.replies()) << name;
        EXPECT_EQ(row.result, result) << name;
        EXPECT_EQ(row.printed, printed) << name;
        EXPECT_EQ(row.reader == kNever, static_cast<bool>(has(err, {route.named, "is lost"})))
            << name << ": " << err;
        const int least_ms = row.reader == kLate ? 45 : row.reader == kNever ? 295 : 0;
        EXPECT_GE(took, std::chrono::milliseconds(least_ms)) << name;
        EXPECT_LT(took, std::chrono::milliseconds(2000)) << name;
        EXPECT_EQ(row.reader != kMissing, exists("/tmp/tolu_cgi")) << name << ": never created";
    }
    kvn_set_time_divisor(1);
}

// A reader behind (the pipe full) is waited for until there is room.
TEST(ReplyInput, AReplyWaitsForRoomInAFullPipe) {
    KVN_REQUIRE_SANDBOX();
    start_display();
    remove_file("/tmp/tolu_cgi");
    ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622));
    const int replies = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
    const int full = open("/tmp/tolu_cgi", O_WRONLY | O_NONBLOCK);
    while (write(full, "x", 1) > 0) continue;
    close(full);
    send("tv=720p60\n");
    std::string received;
    std::thread application([&] {  // reads only after a while, then until the reply came
        usleep(200000);
        for (int i = 0; i < 100 && received.find(std::string("tv=720p\0", 8)) == std::string::npos;
             ++i)
            received += drain(replies), usleep(10000);
    });
    smpoutd_stub_clear();
    check_tvmode_fifo();
    application.join();
    close(replies);
    EXPECT_EQ(5, smpoutd_stub_last_code());
    EXPECT_EQ(std::string(65536, 'x') + std::string("tv=720p\0", 8), received);
}

}  // namespace
