// The checks before writing a small file under /tmp (each refusal said with its reason, for the
// box's owner to find a neighbour's plant): one row per way a name can be refused.
#include "common/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "kvn_test_support.h"

TEST(Files, OnlyARegularFileWithOneNameOfOursIsWrittenAndEachRefusalSaysWhy) {
    KVN_REQUIRE_SANDBOX();
    for (const char *name : {"/tmp/plain", "/tmp/named", "/tmp/others", "/tmp/touched"})
        kvn_test::write_file(name, "x");
    ASSERT_EQ(0, link("/tmp/named", "/tmp/second-name") | symlink("/tmp/named", "/tmp/link") |
                     mkdir("/tmp/folder", 0755) | mkfifo("/tmp/fifo", 0644) |
                     mkfifo("/tmp/read-fifo", 0644));
    const bool others = chown("/tmp/others", 1000, 1000) == 0;  // not in an ordinary user's sandbox
    ASSERT_LE(0, open("/tmp/read-fifo", O_RDONLY | O_NONBLOCK));  // a reader, to the end
    const struct {
        const char *path, *data, *why;  // why it is refused
        int result;
        const char *content;  // afterwards (null: not a file)
    } rows[] = {
        {"/tmp/plain", "5\n", nullptr, 0, "5\n"},
        {"/tmp/missing", "5\n", nullptr, 0, "5\n"},
        {"/tmp/touched", nullptr, nullptr, 0, "x"},
        {"/tmp/link", "5\n", "it is a symbolic link", -1, nullptr},
        {"/tmp/folder", "5\n", "it is a directory", -1, nullptr},
        {"/tmp/fifo", "5\n", "it is not a plain file", -1, nullptr},
        {"/tmp/read-fifo", "5\n", "it is not a plain file", -1, nullptr},
        {"/tmp/second-name", "5\n", "it has another name", -1, "x"},  // nor through the link to it
        {"/tmp/others", "5\n", "it is another user's file", -1, "x"},
        {"/tmp/no-folder/file", "5\n", "No such file or directory", kvn::kCannotCreate, nullptr}};
    for (const auto &row : rows) {
        if (!others && strcmp(row.path, "/tmp/others") == 0) continue;
        const std::string said =
            std::string(row.result < 0 ? "refusing to write " : "cannot write ") + row.path + ": " +
            (row.why ? row.why : "") + "\n";
        int result = 0;
        EXPECT_EQ(row.why ? "korvan_framework_lib: who: " + said : "",
                  kvn_test::captured_stderr([&] {
                      result = kvn::write_own_file(row.path, row.data, row.data ? 2 : 0, "who");
                  }));
        EXPECT_EQ(row.result, result) << row.path;
        if (!row.content) continue;  // (a FIFO would hold the read)
        EXPECT_EQ(row.content, kvn_test::read_file(row.path)) << row.path;
    }
}

// A neighbour who owns the name puts a link in its place the moment the player starts a program
// (as a shell that would write the file by name): whatever was judged before, no write lands where
// the link leads (a race no planted fault shows).
TEST(Files, ANameSwappedForALinkWhileItIsWrittenLeadsNowhere) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/opt/victim", "precious\n");
    const std::string children = "/proc/self/task/" + std::to_string(gettid()) + "/children";
    for (int round = 0; round < 20; ++round) {
        kvn_test::remove_file("/tmp/tvmode");  // a link the last round planted late
        kvn_test::write_file("/tmp/tvmode", "x");
        std::atomic<bool> done{false};
        std::thread neighbour([&] {
            while (!done && kvn_test::read_file(children).empty()) continue;
            if (!done && symlink("/opt/victim", "/tmp/p") == 0) rename("/tmp/p", "/tmp/tvmode");
        });
        kvn_test::captured_stderr([] { write_value_to_file("/tmp/tvmode", 5); });
        done = true;
        neighbour.join();
    }
    EXPECT_EQ("precious\n", kvn_test::read_file("/opt/victim"));
}

// Made afresh, or said why not; checked again before use: still the same file (not gone, not
// replaced), nobody else's, with no other name.
TEST(Files, APrivateFileGoneReplacedLinkedOrOpenedToOthersIsNoLongerTrusted) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/plain", "x");
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, kvn::create_private("/tmp/no-folder/file", "who"));
    EXPECT_EQ(-1, kvn::create_private("/proc/self/status", "who"));
    int fd = kvn::create_private("/tmp/private", "who");
    struct stat st;
    ASSERT_TRUE(fd >= 0 && fstat(fd, &st) == 0);
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_TRUE(kvn::still_private("/tmp/private", fd, "who"));
    // Each change, then a fresh file for the next one (but after the unlink: replaced next).
    const std::function<void()> changes[] = {
        [] { unlink("/tmp/private"); }, [] { rename("/tmp/plain", "/tmp/private"); },
        [] { link("/tmp/private", "/tmp/private-too"); }, [&] { fchmod(fd, 0620); }};
    for (const auto &change : changes) {
        change();
        EXPECT_FALSE(kvn::still_private("/tmp/private", fd, "who"));
        if (&change == &changes[0]) continue;
        close(fd);
        fd = kvn::create_private("/tmp/private", "who");
    }
    close(fd);
    const std::string said = "korvan_framework_lib: who: /tmp/private ";
    EXPECT_TRUE(
        kvn_test::has(testing::internal::GetCapturedStderr(),
                      {"who: cannot create /tmp/no-folder/file afresh: No such file or directory\n",
                       "who: cannot remove /proc/self/status: ",
                       said + "was replaced\n" + said + "was replaced\n" + said +
                           "is no longer private\n" + said + "is no longer private\n"}));
}
