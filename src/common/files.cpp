#include "common/files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "common/clock.h"
#include "common/warn.h"

namespace kvn {

namespace {

// Milliseconds left until `deadline` on the monotonic clock (0 once passed).
int remaining_ms(const struct timespec &deadline) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ms = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000 +
                   (deadline.tv_nsec - now.tv_nsec) / 1000000;
    return ms <= 0 ? 0 : static_cast<int>(ms);
}

// The monotonic time `timeout_ms` of player time from now.
struct timespec deadline_after(unsigned timeout_ms) {
    unsigned scaled = timeout_ms / time_divisor();
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += scaled / 1000;
    deadline.tv_nsec += static_cast<long>(scaled % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000;
    }
    return deadline;
}

}  // namespace

int open_regular(const char *path, Found *found, struct stat *info) {
    Found dummy;
    if (found == nullptr) found = &dummy;
    *found = Found::kNothing;
    if (path == nullptr) return -1;
    // O_NONBLOCK: a FIFO planted at the path opens at once instead of
    // waiting for a writer that may never come; it is refused just below.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EISDIR) *found = Found::kOther;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *found = Found::kOther;
        return -1;
    }
    *found = Found::kRegular;
    if (info != nullptr) *info = st;
    return fd;
}

ssize_t read_regular(const char *path, char *buffer, size_t capacity, Found *found,
                     struct stat *info) {
    int fd = open_regular(path, found, info);
    if (fd < 0) return -1;
    size_t got = 0;
    while (got < capacity) {
        ssize_t n = read(fd, buffer + got, capacity - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    // The status after the read, so that a change during it shows up.
    if (info != nullptr) fstat(fd, info);
    close(fd);
    return static_cast<ssize_t>(got);
}

int open_for_writing(const char *path, bool regular_too, const char *who) {
    int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == ELOOP || error == EISDIR) {
            warn(who, "refusing to write %s: %s", path,
                 error == ELOOP ? "it is a symbolic link" : "it is a directory");
        }
        errno = error;
        return -1;
    }
    struct stat st;
    bool fits = fstat(fd, &st) == 0 &&
                (S_ISFIFO(st.st_mode) || (regular_too && S_ISREG(st.st_mode) && st.st_nlink == 1));
    if (!fits) {
        warn(who, "refusing to write %s: not a %s", path,
             regular_too ? "FIFO or a plain file with one name" : "FIFO");
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int open_for_a_reader(const char *path, bool regular_too, const char *who, unsigned timeout_ms) {
    const struct timespec deadline = deadline_after(timeout_ms);
    for (;;) {
        int fd = open_for_writing(path, regular_too, who);
        if (fd >= 0 || errno != ENXIO || remaining_ms(deadline) == 0) return fd;
        // A blocking open could not be bounded; a reader that reopens its end
        // after each message is back within a few polls.
        sleep_us(10000);
    }
}

bool write_fully(int fd, const void *data, size_t size, unsigned timeout_ms) {
    const char *p = static_cast<const char *>(data);
    const struct timespec deadline = deadline_after(timeout_ms);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        int left = remaining_ms(deadline);
        if (left == 0) return false;
        struct pollfd pfd = {fd, POLLOUT, 0};
        if (poll(&pfd, 1, left) < 0 && errno != EINTR) return false;
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

namespace {

// Clears `path` for a new file.  A folder that is not empty is moved aside
// whole rather than emptied: a tree that another user can change while root
// removes it may be turned into a road elsewhere through a link, and one
// rename of the name itself cannot.
bool clear_path(const char *path, const char *who) {
    if (unlink(path) == 0 || errno == ENOENT) return true;
    int error = errno;
    struct stat st;
    if ((error == EISDIR || error == EPERM) && lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
        if (rmdir(path) == 0 || errno == ENOENT) return true;
        error = errno;
        std::string aside = std::string(path) + ".moved-XXXXXX";
        // A name of root's own that nobody else can take first; the folder
        // replaces it, since it is empty.
        if (mkdtemp(&aside[0]) != nullptr) {
            if (rename(path, aside.c_str()) == 0) {
                warn(who, "%s was a folder; moved aside to %s", path, aside.c_str());
                return true;
            }
            error = errno;
            rmdir(aside.c_str());
        }
    }
    warn(who, "cannot remove %s: %s", path, strerror(error));
    return false;
}

bool roots(uid_t uid) { return uid == 0 || uid == geteuid(); }

// The first step of `path` (from / down to `path` itself, whose last link is
// not followed) that another user can change: null when there is none.
const char *changeable_step(const std::string &path, std::string *step) {
    std::string prefix;
    size_t at = 0;
    do {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) prefix += "/" + path.substr(at, end - at);
        at = end + 1;
        *step = prefix.empty() ? "/" : prefix;
        struct stat st;
        if (lstat(step->c_str(), &st) != 0) return strerror(errno);
        if (S_ISLNK(st.st_mode)) {
            if (!roots(st.st_uid)) return "a link of another user";
        } else if (!S_ISDIR(st.st_mode)) {
            return "not a folder";
        } else if (!roots(st.st_uid)) {
            return "a folder of another user";
        } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
            return "a folder others may write to";
        }
    } while (at <= path.size());
    return nullptr;
}

// Opens for writing what is at `path`, or a new file there, without
// following a link or waiting on a FIFO: the name is looked at once, by the
// open itself, and what is judged is what was opened.
int open_own_file(const char *path, const char *who, bool *cannot_create) {
    const int flags = O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    *cannot_create = false;
    int fd = -1;
    // Never with O_CREAT alone on an existing name: a plain file's old
    // content or times are kept until it has been judged.
    for (int round = 0; round < 3 && fd < 0; ++round) {
        fd = open(path, flags);
        if (fd < 0 && errno == ENOENT) fd = open(path, flags | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    const char *why = nullptr;
    struct stat st;
    if (fd < 0) {
        // ENXIO: a FIFO that no process reads (or a device with nothing behind it).
        why = errno == ELOOP    ? "it is a symbolic link"
              : errno == EISDIR ? "it is a directory"
              : errno == ENXIO  ? "it is not a plain file"
                                : nullptr;
        if (why == nullptr) {
            warn(who, "cannot write %s: %s", path, strerror(errno));
            *cannot_create = true;
            return -1;
        }
    } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a plain file";
    } else if (st.st_nlink != 1) {
        why = "it has another name";
    } else if (!roots(st.st_uid)) {
        why = "it is another user's file";
    }
    if (why == nullptr) return fd;
    if (fd >= 0) close(fd);
    warn(who, "refusing to write %s: %s", path, why);
    return -1;
}

}  // namespace

int write_own_file(const char *path, const char *data, size_t size, const char *who) {
    bool cannot_create = false;
    int fd = open_own_file(path, who, &cannot_create);
    if (fd < 0) return cannot_create ? kCannotCreate : -1;
    bool done = true;
    if (data == nullptr) {
        done = futimens(fd, nullptr) == 0;
    } else {
        // The new content first, then the old tail cut: a reader never finds
        // the file empty, only the new number, perhaps with old bytes after
        // its line end for a moment.
        size_t written = 0;
        while (done && written < size) {
            ssize_t n = write(fd, data + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            done = n > 0;
            if (done) written += static_cast<size_t>(n);
        }
        done = done && ftruncate(fd, static_cast<off_t>(size)) == 0;
    }
    if (!done) warn(who, "cannot write %s: %s", path, strerror(errno));
    close(fd);
    return done ? 0 : kCannotCreate;
}

int touch_marker(const char *path, const char *who) {
    return write_own_file(path, nullptr, 0, who);
}

int create_private(const char *path, const char *who) {
    // Whoever made the old file could still hold it open, or have put a link
    // there; a new file created exclusively is nobody's but ours.  Something
    // put back at once is cleared again; one who keeps putting it back only
    // makes this one file fail.
    int error = 0;
    for (int round = 0; round < 3; ++round) {
        if (!clear_path(path, who)) return -1;
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        error = errno;
        if (error != EEXIST) break;
    }
    warn(who, "cannot create %s afresh: %s", path, strerror(error));
    return -1;
}

bool roots_folder(const char *dir, std::string *why) {
    char resolved[PATH_MAX];
    std::string step = dir;
    const char *reason = nullptr;
    if (realpath(dir, resolved) == nullptr) {
        reason = strerror(errno);
    } else {
        // The path as given (its links must be root's) and where it leads.
        reason = changeable_step(dir, &step);
        if (reason == nullptr) reason = changeable_step(resolved, &step);
    }
    if (reason == nullptr) return true;
    *why = step + ": " + reason;
    return false;
}

int open_roots_file(const char *path, std::string *why) {
    why->clear();
    struct stat st;
    if (stat(path, &st) != 0 && errno == ENOENT) return -1;  // nothing there, or a dangling link
    std::string dir = path;
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    if (!roots_folder(dir.c_str(), why)) return -1;
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            *why = std::string(path) + ": " + (errno == ELOOP ? "a link" : strerror(errno));
        return -1;
    }
    const char *reason = nullptr;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "not a plain file";
    } else if (!roots(st.st_uid)) {
        reason = "a file of another user";
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        reason = "a file others may write to";
    }
    if (reason == nullptr) return fd;
    close(fd);
    *why = std::string(path) + ": " + reason;
    return -1;
}

bool still_private(const char *path, int fd, const char *who) {
    struct stat by_fd;
    struct stat by_name;
    if (fstat(fd, &by_fd) != 0 || lstat(path, &by_name) != 0 || by_fd.st_dev != by_name.st_dev ||
        by_fd.st_ino != by_name.st_ino) {
        warn(who, "%s was replaced", path);
        return false;
    }
    if (!S_ISREG(by_fd.st_mode) || by_fd.st_nlink != 1 || by_fd.st_uid != geteuid() ||
        (by_fd.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        warn(who, "%s is no longer private", path);
        return false;
    }
    return true;
}

bool read_all(int fd, std::string *text, size_t limit) {
    text->clear();
    if (lseek(fd, 0, SEEK_SET) != 0) return false;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (text->size() + static_cast<size_t>(n) > limit) return false;
        text->append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace kvn
