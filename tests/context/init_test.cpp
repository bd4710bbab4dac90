// Start-up on real DirectFB (dummy system): the counters, the screen, the FIFOs as it finds them.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <tuple>

#include "kvn_dfb_kit.h"

namespace {

bool g_refuse_mknod = false;

// The paths hold the files given (type, bits); each descriptor reads its path, without waiting,
// close-on-exec so that no program the library starts inherits it.
void expect_open_for_reading(mode_t display, mode_t framework, mode_t keys) {
    for (auto [fd, path, mode] : {std::tuple{outport_pipe, "/tmp/display", display},
                                  {kvn_command_pipe, "/tmp/kvn_framework_pipe", framework},
                                  {kvnupnp_key_pipe, "/tmp/kvnupnp_key_pipe", keys}}) {
        SCOPED_TRACE(path);
        struct stat opened, named;
        ASSERT_EQ(0, fstat(fd, &opened));
        ASSERT_EQ(0, stat(path, &named));
        EXPECT_EQ(mode, named.st_mode & (S_IFMT | 07777));
        EXPECT_EQ(named.st_ino, opened.st_ino);
        EXPECT_EQ(O_RDONLY | O_NONBLOCK, fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK));
        EXPECT_EQ(FD_CLOEXEC, fcntl(fd, F_GETFD) & FD_CLOEXEC);
    }
}

}  // namespace

// A file system on which FIFOs cannot be made (the executable's mknod comes before the C
// library's).
extern "C" int mknod(const char *path, mode_t mode, dev_t dev) {
    if (g_refuse_mknod) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(syscall(SYS_mknodat, AT_FDCWD, path, mode, dev));
}

TEST(Startup, StartsDirectFBTakesTheScreenAndOpensThreeNewFifos) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::spy_main_interface = true;
    kvn_global_state = 7;
    thread_qty = 3;
    umask(0);  // under a zero umask the permission bits are the ones start-up asks for
    EXPECT_EQ(0, kvn_test::init_display());
    EXPECT_NE(nullptr, kvn_dfb_global_context.kvn_dfb);
    EXPECT_NE(nullptr, kvn_dfb_global_context.kvn_screen);
    EXPECT_EQ((std::vector<std::string>{"DirectFBCreate", "GetScreen 0", "GetSize"}),
              kvn_test::dfb_calls);
    expect_open_for_reading(S_IFIFO | 0666, S_IFIFO | 0644, S_IFIFO | 0644);
    EXPECT_EQ(0, kvn_global_state + thread_qty);
}

// FIFOs already there are kept as they are (their bits show it); where none can be made, the
// display path becomes a plain file.
TEST(Startup, ExistingFifosAreReusedAndWithoutFifoSupportTheDisplayPathIsAPlainFile) {
    KVN_REQUIRE_SANDBOX();
    for (const char *path : {"/tmp/kvn_framework_pipe", "/tmp/kvnupnp_key_pipe"})
        ASSERT_EQ(0, mkfifo(path, 0600));
    g_refuse_mknod = true;
    umask(0);
    EXPECT_EQ(0, kvn_test::init_display());
    expect_open_for_reading(S_IFREG | 0700, S_IFIFO | 0600, S_IFIFO | 0600);
}

// Names planted at the pipes' paths before start-up (a folder, a link, a plain file) are neither
// followed nor used, and said once, not at every poll.
TEST(Startup, PlantedPipePathsAreNotFollowedAndAreReportedOnce) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_EQ(0, mkdir("/tmp/display", 0777));
    ASSERT_EQ(0, symlink("/opt/created-through-a-link", "/tmp/kvn_framework_pipe"));
    kvn_test::write_file("/tmp/kvnupnp_key_pipe", "");
    EXPECT_TRUE(
        kvn_test::has(kvn_test::captured_stderr(kvn_test::start_display),
                      {"/tmp/display", "/tmp/kvn_framework_pipe", "/tmp/kvnupnp_key_pipe"}));
    EXPECT_EQ(-1, outport_pipe);
    EXPECT_FALSE(kvn_test::exists("/opt/created-through-a-link"));
    EXPECT_EQ("", kvn_test::captured_stderr([] {
                  for (int i = 0; i < 3; ++i) check_tvmode_fifo();
              }));
}
