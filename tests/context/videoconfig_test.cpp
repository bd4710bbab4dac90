// The TV mode files under /tmp, their seeding from the settings store and
// the picture switched off and on through the output daemon.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"
#include "smpoutd_api.h"
#include "tvmode/value_file.h"

namespace {

std::string stored(const char *key) {
    char *v = get_var_mem(key);
    if (v == nullptr) return "(none)";
    std::string s(v);
    free(v);
    return s;
}

}  // namespace

TEST(ValueFile, ReadsNumbersAndAnswersMinusOneForWhatCannotBeRead) {
    KVN_REQUIRE_SANDBOX();
    int fds = ctx_test::open_descriptor_count();
    kvn_test::write_file("/tmp/v7", "7\n");
    kvn_test::write_file("/tmp/vempty", "");
    kvn_test::write_file("/tmp/vabc", "abc");
    kvn_test::write_file("/tmp/vlong", "123456789012345\n");
    ASSERT_EQ(mkdir("/tmp/vdir", 0755), 0);
    EXPECT_EQ(get_value_from_file("/tmp/v7"), 7);
    EXPECT_EQ(get_value_from_file("/tmp/vempty"), -1);
    EXPECT_EQ(get_value_from_file("/tmp/vabc"), 0);
    EXPECT_EQ(get_value_from_file("/tmp/vlong"), 1234567890);
    EXPECT_EQ(get_value_from_file("/tmp/vdir"), -1);
    EXPECT_EQ(get_value_from_file("/tmp/missing"), -1);
    EXPECT_EQ(get_value_from_file(nullptr), -1);
    EXPECT_EQ(ctx_test::open_descriptor_count(), fds);
}

TEST(ValueFile, AnUnreadableFileReadsAsMinusOne) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/vsecret", "9\n");
    ASSERT_EQ(chmod("/tmp/vsecret", 0), 0);
    if (geteuid() == 0) {
        // Root reads it anyway: read as an ordinary user in a child.
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            _exit(get_value_from_file("/tmp/vsecret") == -1 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    } else {
        EXPECT_EQ(get_value_from_file("/tmp/vsecret"), -1);
    }
}

TEST(ValueFile, WritesThroughTheShellAndRefusesPathsItCannotPassSafely) {
    KVN_REQUIRE_SANDBOX();
    int fds = ctx_test::open_descriptor_count();
    EXPECT_EQ(write_value_to_file("/tmp/tvmode", 5), 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "5\n");
    EXPECT_EQ(write_value_to_file("/tmp/tvmode", -1), 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "-1\n");
    EXPECT_EQ(get_value_from_file("/tmp/tvmode"), -1);
    // A safe path whose folder is missing: run, and the shell's failure is the result.
    int shell = write_value_to_file("/tmp/a-b_c.d/../x", 3);
    EXPECT_NE(shell, 0);
    EXPECT_NE(shell, -1);
    EXPECT_EQ(ctx_test::open_descriptor_count(), fds);

    // "echo "5" > " leaves 19 characters for the path; one more would be cut
    // to another file name.
    const std::string fits = "/tmp/abcdefghijklmn";       // 19
    const std::string too_long = "/tmp/abcdefghijklmno";  // 20
    EXPECT_EQ(write_value_to_file(fits.c_str(), 5), 0);
    EXPECT_EQ(kvn_test::read_file(fits), "5\n");
    kvn_test::remove_file(fits);
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_value_to_file(too_long.c_str(), 5), -1);
    EXPECT_EQ(write_value_to_file("/tmp/abcdefghijklmn", 10), -1);  // longer value, same cut
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("write_value_to_file"), std::string::npos) << err;
    EXPECT_FALSE(kvn_test::exists(too_long));
    EXPECT_FALSE(kvn_test::exists(fits));

    const char *hostile[] = {"/tmp/x;touch /tmp/pwned",
                             "/tmp/$(touch /tmp/pwned)",
                             "/tmp/a b",
                             "/tmp/`id`",
                             "/tmp/p|tee",
                             "/tmp/p&",
                             "/tmp/q\n",
                             "",
                             nullptr};
    testing::internal::CaptureStderr();
    for (const char *path : hostile) EXPECT_EQ(write_value_to_file(path, 1), -1) << path;
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unsafe"), std::string::npos) << err;
    EXPECT_FALSE(kvn_test::exists("/tmp/pwned"));
    EXPECT_FALSE(kvn_test::exists("/tmp/x"));
    EXPECT_FALSE(kvn_test::exists("/tmp/a"));
}

TEST(VideoConfig, APresentModeFileLeavesTheStoreUntouched) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode", "9\n");
    EXPECT_EQ(init_video_config(&kvn_dfb_global_context), 0);
    EXPECT_EQ(stored("video_output"), "(none)");
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "9\n");
    EXPECT_EQ(init_audio_config(), 0);
}

TEST(VideoConfig, AMissingModeFileIsSeededFromTheStoreOrTheAutomaticMode) {
    KVN_REQUIRE_SANDBOX();
    // The settings store keeps the files it parsed open for its cache; let
    // it do so before counting.
    write_var("store_warm", "1", 0);
    stored("store_warm");
    int fds = ctx_test::open_descriptor_count();
    EXPECT_EQ(init_video_config(nullptr), 0);
    EXPECT_EQ(stored("video_output"), "0");
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "0\n");

    // "-1" counts as missing; the stored mode wins.
    write_var("video_output", "11", 0);
    kvn_test::write_file("/tmp/tvmode", "-1\n");
    EXPECT_EQ(init_video_config(nullptr), 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "11\n");
    EXPECT_EQ(stored("video_output"), "11");
    EXPECT_EQ(ctx_test::open_descriptor_count(), fds);
}

TEST(VideoOutput, SwitchingOnRestoresTheRecordedModeAndOffSendsPictureOff) {
    KVN_REQUIRE_SANDBOX();
    smpoutd_stub_clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(VideoOutputOnOff(1, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Turn ON the display \ntvmode :-1\n");
    EXPECT_EQ(smpoutd_stub_last_code(), -1);
    EXPECT_EQ(smpoutd_stub_count(), 1);

    testing::internal::CaptureStdout();
    EXPECT_EQ(VideoOutputOnOff(0, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Turn OFF the display \n");
    EXPECT_EQ(smpoutd_stub_last_code(), 28);
    EXPECT_EQ(smpoutd_stub_picture_on(), 0);

    kvn_test::write_file("/tmp/tvmode", "7\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(VideoOutputOnOff(1, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Turn ON the display \ntvmode :7\n");
    EXPECT_EQ(smpoutd_stub_last_code(), 7);
    testing::internal::CaptureStdout();
    VideoOutputOnOff(2, nullptr);  // anything but 1 means off
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(smpoutd_stub_last_code(), 28);
    EXPECT_EQ(smpoutd_stub_count(), 4);
    // Neither direction touches the files or the store.
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "7\n");
    EXPECT_EQ(stored("video_output"), "(none)");
}
