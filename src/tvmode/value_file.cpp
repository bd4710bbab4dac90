#include "value_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <mutex>

#include "common/files.h"
#include "common/numbers.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"

namespace kvn {

namespace {

// The command buffer of the player's shell helpers: 30 characters at most.
constexpr size_t kCommandBound = 31;

FileNumber read_number_file(const char *path, Found *found, struct stat *info) {
    char buf[kValueFileMaxBytes + 1];
    memset(buf, 0, sizeof buf);
    ssize_t got = read_regular(path, buf, kValueFileMaxBytes, found, info);
    FileNumber number;
    if (got <= 0 || buf[0] == '\0') return number;
    if (parse_number(buf, strlen(buf), &number.value)) {
        number.kind = FileNumber::kNumber;
    } else {
        number.kind = FileNumber::kTooLarge;
        number.value = -1;
    }
    return number;
}

// /tmp/tvmode is polled by every application loop many times a second and
// changes a few times a day: its value is kept, and read again only when one
// stat shows another file, size, modification or change time.
struct ModeFileCache {
    std::mutex mutex;
    bool valid = false;
    struct stat seen;
    FileNumber number;
};
ModeFileCache g_mode_file;

bool same_timestamp(const struct timespec &a, const struct timespec &b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           same_timestamp(a.st_mtim, b.st_mtim) && same_timestamp(a.st_ctim, b.st_ctim);
}

// A change within the clock tick (or, on a file system that keeps whole
// seconds, the second) in which the file was read would carry the very same
// times; such a read is not trusted, and the next pass reads again.
bool settled(const struct timespec &changed, const struct timespec &read_at) {
    if (changed.tv_nsec != 0) {
        return changed.tv_sec < read_at.tv_sec ||
               (changed.tv_sec == read_at.tv_sec && changed.tv_nsec < read_at.tv_nsec);
    }
    return changed.tv_sec + 2 <= read_at.tv_sec;
}

}  // namespace

FileNumber mode_file_number() {
    struct stat st;
    if (stat(kTvmodeFile, &st) != 0 || !S_ISREG(st.st_mode)) return FileNumber();
    {
        std::lock_guard<std::mutex> lock(g_mode_file.mutex);
        if (g_mode_file.valid && same_file(st, g_mode_file.seen)) return g_mode_file.number;
    }
    struct timespec read_at;
    clock_gettime(CLOCK_REALTIME_COARSE, &read_at);
    Found found;
    struct stat info;
    FileNumber number = read_number_file(kTvmodeFile, &found, &info);
    std::lock_guard<std::mutex> lock(g_mode_file.mutex);
    g_mode_file.valid = found == Found::kRegular && settled(info.st_ctim, read_at);
    g_mode_file.seen = info;
    g_mode_file.number = number;
    return number;
}

namespace {

FileNumber value_file_number(const char *path) {
    if (strcmp(path, kTvmodeFile) == 0) return mode_file_number();
    return read_number_file(path, nullptr, nullptr);
}

}  // namespace

int parse_value_text(const char *buf, size_t n) {
    char text[kValueFileMaxBytes + 1];
    memset(text, 0, sizeof text);
    if (buf != nullptr) memcpy(text, buf, n < kValueFileMaxBytes ? n : kValueFileMaxBytes);
    int value = -1;
    if (text[0] == '\0' || !parse_number(text, strlen(text), &value)) return -1;
    return value;
}

bool value_path_is_safe(const char *path) {
    if (path == nullptr || *path == '\0') return false;
    for (const char *p = path; *p != '\0'; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '/' || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

}  // namespace kvn

extern "C" int write_value_to_file(const char *path, int value) {
    // `echo "N" > PATH` is this write as the player's programs know it: a
    // path that command could not carry unquoted, or one too long for its
    // 30 characters, is refused.  The bytes are written here, not by a
    // shell, whose redirection would open the name again after any check,
    // through a link or into a FIFO planted in /tmp meanwhile.
    if (!kvn::value_path_is_safe(path)) {
        kvn::warn("write_value_to_file", "refusing unsafe path \"%s\"",
                  path != nullptr ? path : "(null)");
        return -1;
    }
    char command[32];
    int needed = snprintf(command, kvn::kCommandBound, "echo \"%d\" > %s", value, path);
    if (needed < 0 || static_cast<size_t>(needed) >= kvn::kCommandBound) {
        kvn::warn("write_value_to_file", "command for \"%s\" longer than %zu characters", path,
                  kvn::kCommandBound - 1);
        return -1;
    }
    char text[16];
    int length = snprintf(text, sizeof text, "%d\n", value);
    return kvn::write_own_file(path, text, static_cast<size_t>(length), "write_value_to_file");
}

extern "C" int get_value_from_file(const char *path) {
    if (path == nullptr) return -1;
    kvn::FileNumber number = kvn::value_file_number(path);
    return number.kind == kvn::FileNumber::kNumber ? number.value : -1;
}
