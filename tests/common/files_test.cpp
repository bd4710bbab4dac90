// The checks before writing a small file under /tmp (each refusal said with its reason, for the
// box's owner to find a neighbour's plant).
#include "common/files.h"

#include <errno.h>
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
    // (An ordinary user's sandbox maps no other user to give the file to.)
    const bool others = chown("/tmp/others", 1000, 1000) == 0;
    int reader = open("/tmp/read-fifo", O_RDONLY | O_NONBLOCK);
    const struct {
        const char *path, *data, *said;
        int result;
        const char *content;  // afterwards (null: not a file)
    } rows[] = {
        {"/tmp/plain", "5\n", nullptr, 0, "5\n"},
        {"/tmp/missing", "5\n", nullptr, 0, "5\n"},
        {"/tmp/touched", nullptr, nullptr, 0, "x"},
        {"/tmp/touch-made", nullptr, nullptr, 0, ""},
        {"/tmp/link", "5\n", "refusing to write /tmp/link: it is a symbolic link", -1, nullptr},
        {"/tmp/folder", "5\n", "refusing to write /tmp/folder: it is a directory", -1, nullptr},
        {"/tmp/fifo", "5\n", "refusing to write /tmp/fifo: it is not a plain file", -1, nullptr},
        {"/tmp/read-fifo", nullptr, "refusing to write /tmp/read-fifo: it is not a plain file", -1,
         nullptr},
        {"/tmp/second-name", "5\n", "refusing to write /tmp/second-name: it has another name", -1,
         "x"},  // nor through the link to it
        {"/tmp/others", "5\n", "refusing to write /tmp/others: it is another user's file", -1, "x"},
        {"/tmp/no-folder/file", "5\n",
         "cannot write /tmp/no-folder/file: No such file or directory", kvn::kCannotCreate,
         nullptr}};
    for (const auto &row : rows) {
        if (!others && strcmp(row.path, "/tmp/others") == 0) continue;
        int result = 0;
        EXPECT_EQ(row.said ? std::string("korvan_framework_lib: who: ") + row.said + "\n" : "",
                  kvn_test::captured_stderr([&] {
                      result = kvn::write_own_file(row.path, row.data,
                                                   row.data ? strlen(row.data) : 0, "who");
                  }));
        EXPECT_EQ(row.result, result) << row.path;
        if (row.content) {
            EXPECT_EQ(row.content, kvn_test::read_file(row.path)) << row.path;
        }
    }
    char ignored;
    EXPECT_EQ(0, read(reader, &ignored, 1)) << "nothing reached the FIFO";
    close(reader);
}

// A neighbour who owns the name puts a link in its place the moment the player starts a program
// (as a shell that would write the file by name): whatever was judged before, no write lands where
// the link leads.
TEST(Files, ANameSwappedForALinkWhileItIsWrittenLeadsNowhere) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/opt/victim", "precious\n");
    const std::string children = "/proc/self/task/" + std::to_string(gettid()) + "/children";
    const struct {
        const char *path, *target;
        std::function<void()> write;
    } rows[] = {{"/tmp/tvmode", "/opt/victim", [] { write_value_to_file("/tmp/tvmode", 5); }},
                {"/tmp/goingstandby", "/opt/made-through",
                 [] { kvn::touch_marker("/tmp/goingstandby", "who"); }}};
    for (const auto &row : rows) {
        for (int round = 0; round < 20; ++round) {
            kvn_test::write_file(row.path, "x");
            std::atomic<bool> done{false};
            std::thread neighbour([&] {
                char any;
                while (!done) {
                    int fd = open(children.c_str(), O_RDONLY);
                    bool started = fd >= 0 && read(fd, &any, 1) == 1;
                    if (fd >= 0) close(fd);
                    if (started) {
                        symlink(row.target, "/tmp/planted");
                        rename("/tmp/planted", row.path);
                        return;
                    }
                }
            });
            kvn_test::captured_stderr(row.write);
            done = true;
            neighbour.join();
        }
    }
    EXPECT_EQ("precious\n", kvn_test::read_file("/opt/victim"));
    EXPECT_FALSE(kvn_test::exists("/opt/made-through"));
}

TEST(Files, PrivateCreationSaysWhyItFailed) {
    KVN_REQUIRE_SANDBOX();
    std::vector<int> made;
    EXPECT_TRUE(
        kvn_test::has(kvn_test::captured_stderr([&] {
                          made = {kvn::create_private("/tmp/no-folder/file", "who"),
                                  kvn::create_private("/proc/self/status", "who")};
                      }),
                      {"who: cannot create /tmp/no-folder/file afresh: No such file or directory\n",
                       "who: cannot remove /proc/self/status: "}));
    EXPECT_EQ((std::vector<int>{-1, -1}), made);
}

// Checked again before use: still the same file (not gone, not replaced), nobody else's, with no
// other name.
TEST(Files, APrivateFileGoneReplacedLinkedOrOpenedToOthersIsNoLongerTrusted) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/plain", "x");
    int fd = kvn::create_private("/tmp/private", "who");
    struct stat st;
    ASSERT_TRUE(fd >= 0 && fstat(fd, &st) == 0);
    EXPECT_EQ(0600u, st.st_mode & 07777);
    testing::internal::CaptureStderr();
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
    const std::string said = "korvan_framework_lib: who: /tmp/private ";
    EXPECT_EQ(said + "was replaced\n" + said + "was replaced\n" + said + "is no longer private\n" +
                  said + "is no longer private\n",
              testing::internal::GetCapturedStderr());
    close(fd);
}
