/* Linked into a writer of the settings store, ahead of the C library and
 * of any sanitizer runtime (so the sanitizer builds run it too): fails call
 * number KVN_FAULT_N of KVN_FAULT_CALL (write, read, pread, fsync, rename or
 * open), once or, with KVN_FAULT_FOREVER=1, from then on, the way a full or
 * failing flash would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
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

/* The real call, or the failure with `err` when its turn has come. */
#define FAULTY(ret, name, err, cond, params, args)                                   \
    ret name params {                                                                \
        static ret (*real) params;                                                   \
        if (!real) real = (ret (*) params)dlsym(RTLD_NEXT, #name);                   \
        if ((cond) && should_fail(#name)) { errno = err; return -1; }                \
        return real args;                                                            \
    }
FAULTY(ssize_t, write, ENOSPC, fd > 2, (int fd, const void *buf, size_t count), (fd, buf, count))
FAULTY(ssize_t, read, EIO, fd > 2, (int fd, void *buf, size_t count), (fd, buf, count))
FAULTY(ssize_t, pread, EIO, 1, (int fd, void *buf, size_t count, off_t offset), (fd, buf, count, offset))
FAULTY(int, fsync, EIO, 1, (int fd), (fd))
FAULTY(int, rename, EIO, 1, (const char *from, const char *to), (from, to))

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
