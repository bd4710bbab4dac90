// Programs the library starts get only descriptors 0 to 2, also on a kernel
// without close_range and without /proc, as the player's may be.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kvn_child.h"

namespace {
bool g_no_close_range = false;
bool g_no_proc = false;
}  // namespace

// Stand in for the C library's calls in this program (the library is linked
// in statically): a kernel without close_range, a system without /proc.
extern "C" long syscall(long number, ...) __THROW {
    va_list args;
    va_start(args, number);
    long a[6];
    for (long &v : a) v = va_arg(args, long);
    va_end(args);
#ifdef SYS_close_range
    if (number == SYS_close_range && g_no_close_range) {
        errno = ENOSYS;
        return -1;
    }
#endif
    using Real = long (*)(long, ...);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "syscall"));
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

extern "C" int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    if (g_no_proc && strncmp(path, "/proc/", 6) == 0) {
        errno = ENOENT;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

TEST(Child, GetsOnlyStandardInputOutputAndErrorWhateverTheKernelOffers) {
    const struct {
        const char *kernel;
        bool close_range, proc;
    } rows[] = {{"close_range", true, true}, {"/proc only", false, true}, {"neither", false, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.kernel);
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            g_no_close_range = !row.close_range;
            g_no_proc = !row.proc;
            struct rlimit limit = {256, 256};
            setrlimit(RLIMIT_NOFILE, &limit);
            for (int fd : {3, 4, 100, 255}) dup2(ends[1], fd);
            kvn::close_inherited_descriptors();
            int open_fds = 0;
            for (int fd = 0; fd < 256; ++fd) open_fds += fcntl(fd, F_GETFD) != -1;
            bool standard = fcntl(0, F_GETFD) != -1 && fcntl(1, F_GETFD) != -1 && fcntl(2, F_GETFD) != -1;
            _exit(standard && open_fds == 3 ? 0 : 1);
        }
        close(ends[0]);
        close(ends[1]);
        int status = 0;
        ASSERT_TRUE(kvn::reap_within(pid, 10000, &status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}
