// Numbers in the small files under /tmp, and those files as a hostile or broken neighbour leaves
// them.
#include "tvmode/value_file.h"

#include <gtest/gtest.h>
#include <limits.h>

#include "keys/standby.h"
#include "keys/standby_keys.h"
#include "kvn_menu_harness.h"
#include "tvmode/change_tvmode.h"
#include "tvmode/menu_selection.h"

namespace {

using namespace kvn_test;
using namespace std::string_literals;

class ValueFile : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        start_display();
    }
};

void clear_path(const std::string &path) { (void)system(("rm -rf " + path).c_str()); }

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
                {"9999999999", -1},
                {"-2147483648", -214748364},
                {"-999999999999", -999999999},
                {"\r5", 5},
                {"\0165"s, 0},
                {"-", 0}};
    for (const auto &row : rows) {
        write_file("/tmp/value", row.text), write_file("/tmp/tvmode", row.text);
        EXPECT_EQ(row.value, get_value_from_file("/tmp/value")) << row.text;
        EXPECT_EQ(row.value, get_value_from_file("/tmp/tvmode")) << row.text << " (polled)";
        EXPECT_EQ(row.value, kvn::parse_value_text(row.text.data(), row.text.size())) << row.text;
    }
    ASSERT_EQ(0, mkdir("/tmp/folder", 0755));
    EXPECT_EQ(-1, get_value_from_file("/tmp/missing"));
    EXPECT_EQ(-1, get_value_from_file("/tmp/folder"));
    EXPECT_EQ(-1, get_value_from_file(nullptr));
}

// The polled /tmp/tvmode is kept between reads: every rewrite is seen, even of the same size right
// after a read.
TEST_F(ValueFile, APolledModeFileIsReadAgainWhateverTheRewrite) {
    for (int i = 0; i < 200; ++i) {
        write_file("/tmp/tvmode", i % 2 ? "7\n" : "5\n");
        ASSERT_EQ(5 + 2 * (i % 2), get_value_from_file("/tmp/tvmode")) << i;
        ASSERT_EQ(5 + 2 * (i % 2), check_hdmi_state_changed()) << i;
    }
    clear_path("/tmp/tvmode");
    EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode"));
}

TEST_F(ValueFile, WritesOnlyWhatTheShellCouldHavePassedSafely) {
    const struct {
        const char *path;  // "echo "5" > " leaves 19 characters for it
        int value, result;
        const char *content;  // null: nothing made
    } rows[] = {
        {"/tmp/tvmode", 5, 0, "5\n"},
        {"/tmp/tvmode", -1, 0, "-1\n"},
        {"/tmp/aAzZ09._-", 4, 0, "4\n"},
        {"/tmp/abcdefghijklmn", 5, 0, "5\n"},
        {"/tmp/abcdefghijklmno", 5, -1, nullptr},
        {"/tmp/abcdefghijklmn", 10, -1, nullptr},
        {"/tmp/a-b_c.d/../x", 3, 512, nullptr},  // what the shell gives when it cannot create
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
        const std::string name = row.path ? row.path : "null";
        if (row.content) clear_path(row.path);
        int result = 0;
        const std::string err =
            captured_stderr([&] { result = write_value_to_file(row.path, row.value); });
        EXPECT_EQ(row.result, result) << name;
        if (row.content) EXPECT_EQ(row.content, read_file(row.path)) << name;
        EXPECT_EQ(row.result != 0, err.find("write_value_to_file") != std::string::npos)
            << name << ": " << err;
        // One line, every control byte escaped: nothing of the path acts on the terminal.
        const auto control = std::count_if(
            err.begin(), err.end(), [](char c) { return iscntrl(static_cast<unsigned char>(c)); });
        EXPECT_EQ(row.result != 0 ? 1 : 0, control) << name << ": " << err;
    }
    for (const char *made : {"/tmp/pwned", "/tmp/x", "/tmp/a", "/tmp/abcdefghijklmno"})
        EXPECT_FALSE(exists(made)) << made;
}

// A FIFO without a writer, a folder, a link to a FIFO or to an endless device where /tmp/tvmode and
// /tmp/tvname belong: read as missing, never written, left as they are.
TEST_F(ValueFile, SpecialFilesWhereSmallFilesBelongReadAsMissing) {
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
        for (const char *path : {"/tmp/tvmode", "/tmp/tvname", "/tmp/elsewhere.fifo"})
            clear_path(path);
        plant.make("/tmp/tvmode"), plant.make("/tmp/tvname"), smpoutd_stub_clear();
        EXPECT_EQ(-1, get_value_from_file("/tmp/tvmode")) << plant.what;
        EXPECT_EQ(-1, check_hdmi_state_changed()) << plant.what;
        const std::string err = captured_stderr([] {
            EXPECT_EQ(-1, write_value_to_file("/tmp/tvmode", 5));
            EXPECT_EQ(0, init_video_config(nullptr));
        });
        EXPECT_TRUE(has(err, {"refusing to write /tmp/tvmode"})) << plant.what;
        testing::internal::CaptureStdout();
        VideoOutputOnOff(1, nullptr);
        testing::internal::GetCapturedStdout();
        change_tvmode(0, 0), kvn_confirm_virtual_screensize();
        EXPECT_EQ("", drain(kvn_command_pipe)) << plant.what << ": no name from the output side";
        EXPECT_EQ(2, smpoutd_stub_count()) << plant.what;
        EXPECT_EQ(-1, smpoutd_stub_code(0)) << plant.what << ": read as a missing file";
        EXPECT_EQ(0, smpoutd_stub_code(1)) << plant.what;
        struct stat st;
        EXPECT_EQ(0, lstat("/tmp/tvmode", &st)) << plant.what;
        EXPECT_FALSE(S_ISREG(st.st_mode)) << plant.what << ": left as it was";
    }
}

TEST_F(ValueFile, NothingIsWrittenThroughALink) {
    const std::string victim = "/opt/victim",
                      hard = "/tmp/.victim";  // a hard link needs /tmp's file system
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
             kvn::check_standby_power_keys(DIKS_POWER);
             kvn::check_standby_power_keys(DIKS_EJECT);
         }}};
    for (const auto &row : rows) {
        for (std::string kind : {"link", "dangling link", "hard link"}) {
            const std::string name = std::string(row.path) + " as a " + kind;
            clear_path(row.path), clear_path("/opt/created-through-a-link");
            write_file(victim, "precious\n"), write_file(hard, "precious\n");
            if (kind == "hard link")
                link(hard.c_str(), row.path);
            else
                symlink(kind == "link" ? victim.c_str() : "/opt/created-through-a-link", row.path);
            const std::string err = captured_stderr(row.write);
            EXPECT_EQ("precious\n", read_file(victim)) << name;
            EXPECT_EQ("precious\n", read_file(hard)) << name;
            EXPECT_FALSE(exists("/opt/created-through-a-link")) << name;
            EXPECT_TRUE(has(err, {std::string(row.who) + ": refusing to write " + row.path}))
                << name;
            EXPECT_EQ(kind != "hard link", err.find("symbolic link") != std::string::npos)
                << name << ": " << err;
        }
    }
}

}  // namespace
