/* Linked into a writer of the settings store, ahead of the C library and of any sanitizer runtime (so the
 * sanitizer builds run it too): fails call number KVN_FAULT_N of KVN_FAULT_CALL (write, read, pread, fsync,
 * rename or open), once or, with KVN_FAULT_FOREVER=1, from then on, the way a full or failing flash would
 * (or with KVN_FAULT_ERRNO, as a signal would).  With KVN_SYNC_LOG, every path synced is added there. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int should_fail(const char *name) {
    static long seen;
    const char *which = getenv("KVN_FAULT_CALL"), *n = getenv("KVN_FAULT_N"), *forever = getenv("KVN_FAULT_FOREVER");
    if (which == NULL || strcmp(which, name) != 0) return 0;
    ++seen;
    return forever && strcmp(forever, "1") == 0 ? seen >= atol(n ? n : "0") : seen == atol(n ? n : "0");
}

static int fail(int err) { return errno = getenv("KVN_FAULT_ERRNO") ? atoi(getenv("KVN_FAULT_ERRNO")) : err, -1; }

#define REAL(ret, name, params) \
    static ret (*real) params;  \
    if (!real) real = (ret (*) params)dlsym(RTLD_NEXT, #name)

ssize_t write(int fd, const void *buf, size_t count) {
    REAL(ssize_t, write, (int, const void *, size_t));
    return fd > 2 && should_fail("write") ? fail(ENOSPC) : real(fd, buf, count);
}

ssize_t read(int fd, void *buf, size_t count) {
    REAL(ssize_t, read, (int, void *, size_t));
    return fd > 2 && should_fail("read") ? fail(EIO) : real(fd, buf, count);
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    REAL(ssize_t, pread, (int, void *, size_t, off_t));
    return should_fail("pread") ? fail(EIO) : real(fd, buf, count, offset);
}

int rename(const char *from, const char *to) {
    REAL(int, rename, (const char *, const char *));
    return should_fail("rename") ? fail(EIO) : real(from, to);
}

int open(const char *path, int flags, ...) {
    REAL(int, open, (const char *, int, ...));
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = (mode_t)va_arg(ap, int);
        va_end(ap);
    }
    return strncmp(path, "/proc/", 6) != 0 && should_fail("open") ? fail(EMFILE) : real(path, flags, mode);
}

int fsync(int fd) {
    REAL(int, fsync, (int));
    char link[64], path[4097];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = getenv("KVN_SYNC_LOG") ? readlink(link, path, sizeof path - 1) : -1;
    FILE *log = n > 0 ? fopen(getenv("KVN_SYNC_LOG"), "ae") : NULL;  /* not counted: the shim's own calls */
    if (log) fprintf(log, "%.*s\n", (int)n, path), fclose(log);
    return should_fail("fsync") ? fail(EIO) : real(fd);
}
