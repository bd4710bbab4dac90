// A started program gets standard input, output and error alone, whatever the kernel offers.
#include "common/child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kvn_test_support.h"

// This process's calls of `number` fail with `error` from now on (a kernel without one).
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
    for (const char *kernel : {"close_range", "/proc only", "neither"}) {
        const bool close_range = kernel[0] == 'c', proc = kernel[0] != 'n';
        if (!close_range && kvn_test::emulated()) GTEST_SKIP() << "qemu-user has no seccomp filter";
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        const pid_t pid = fork();
        if (pid == 0) {
#ifdef SYS_close_range
            if (!close_range && !deny(SYS_close_range, ENOSYS)) _exit(2);
#endif
            if (!proc && !deny(SYS_openat, ENOENT)) _exit(2);
#ifdef SYS_open  // (arm64 has openat alone)
            if (!proc && !deny(SYS_open, ENOENT)) _exit(2);
#endif
            struct rlimit limit = {256, 256};
            setrlimit(RLIMIT_NOFILE, &limit);
            dup2(ends[0], 0);  // standard input a pipe, on which nothing can seek
            for (int fd : {3, 4, 100, 255}) dup2(ends[1], fd);
            kvn::close_inherited_descriptors();
            int open_fds = 0;  // 0, 1 and 2 count 1, any other 100
            for (int fd = 0; fd < 256; ++fd)
                open_fds += (fcntl(fd, F_GETFD) != -1) * (fd < 3 ? 1 : 100);
            _exit(open_fds == 3 ? 0 : 1);
        }
        close(ends[0]);
        close(ends[1]);
        int status = 0;
        EXPECT_TRUE(kvn::reap_within(pid, 10000, &status) ||
                    (kill(pid, SIGKILL), waitpid(pid, &status, 0), false))
            << kernel << ": never finished closing";
        EXPECT_EQ(0, status) << kernel;
    }
}
