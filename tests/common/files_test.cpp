// The checks before writing a small file under /tmp (each refusal said with its reason, for the
// box's owner to find a neighbour's plant), and the descriptors a started program gets.
#include "common/files.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "common/child.h"
#include "kvn_test_support.h"

TEST(Files, OnlyARegularFileWithOneNameOfOursIsWrittenAndEachRefusalSaysWhy) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/plain", "x"), kvn_test::write_file("/tmp/named", "x");
    kvn_test::write_file("/tmp/others", "x"), kvn_test::write_file("/tmp/touched", "x");
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
    EXPECT_FALSE((unlink("/tmp/private"), kvn::still_private("/tmp/private", fd, "who")));
    EXPECT_FALSE(
        (rename("/tmp/plain", "/tmp/private"), kvn::still_private("/tmp/private", fd, "who")));
    close(fd), fd = kvn::create_private("/tmp/private", "who");
    EXPECT_FALSE(
        (link("/tmp/private", "/tmp/private-too"), kvn::still_private("/tmp/private", fd, "who")));
    close(fd), fd = kvn::create_private("/tmp/private", "who");
    EXPECT_FALSE((fchmod(fd, 0620), kvn::still_private("/tmp/private", fd, "who")));
    const std::string said = "korvan_framework_lib: who: /tmp/private ";
    EXPECT_EQ(said + "was replaced\n" + said + "was replaced\n" + said + "is no longer private\n" +
                  said + "is no longer private\n",
              testing::internal::GetCapturedStderr());
    close(fd);
}

// This process's calls of `number` fail with `error` from now on: a kernel without close_range or
// without /proc.
static bool deny(long number, int error) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(number), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(error)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(Child, GetsOnlyStandardInputOutputAndErrorWhateverTheKernelOffers) {
    const struct {
        const char *kernel;
        bool close_range, proc;
    } rows[] = {
        {"close_range", true, true}, {"/proc only", false, true}, {"neither", false, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.kernel);
        if (!row.close_range && kvn_test::emulated())
            GTEST_SKIP() << "qemu-user installs no seccomp filter";
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        const pid_t pid = fork();
        if (pid == 0) {
#ifdef SYS_close_range
            if (!row.close_range && !deny(SYS_close_range, ENOSYS)) _exit(2);
#endif
            if (!row.proc && !deny(SYS_openat, ENOENT)) _exit(2);
#ifdef SYS_open  // (arm64 has openat alone)
            if (!row.proc && !deny(SYS_open, ENOENT)) _exit(2);
#endif
            struct rlimit limit = {256, 256};
            setrlimit(RLIMIT_NOFILE, &limit),
                dup2(ends[0], 0);  // standard input a pipe, on which nothing can seek
            for (int fd : {3, 4, 100, 255}) dup2(ends[1], fd);
            kvn::close_inherited_descriptors();
            int open_fds = 0;
            for (int fd = 0; fd < 256; ++fd) open_fds += fcntl(fd, F_GETFD) != -1;
            _exit(fcntl(0, F_GETFD) != -1 && fcntl(1, F_GETFD) != -1 && fcntl(2, F_GETFD) != -1 &&
                          open_fds == 3
                      ? 0
                      : 1);
        }
        close(ends[0]), close(ends[1]);
        int status = 0;
        EXPECT_TRUE(kvn::reap_within(pid, 10000, &status) ||
                    (kill(pid, SIGKILL), waitpid(pid, &status, 0), false))
            << "never finished closing";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}
