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
                  for (int i = 0; i < 300 && got_.find('\0', before) == std::string::npos; ++i) {
                      usleep(10000);
                      got_ += drain(fd);
                  }
                  close(fd);
                  ++closed_;
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

enum Route { kCommand, kChoice, kRevert, kHdmi };
enum Reader { kMissing, kLate, kNever, kLink };

class ReplyInput : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(10);
        smpoutd_stub_set_auto_name(nullptr);
        browser_ = std::make_unique<App>(BROWSER);
    }
    void TearDown() override {
        browser_.reset();
        kvn_set_time_divisor(1);
    }
    // The countdown's return: to the automatic mode from 720p at 50 Hz, once the choice's reader
    // has gone.
    int run(Route route, const ReplyReader &application) {
        if (route == kCommand) {
            send("tv=720p60\n");
            check_tvmode_fifo();
            return 0;
        }
        if (route == kChoice) return kvn::apply_tvmode_selection(12, 1);
        if (route == kHdmi) {
            write_file("/tmp/tvmode", "0\n");
            write_file("/tmp/hdmi_changed", "");
            return check_hdmi_state_changed();
        }
        write_var("video_output", "0", 0);
        for (DFBInputDeviceKeySymbol key :
             {DIKS_CURSOR_RIGHT, DIKS_RETURN, DIKS_RETURN, DIKS_RETURN})
            browser_->press(key);
        int result = -1;
        std::thread menu([&] { result = kvn_tvmode(&browser_->record); });
        eventually([&] { return application.closed() > 0 || !exists("/tmp/tolu_cgi"); });
        browser_->press(DIKS_BACKSPACE);
        menu.join();
        return result;
    }
    std::unique_ptr<App> browser_;
};

// Every route waits for a reader that comes late (0.5 s of player time) and is carried out; one
// that stays away past 3 s loses the reply, with one warning naming it, and nothing changes. A
// missing input fails at once and is never created; a link is never written through.
TEST_F(ReplyInput, EveryRouteWaitsForALateReaderAndNoLonger) {
    const std::string kLost = "open error!!!! line 454 \n";
    const char *named[] = {"the command \"tv=720p60\"", "\"tv=1080p\"", "\"tv=auto\"",
                           "\"tv=auto\""};
    const struct {
        Route route;
        Reader reader;
        std::vector<int> codes;
        Lines replies;
        int result;
        std::string printed;
    } rows[] = {{kCommand, kLate, {5}, {"tv=720p"}, 0, ""},
                {kCommand, kNever, {}, {}, 0, ""},
                {kCommand, kMissing, {}, {}, 0, ""},
                {kChoice, kLate, {11}, {"tv=1080p"}, 0, ""},
                {kChoice, kNever, {}, {}, -1, kLost},
                {kChoice, kMissing, {}, {}, -1, kLost},
                {kChoice, kLink, {}, {}, -1, kLost},
                {kRevert, kLate, {6, 0}, {"tv=720p", "tv=auto"}, 0, ""},
                {kRevert, kNever, {6}, {"tv=720p"}, 0, kLost},
                {kRevert, kMissing, {}, {}, 0, kLost + kLost},
                {kHdmi, kLate, {}, {"tv=auto"}, 0, ""},
                {kHdmi, kNever, {}, {}, 0, ""},
                {kHdmi, kMissing, {}, {}, 0, ""}};
    for (const auto &row : rows) {
        const std::string name =
            "route " + std::to_string(row.route) + ", reader " + std::to_string(row.reader);
        remove_file("/tmp/tolu_cgi");
        remove_file("/tmp/hdmi_changed");
        smpoutd_stub_clear();
        write_file("/opt/victim", "precious\n");
        if (row.reader == kLate || row.reader == kNever) {
            ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622)) << name;
        }
        if (row.reader == kLink) {
            ASSERT_EQ(0, symlink("/opt/victim", "/tmp/tolu_cgi")) << name;
        }
        std::vector<int> gaps;
        if (row.route == kRevert && row.reader != kMissing) gaps.push_back(0);
        if (row.reader == kLate) gaps.push_back(50);
        ReplyReader application(gaps);
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        testing::internal::CaptureStdout();
        const std::string err = captured_stderr([&] { result = run(row.route, application); });
        const std::string printed = testing::internal::GetCapturedStdout();
        const auto took = std::chrono::steady_clock::now() - start;
        std::vector<int> codes;
        for (int i = 0; i < smpoutd_stub_count(); ++i) codes.push_back(smpoutd_stub_code(i));
        EXPECT_EQ(row.codes, codes) << name;
        EXPECT_EQ(row.replies, application.replies()) << name;
        EXPECT_EQ(row.result, result) << name;
        EXPECT_EQ(row.printed, printed) << name;
        const bool lost = has(err, {named[row.route], "is lost"});
        EXPECT_EQ(row.reader == kNever, lost) << name << ": " << err;
        const int least_ms = row.reader == kLate ? 45 : row.reader == kNever ? 295 : 0;
        EXPECT_GE(took, std::chrono::milliseconds(least_ms)) << name;
        EXPECT_LT(took, std::chrono::milliseconds(2000)) << name;
        EXPECT_EQ(row.reader != kMissing, exists("/tmp/tolu_cgi")) << name << ": never created";
        EXPECT_EQ("precious\n", read_file("/opt/victim")) << name;
    }
}

// A reader behind (the pipe full) is waited for until there is room.
TEST_F(ReplyInput, AReplyWaitsForRoomInAFullPipe) {
    remove_file("/tmp/tolu_cgi");
    ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622));
    const int replies = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
    const int full = open("/tmp/tolu_cgi", O_WRONLY | O_NONBLOCK);
    while (write(full, "x", 1) > 0) continue;
    close(full);
    send("tv=720p60\n");
    const std::string reply("tv=720p\0", 8);
    std::string received;
    std::thread application([&] {  // reads only after a while, then until the reply came
        usleep(200000);
        for (int i = 0; i < 100 && received.find(reply) == std::string::npos; ++i) {
            received += drain(replies);
            usleep(10000);
        }
    });
    smpoutd_stub_clear();
    check_tvmode_fifo();
    application.join();
    close(replies);
    EXPECT_EQ(5, smpoutd_stub_last_code());
    EXPECT_EQ(std::string(65536, 'x') + reply, received);
}

}  // namespace
