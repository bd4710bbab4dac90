/* Linked into a writer of the settings store, ahead of the C library and
 * of any sanitizer runtime (so the sanitizer builds run it too): fails call
 * number KVN_FAULT_N of KVN_FAULT_CALL (write, read, pread, fsync, rename or open), once
 * or, with KVN_FAULT_FOREVER=1, from then on, the way a full or failing
 * flash would.  Calls are counted from the first one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static long seen;

static int should_fail(const char *name) {
    const char *which = getenv("KVN_FAULT_CALL");
    if (which == NULL || strcmp(which, name) != 0) return 0;
    long n = atol(getenv("KVN_FAULT_N") ? getenv("KVN_FAULT_N") : "0");
    int forever = getenv("KVN_FAULT_FOREVER") && strcmp(getenv("KVN_FAULT_FOREVER"), "1") == 0;
    ++seen;
    return forever ? seen >= n : seen == n;
}

ssize_t write(int fd, const void *buf, size_t count) {
    static ssize_t (*real)(int, const void *, size_t);
    if (!real) real = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    if (fd > 2 && should_fail("write")) { errno = ENOSPC; return -1; }
    return real(fd, buf, count);
}

ssize_t read(int fd, void *buf, size_t count) {
    static ssize_t (*real)(int, void *, size_t);
    if (!real) real = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    if (fd > 2 && should_fail("read")) { errno = EIO; return -1; }
    return real(fd, buf, count);
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    static ssize_t (*real)(int, void *, size_t, off_t);
    if (!real) real = (ssize_t (*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    if (should_fail("pread")) { errno = EIO; return -1; }
    return real(fd, buf, count, offset);
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (should_fail("fsync")) { errno = EIO; return -1; }
    return real(fd);
}

int rename(const char *from, const char *to) {
    static int (*real)(const char *, const char *);
    if (!real) real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    if (should_fail("rename")) { errno = EIO; return -1; }
    return real(from, to);
}

int open(const char *path, int flags, ...) {
    static int (*real)(const char *, int, ...);
    if (!real) real = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = (mode_t)va_arg(ap, int);
        va_end(ap);
    }
    if (strncmp(path, "/proc/", 6) != 0 && should_fail("open")) { errno = EMFILE; return -1; }
    return real(path, flags, mode);
}
