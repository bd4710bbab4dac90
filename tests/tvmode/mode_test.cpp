// Mode changes as the other programs see them: /tmp/tvmode, the event line
// on the framework pipe, the daemon's codes and the replies in
// /tmp/tolu_cgi.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kvn_test_support.h"
#include "kvn_platform.h"
#include "smpoutd_api.h"
#include "tvmode/mode_parse.h"
#include "tvmode/tvmode_internal.h"

namespace {

using kvn_test::stored;

// What reached the framework pipe since the last call.
std::string pipe_lines() {
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(kvn_command_pipe, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

class Mode : public ::testing::Test {
protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_test::start_display();
        kvn_test::write_file("/tmp/tolu_cgi", "");
        smpoutd_stub_set_auto_name(nullptr);  // the output side names nothing unless asked
        pipe_lines();
        smpoutd_stub_clear();
    }
    void send(const std::string &command) {
        int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(command.size()), write(fd, command.data(), command.size()));
        close(fd);
    }
};

TEST_F(Mode, ChangeWritesTheFileTheEventLineAndTellsTheDaemon) {
    kvn_test::write_file("/tmp/tvname", "1080i59\n");
    ASSERT_EQ(0, change_tvmode(0, 0));
    EXPECT_EQ("0\n", kvn_test::read_file("/tmp/tvmode"));
    EXPECT_EQ("swf=<event>change_tvmode</event>1080i60\n", pipe_lines());
    EXPECT_EQ(0, smpoutd_stub_last_code());

    kvn_test::write_file("/tmp/tvname", "576p\n");
    change_tvmode(0, 0);
    EXPECT_EQ("swf=<event>change_tvmode</event>576p\n\n", pipe_lines());
    kvn_test::remove_file("/tmp/tvname");
    change_tvmode(0, 0);
    EXPECT_EQ("", pipe_lines()) << "no name from the output side: no event";

    change_tvmode(21, 0);
    EXPECT_EQ("swf=<event>change_tvmode</event><tvmode>1080i 60Hz</tvmode>\n", pipe_lines());
    change_tvmode(6, 0);
    EXPECT_EQ("swf=<event>change_tvmode</event><tvmode>720p 50Hz</tvmode>\n", pipe_lines());
    change_tvmode(-4, 0);
    EXPECT_EQ("6\n", kvn_test::read_file("/tmp/tvmode")) << "a negative code leaves the file";
    EXPECT_EQ(-4, smpoutd_stub_last_code());
    change_tvmode(99, 0);
    EXPECT_EQ(99, smpoutd_stub_last_code());
}

TEST_F(Mode, AnnouncingShowsTheLabelAndCommits) {
    size_t before = kvn_test::osd_calls().size();
    change_tvmode(21, 1);
    std::vector<osd_call> calls = kvn_test::osd_calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<long>(before));
    ASSERT_EQ(6u, calls.size());
    EXPECT_EQ(-3, calls[0].command);
    EXPECT_EQ(34, calls[1].command);
    EXPECT_EQ(-2, calls[2].command);
    EXPECT_EQ(40, calls[3].command);
    EXPECT_EQ(1, calls[3].mode);
    EXPECT_EQ(0x4000, calls[3].flags);
    EXPECT_STREQ("-opts=4K 25Hz\t-optdel=,\t", calls[3].text);
    EXPECT_EQ(40, calls[4].command);
    EXPECT_EQ(0, calls[4].mode);
    EXPECT_EQ(-2, calls[5].command);
    EXPECT_EQ(kvn::mode_strings(3).label, std::string("720p 60Hz"));
    EXPECT_EQ(kvn::mode_strings(4).label, std::string("720p 60Hz"));
    before = kvn_test::osd_calls().size();
    change_tvmode(5, 2);  // any value but 1 is silent
    EXPECT_EQ(before + 4, kvn_test::osd_calls().size());
}

TEST(ModeCommand, WordsPrefixesAndSave) {
    struct Case {
        const char *text;
        bool prefix, save;
        int code;
        const char *reply;
    } cases[] = {
        {"tv=auto", true, false, 0, "tv=auto"},
        {"tv=480i", true, false, 1, "tv=480i"},
        {"tv=576i", true, false, 2, "tv=576i"},
        {"tv=480p", true, false, 3, "tv=480p"},
        {"tv=576p", true, false, 4, "tv=576p"},
        {"tv=720p60\n", true, false, 5, "tv=720p"},
        {"tv=720p50", true, false, 6, "tv=720p"},
        {"tv=1080i60", true, false, 7, "tv=1080i"},
        {"tv=1080i50", true, false, 8, "tv=1080i"},
        {"tv=1080p60", true, false, 9, "tv=1080p"},
        {"tv=1080p50", true, false, 10, "tv=1080p"},
        {"tv=1080p24 save", true, true, 11, "tv=1080p"},
        {"tv=4k", true, false, 0, "tv=auto"},
        {"tv=1080i609", true, false, 7, "tv=1080i"},
        {"tv=1080i5", true, false, 0, "tv=auto"},
        {"tv=", true, false, 0, "tv=auto"},
        {"save tv=576i", false, true, 0, "tv=auto"},
        {"tv=savea", true, true, 0, "tv=auto"},
        {"tv=480ptv=576isave", true, true, 3, "tv=480p"},
        {"TV=576i", false, false, 0, "tv=auto"},
        {"t", false, false, 0, "tv=auto"},
    };
    for (const Case &c : cases) {
        kvn::ModeCommand m = kvn::parse_mode_command(c.text);
        EXPECT_EQ(c.prefix, m.has_prefix) << c.text;
        EXPECT_EQ(c.save, m.save) << c.text;
        if (c.prefix) {
            EXPECT_EQ(c.code, m.code) << c.text;
            EXPECT_STREQ(c.reply, m.reply) << c.text;
        }
    }
    char name[10] = "720p5994";
    kvn::map_tvname(name, sizeof name);
    EXPECT_STREQ("720p60", name);
}

TEST_F(Mode, PipeCommandsSwitchStoreAndReply) {
    send("tv=1080p24 save");
    check_tvmode_fifo();
    EXPECT_EQ(11, smpoutd_stub_last_code());
    EXPECT_EQ("11", stored("video_output"));
    EXPECT_EQ(std::string("tv=1080p\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));

    int codes = smpoutd_stub_count();
    check_tvmode_fifo();  // empty pipe
    send("x");
    check_tvmode_fifo();  // a single byte
    send("hello=720p60");
    check_tvmode_fifo();
    send(std::string("tv\0=720p60", 10));
    check_tvmode_fifo();
    EXPECT_EQ(codes, smpoutd_stub_count());

    kvn_test::remove_file("/tmp/tolu_cgi");
    send("tv=480i");
    check_tvmode_fifo();
    EXPECT_EQ(codes, smpoutd_stub_count()) << "no reader of the reply: nothing is changed";
    EXPECT_FALSE(kvn_test::exists("/tmp/tolu_cgi")) << "never created";
}

TEST_F(Mode, AReplyFifoWithoutItsReaderNeverBlocks) {
    kvn_test::remove_file("/tmp/tolu_cgi");
    ASSERT_EQ(0, mkfifo("/tmp/tolu_cgi", 0644));
    send("tv=480i");
    check_tvmode_fifo();  // would hang forever with a blocking open
    EXPECT_EQ(-1, apply_tvmode_selection(12, 1));
    kvn_test::write_file("/tmp/tvmode", "0\n");
    kvn_test::write_file("/tmp/hdmi_changed", "");
    EXPECT_EQ(0, check_hdmi_state_changed());
    EXPECT_FALSE(kvn_test::exists("/tmp/hdmi_changed"));
}

TEST_F(Mode, HdmiChangeInAutomaticModeOnly) {
    kvn_test::write_file("/tmp/tvmode", "7\n");
    kvn_test::write_file("/tmp/hdmi_changed", "");
    EXPECT_EQ(7, check_hdmi_state_changed());
    EXPECT_TRUE(kvn_test::exists("/tmp/hdmi_changed"));
    kvn_test::write_file("/tmp/tvmode", "0\n");
    EXPECT_EQ(0, check_hdmi_state_changed());
    EXPECT_EQ(std::string("tv=auto\0", 8), kvn_test::read_file("/tmp/tolu_cgi"));
    EXPECT_FALSE(kvn_test::exists("/tmp/hdmi_changed"));
    EXPECT_EQ(-1, check_hdmi_state_changed()) << "no marker";
    kvn_test::remove_file("/tmp/tvmode");
    EXPECT_EQ(-1, check_hdmi_state_changed());
}

TEST_F(Mode, MenuChoicesAndTheSystemSwitchStoreTheirModes) {
    ASSERT_EQ(0, apply_tvmode_selection(12, 1));
    EXPECT_EQ(std::string("tv=1080p\0", 9), kvn_test::read_file("/tmp/tolu_cgi"));
    EXPECT_EQ("11", stored("video_output"));
    EXPECT_EQ("tvmode", stored("video_setting"));
    EXPECT_EQ(11, smpoutd_stub_last_code());
    apply_tvmode_selection(13, 2);
    EXPECT_EQ(20, smpoutd_stub_last_code()) << "4K has no 50 Hz mode";
    apply_tvmode_selection(0, 3);
    EXPECT_EQ(0, smpoutd_stub_last_code());

    write_var("tv_system", "PAL", 0);
    int seven = 7;
    write_var("video_output", &seven, 1);
    SwitchTvSystem();
    EXPECT_EQ("8", stored("video_output"));
    EXPECT_EQ("NTSC", stored("tv_system"));
    EXPECT_EQ(8, smpoutd_stub_last_code());
    SwitchTvSystem();
    EXPECT_EQ("7", stored("video_output"));
    EXPECT_EQ("PAL", stored("tv_system"));
    write_var("video_output", "11", 0);
    write_var("tv_system", "pal", 0);
    SwitchTvSystem();
    EXPECT_EQ("0", stored("video_output"));
    EXPECT_EQ("PAL", stored("tv_system")) << "only exactly PAL becomes NTSC";
    write_var("video_output", "junk", 0);
    SwitchTvSystem();
    EXPECT_EQ(0, smpoutd_stub_last_code());
}

}  // namespace
