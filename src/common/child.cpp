#include "common/child.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/clock.h"

namespace kvn {

namespace {

// Closes what /proc/self/fd lists above 2 with raw system calls only (no
// allocation: this runs between fork and exec).  False without /proc.
bool close_listed_descriptors() {
    int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    alignas(8) char entries[1024];
    bool closed_any = true;
    // Closing changes the listing under the reader: read it again from the
    // start until a whole pass finds nothing left to close.
    while (closed_any) {
        closed_any = false;
        if (lseek(dir, 0, SEEK_SET) != 0) break;
        for (;;) {
            long n = syscall(SYS_getdents64, dir, entries, sizeof entries);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const char *name = entries + at + 19;  // d_name of struct linux_dirent64
                unsigned short length;
                __builtin_memcpy(&length, entries + at + 16, sizeof length);
                at += length;
                int fd = 0;
                bool number = *name != '\0';
                for (const char *c = name; *c != '\0'; ++c) {
                    if (*c < '0' || *c > '9')
                        number = false;
                    else
                        fd = fd * 10 + (*c - '0');
                }
                if (number && fd > 2 && fd != dir) {
                    close(fd);
                    closed_any = true;
                }
            }
        }
    }
    close(dir);
    return true;
}

}  // namespace

void close_inherited_descriptors() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
#endif
    if (close_listed_descriptors()) return;
    // Neither close_range nor /proc: one by one up to the limit.
    struct rlimit limit;
    long top = 1L << 16;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < static_cast<rlim_t>(top)) {
        top = static_cast<long>(limit.rlim_cur);
    }
    for (long fd = 3; fd < top; ++fd) close(static_cast<int>(fd));
}

pid_t start_child(const char *file, char *const argv[], const char *directory) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (directory != nullptr && chdir(directory) != 0) _exit(0);
    close_inherited_descriptors();
    execvp(file, argv);
    _exit(0);
}

bool reap_within(pid_t pid, unsigned timeout_ms, int *status) {
    const unsigned step_ms = 10;
    for (unsigned waited = 0;; waited += step_ms) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r != 0 && !(r < 0 && errno == EINTR)) return true;
        if (waited >= timeout_ms) return false;
        sleep_us(step_ms * 1000);
    }
}

}  // namespace kvn
