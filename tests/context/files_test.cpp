// The checks before the library writes a small file under /tmp: every refusal is said with its
// reason, since a neighbour's plant is what the box's owner must be able to find.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kvn_files.h"
#include "kvn_test_support.h"

TEST(Files, EveryRefusalIsSaidWithItsReason) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/plain", "x"), kvn_test::write_file("/tmp/named", "x");
    ASSERT_EQ(0, link("/tmp/named", "/tmp/second-name") | symlink("/tmp/plain", "/tmp/link") | mkdir("/tmp/folder", 0755) | mkfifo("/tmp/fifo", 0644));
    const char *rows[][2] = {  // said null: allowed, nothing said
        {"/tmp/plain", nullptr}, {"/tmp/missing", nullptr}, {"/tmp/link", "it is a symbolic link"}, {"/tmp/folder", "it is a directory"},
        {"/tmp/fifo", "it is not a plain file"}, {"/tmp/second-name", "it has another name"}};
    for (const auto &row : rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(row[1] == nullptr, kvn::shell_may_write(row[0], "who")) << row[0];
        EXPECT_EQ(row[1] ? std::string("who: refusing to write ") + row[0] + ": " + row[1] + "\n" : "", testing::internal::GetCapturedStderr());
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, kvn::create_private("/tmp/no-folder/file", "who"));
    EXPECT_EQ("who: cannot create /tmp/no-folder/file afresh: No such file or directory\n", testing::internal::GetCapturedStderr());
    // A private file checked again before use: still the same file (gone right after a check
    // that found it, or another file put in its place), and still nobody else's to write.
    int fd = kvn::create_private("/tmp/private", "who");
    ASSERT_GE(fd, 0);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(kvn::still_private("/tmp/private", fd, "who"));
    ASSERT_EQ(0, unlink("/tmp/private"));
    EXPECT_FALSE(kvn::still_private("/tmp/private", fd, "who"));
    ASSERT_EQ(0, rename("/tmp/plain", "/tmp/private"));
    EXPECT_FALSE(kvn::still_private("/tmp/private", fd, "who"));
    close(fd);
    fd = kvn::create_private("/tmp/private", "who");
    ASSERT_EQ(0, fchmod(fd, 0620));
    EXPECT_FALSE(kvn::still_private("/tmp/private", fd, "who"));
    EXPECT_EQ("who: /tmp/private was replaced\nwho: /tmp/private was replaced\nwho: /tmp/private is no longer private\n",
              testing::internal::GetCapturedStderr());
    close(fd);
}
