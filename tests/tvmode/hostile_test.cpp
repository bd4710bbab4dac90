// Files and pipes under /tmp as a hostile or broken neighbour leaves them:
// FIFOs and folders where small files belong, links planted towards other
// files, pipes that are full, split or flooded, numbers out of range.  What
// counts is what the platform saw: the daemon's codes, the bytes in the
// pipes, the files left on disk, the messages on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "keys/keys_internal.h"
#include "kvn_app_harness.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"
#include "smpoutd_api.h"
#include "tvmode/mode_parse.h"
#include "tvmode/tvmode_internal.h"
#include "tvmode/value_file.h"

namespace {

using kvn_test::exists;
using kvn_test::read_file;
using kvn_test::stored;
using kvn_test::write_file;

// A call that blocks ends the test program instead of hanging it.
struct Watchdog {
    explicit Watchdog(unsigned seconds) { alarm(seconds); }
    ~Watchdog() { alarm(0); }
};

void clear_path(const std::string &path) { (void)system(("rm -rf " + path).c_str()); }

// Everything readable now on a non-blocking descriptor.
std::string drain(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

// Fills a pipe through a new non-blocking writer until it takes no more.
void fill_pipe(const char *path) {
    int fd = open(path, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << path;
    std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, "x", 1) > 0) {
    }
    close(fd);
}

// /tmp/tolu_cgi as the user-interface application keeps it: a FIFO with a
// reader, so that every reply can be counted.
int reply_reader() {
    clear_path("/tmp/tolu_cgi");
    EXPECT_EQ(0, mkfifo("/tmp/tolu_cgi", 0622));
    return open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_test::start_display();
        smpoutd_stub_set_auto_name(nullptr);  // the stand-in's own write of /tmp/tvname would block on a FIFO
        drain(kvn_command_pipe);
        smpoutd_stub_clear();
    }
    std::string events() { return drain(kvn_command_pipe); }
};

struct Plant {
    const char *what;
    std::function<void(const std::string &)> make;
};

const Plant kSpecialFiles[] = {
    {"a FIFO without a writer", [](const std::string &p) { mkfifo(p.c_str(), 0666); }},
    {"a folder", [](const std::string &p) { mkdir(p.c_str(), 0777); }},
    {"a link to a FIFO",
     [](const std::string &p) {
         mkfifo("/tmp/elsewhere.fifo", 0666);
         symlink("/tmp/elsewhere.fifo", p.c_str());
     }},
    {"a link to an endless device", [](const std::string &p) { symlink("/dev/zero", p.c_str()); }},
};

TEST_F(Hostile, SpecialFilesWhereSmallFilesBelongReadAsMissingAndNothingWaits) {
    Watchdog watchdog(60);
    write_var("video_output", "0", 0);
    for (const Plant &plant : kSpecialFiles) {
        SCOPED_TRACE(plant.what);
        clear_path("/tmp/tvmode");
        clear_path("/tmp/tvname");
        clear_path("/tmp/elsewhere.fifo");
        plant.make("/tmp/tvmode");
        plant.make("/tmp/tvname");
        EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode"));
        EXPECT_EQ(-1, check_hdmi_state_changed());
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, write_value_to_file("/tmp/tvmode", 5));
        EXPECT_EQ(0, init_video_config(nullptr));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("refusing to write /tmp/tvmode")) << err;
        testing::internal::CaptureStdout();
        VideoOutputOnOff(1, nullptr);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(-1, smpoutd_stub_last_code()) << "reads as a missing file";
        change_tvmode(0, 0);
        EXPECT_EQ("", events()) << "no name from the output side";
        EXPECT_EQ(0, smpoutd_stub_last_code());
        kvn_confirm_virtual_screensize();
        struct stat st;
        ASSERT_EQ(0, lstat("/tmp/tvmode", &st));
        EXPECT_FALSE(S_ISREG(st.st_mode)) << "left as it was";
    }
    // The mount list: a FIFO must not hold up the standby's spin-down.
    clear_path("/etc/mtab");
    ASSERT_EQ(0, mkfifo("/etc/mtab", 0644));
    kvn_test::clear_fake_calls();
    EXPECT_EQ(0, spin_down_disks());
    EXPECT_TRUE(kvn_test::fake_calls().empty());
}

TEST_F(Hostile, NothingIsWrittenThroughALinkOrIntoAFileOfTheWrongKind) {
    Watchdog watchdog(60);
    const std::string victim = "/opt/victim";
    const std::string hard = "/tmp/.victim";  // a hard link needs the same file system
    struct Row {
        const char *path;
        std::function<void()> write;
    } rows[] = {
        {"/tmp/tvmode", [] { write_value_to_file("/tmp/tvmode", 5); }},
        {"/tmp/tvmode", [] { change_tvmode(7, 0); }},
        {"/tmp/kvn_framework_pipe", [] { EXPECT_EQ(1, notify_tvmode_change("<tvmode>x</tvmode>")); }},
        {"/tmp/tolu_cgi", [] { EXPECT_EQ(-1, apply_tvmode_selection(10, 2)); }},
        {"/tmp/cdpipe", [] { write_cdrom_pipe(1); }},
        {"/tmp/wait_to_reboot",
         [] {
             check_standby_power_keys(DIKS_POWER);
             check_standby_power_keys(DIKS_EJECT);
         }},
    };
    for (const Row &row : rows) {
        for (const char *kind : {"link", "dangling link", "hard link"}) {
            SCOPED_TRACE(std::string(row.path) + " as a " + kind);
            clear_path(row.path);
            clear_path("/opt/created-through-a-link");
            write_file(victim, "precious\n");
            write_file(hard, "precious\n");
            if (std::string(kind) == "link") symlink(victim.c_str(), row.path);
            if (std::string(kind) == "dangling link") symlink("/opt/created-through-a-link", row.path);
            if (std::string(kind) == "hard link") link(hard.c_str(), row.path);
            testing::internal::CaptureStderr();
            row.write();
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ("precious\n", read_file(victim));
            EXPECT_EQ("precious\n", read_file(hard));
            EXPECT_FALSE(exists("/opt/created-through-a-link"));
            EXPECT_NE(std::string::npos, err.find("refusing to write")) << err;
        }
    }
    // The event line belongs in the FIFO only: a missing one is not made, a
    // plain file is not truncated.
    clear_path("/tmp/kvn_framework_pipe");
    EXPECT_EQ(1, notify_tvmode_change(nullptr));
    EXPECT_FALSE(exists("/tmp/kvn_framework_pipe"));
    write_file("/tmp/kvn_framework_pipe", "someone's file\n");
    testing::internal::CaptureStderr();
    change_tvmode(5, 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ("someone's file\n", read_file("/tmp/kvn_framework_pipe"));
    EXPECT_EQ(5, smpoutd_stub_last_code()) << "the mode changes all the same";
}

TEST_F(Hostile, ModeCommandsAreLinesOnePerCallInOrder) {
    Watchdog watchdog(60);
    int replies = reply_reader();
    ASSERT_GE(replies, 0);
    const std::string burst = [] {
        std::string s;
        for (int i = 0; i < 20; ++i) s += i % 2 ? "tv=576i\n" : "tv=480i\n";
        return s;
    }();
    struct Row {
        const char *what;
        std::vector<std::string> writes;  // by one writer that keeps the pipe open between them
        std::vector<int> codes;
        std::string saved;
    } rows[] = {
        {"a command split across two writes", {"tv=10", "80i50\n"}, {8}, "none"},
        {"a one-byte first write", {"t", "v=720p60\n"}, {5}, "none"},
        {"two commands in one write, save in the second's line", {"tv=720p60\ntv=576i save\n"}, {5, 2}, "2"},
        {"a burst of twenty", {burst}, std::vector<int>(20, 0), "none"},
        {"an over-long line is dropped whole",
         {std::string(60, 'a') + "tv=720p50 save\n", "tv=480i\n"}, {1}, "none"},
        {"the last line of a writer that closes without a line end", {"tv=1080p24 save"}, {11}, "11"},
        {"an over-long line with no end at all", {std::string(200, 'a') + "tv=720p50"}, {}, "none"},
    };
    for (int i = 0; i < 20; ++i) rows[3].codes[static_cast<size_t>(i)] = i % 2 ? 2 : 1;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        write_var("video_output", "none", 0);
        smpoutd_stub_clear();
        drain(replies);
        int writer = open("/tmp/display", O_WRONLY | O_NONBLOCK);
        ASSERT_GE(writer, 0);
        testing::internal::CaptureStderr();
        for (const std::string &chunk : row.writes) {
            ASSERT_EQ(static_cast<ssize_t>(chunk.size()), write(writer, chunk.data(), chunk.size()));
            check_tvmode_fifo();
        }
        close(writer);
        for (int call = 0; call < 25; ++call) check_tvmode_fifo();
        testing::internal::GetCapturedStderr();
        std::vector<int> codes;
        for (int c = 0; c < smpoutd_stub_count(); ++c) codes.push_back(smpoutd_stub_code(c));
        EXPECT_EQ(row.codes, codes);
        EXPECT_EQ(row.saved, stored("video_output"));
        size_t nul_bytes = 0;
        for (char c : drain(replies)) nul_bytes += c == '\0';
        EXPECT_EQ(row.codes.size(), nul_bytes) << "one reply per command";
    }
    // Two application loops polling at once still take the burst in order.
    smpoutd_stub_clear();
    std::atomic<bool> polling{true};
    auto poll = [&] {
        while (polling) check_tvmode_fifo();
    };
    std::thread first(poll), second(poll);
    int writer = open("/tmp/display", O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(static_cast<ssize_t>(burst.size()), write(writer, burst.data(), burst.size()));
    close(writer);
    kvn_test::eventually([] { return smpoutd_stub_count() >= 20; });
    polling = false;
    first.join();
    second.join();
    std::vector<int> codes;
    for (int c = 0; c < smpoutd_stub_count(); ++c) codes.push_back(smpoutd_stub_code(c));
    EXPECT_EQ(rows[3].codes, codes);
    close(replies);
}

TEST_F(Hostile, APolledModeFileIsReadAgainWhateverTheRewrite) {
    // Rewrites of the same size, each right after the last read.
    for (int i = 0; i < 200; ++i) {
        write_file("/tmp/tvmode", i % 2 ? "7\n" : "5\n");
        ASSERT_EQ(i % 2 ? 7 : 5, get_value_from_file("/tmp/tvmode")) << i;
        ASSERT_EQ(i % 2 ? 7 : 5, check_hdmi_state_changed()) << i;
    }
    clear_path("/tmp/tvmode");
    EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode"));
    write_file("/tmp/tvmode", "");
    EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode"));
}

TEST_F(Hostile, FullPipesAndStuckMarkersAreHandledOnceAndSaidSo) {
    Watchdog watchdog(60);
    // The reply waits for room in a full FIFO instead of being lost.
    int replies = reply_reader();
    ASSERT_GE(replies, 0);
    fill_pipe("/tmp/tolu_cgi");
    int writer = open("/tmp/display", O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(10, write(writer, "tv=720p60\n", 10));
    close(writer);
    std::string received;
    std::thread application([&] {
        usleep(200000);
        for (int i = 0; i < 100 && received.find(std::string("tv=720p\0", 8)) == std::string::npos; ++i) {
            received += drain(replies);
            usleep(10000);
        }
    });
    check_tvmode_fifo();
    application.join();
    EXPECT_EQ(5, smpoutd_stub_last_code());
    EXPECT_NE(std::string::npos, received.find(std::string("tv=720p\0", 8)));

    // An event line that finds the framework pipe full is reported, not
    // counted as written.
    fill_pipe("/tmp/kvn_framework_pipe");
    testing::internal::CaptureStderr();
    EXPECT_EQ(1, notify_tvmode_change("<tvmode>720p 60Hz</tvmode>"));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("not written"));
    events();

    // A marker that cannot be removed is answered once, not at every poll.
    write_file("/tmp/tvmode", "0\n");
    drain(replies);
    ASSERT_EQ(0, mkdir("/tmp/hdmi_changed", 0755));
    testing::internal::CaptureStderr();
    for (int poll = 0; poll < 3; ++poll) EXPECT_NE(0, check_hdmi_state_changed());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string("tv=auto\0", 8), drain(replies));
    EXPECT_NE(std::string::npos, err.find("cannot remove")) << err;
    rmdir("/tmp/hdmi_changed");
    write_file("/tmp/hdmi_changed", "");
    EXPECT_EQ(0, check_hdmi_state_changed()) << "a new marker is answered again";
    EXPECT_EQ(std::string("tv=auto\0", 8), drain(replies));
    EXPECT_FALSE(exists("/tmp/hdmi_changed"));
    close(replies);
}

TEST(HostileNumbers, OneParserAndNothingBeyondIntIsAValue) {
    struct Row {
        std::string text;
        int value;
    } rows[] = {
        {"7\n", 7},       {"", -1},        {std::string("\0" "5", 2), -1}, {"abc", 0},
        {"  \t12x", 12},  {"-1\n", -1},    {"+28", 28},                     {"1234567890123", 1234567890},
        {"000000000012", 0}, {std::string("12\0" "34", 5), 12},             {"2147483647", INT_MAX},
        {"2147483648", -1}, {"4294967301", -1}, {"9999999999", -1},       {"-2147483648", -214748364},
        {"-999999999999", -999999999},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.value, kvn_parse_value_text(row.text.data(), row.text.size())) << row.text;
    EXPECT_EQ(-1, kvn_parse_value_text(nullptr, 0));
}

TEST_F(Hostile, StoredNumbersBeyondIntAreNoValue) {
    // 4294967301 is 5 once wrapped into an int.
    write_var("video_output", "4294967301", 0);
    clear_path("/tmp/tvmode");
    init_video_config(nullptr);
    EXPECT_EQ("0\n", read_file("/tmp/tvmode")) << "seeded as if nothing were stored";
    EXPECT_EQ("0", stored("video_output"));
    write_var("video_output", "4294967301", 0);
    write_var("tv_system", "PAL", 0);
    SwitchTvSystem();
    EXPECT_EQ("4294967301", stored("video_output")) << "no value: nothing to switch";
    EXPECT_EQ("PAL", stored("tv_system"));
    EXPECT_EQ(0, smpoutd_stub_count());
}

TEST_F(Hostile, TheWakeUpAlwaysBringsAPictureBack) {
    struct Row {
        const char *file;    // null: no /tmp/tvmode
        const char *stored;  // null: nothing usable stored
        int code;
    } rows[] = {
        {nullptr, nullptr, -1},  // as ever: what a missing file reads as
        {"", "9", -1},          {"-1\n", "9", -1},     {"7\n", "9", 7},     {"0\n", nullptr, 0},
        {"22\n", nullptr, 22},  {"28\n", "9", 9},      {"28\n", nullptr, 0}, {"-5\n", "10", 10},
        {"15\n", "6", 6},       {"99999999999\n", nullptr, 0}, {"28\n", "28", 0}, {"28\n", "4294967301", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.file ? row.file : "(none)") + " / " + (row.stored ? row.stored : "(none)"));
        clear_path("/tmp/tvmode");
        if (row.file != nullptr) write_file("/tmp/tvmode", row.file);
        write_var("video_output", row.stored ? row.stored : "", 0);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        VideoOutputOnOff(1, nullptr);
        testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(row.code, smpoutd_stub_last_code());
        EXPECT_EQ(row.file ? row.file : "", read_file("/tmp/tvmode")) << "the file is left as it is";
    }
}

TEST(HostileText, ACutNeverSplitsACharacter) {
    struct Row {
        std::string text;
        size_t limit, kept;
    } rows[] = {
        {"Frequency  50hz", 12, 12},
        {"ab\xc3\xa9", 3, 2},            {"ab\xc3\xa9", 4, 4},
        {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 4, 3},  {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 5, 3},
        {"\xe9\xa2\x91\xe7\x8e\x87  50hz", 6, 6},  {"a\xf0\x9f\x93\xba", 4, 1},
        {"a\xf0\x9f\x93\xba", 5, 5},     {"\x80\x80\x80", 2, 2},
    };
    for (const Row &row : rows) EXPECT_EQ(row.kept, kvn::utf8_cut(row.text.data(), row.limit)) << row.text;
}

TEST(HostileStart, LayerCallsBeforeStartUpFailWithAMessage) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "0", 0);
    write_file("/tmp/tvname", "1080i59\n");
    testing::internal::CaptureStderr();
    kvn_confirm_virtual_screensize();
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config;
    IDirectFBSurface *surface = nullptr;
    EXPECT_EQ(-1, kvn_layer_background_init(kvn_dfb_global_context.kvn_dfb, &layer, &config, &surface));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("kvn_confirm_virtual_screensize")) << err;
    EXPECT_NE(std::string::npos, err.find("kvn_layer_background_init")) << err;
}

TEST(HostileStart, PlantedPipePathsAreNotFollowedAndAreReportedOnce) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_EQ(0, mkdir("/tmp/display", 0777));
    ASSERT_EQ(0, symlink("/opt/created-through-a-link", "/tmp/kvn_framework_pipe"));
    testing::internal::CaptureStderr();
    kvn_test::start_display();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(-1, outport_pipe);
    EXPECT_NE(std::string::npos, err.find("/tmp/display")) << err;
    EXPECT_NE(std::string::npos, err.find("/tmp/kvn_framework_pipe")) << err;
    EXPECT_FALSE(exists("/opt/created-through-a-link"));
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) check_tvmode_fifo();
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "said once, at start-up";
    // No program the application starts inherits the pipe it did open.
    ASSERT_GE(kvnupnp_key_pipe, 0);
    EXPECT_TRUE(fcntl(kvnupnp_key_pipe, F_GETFD) & FD_CLOEXEC);
}

}  // namespace
