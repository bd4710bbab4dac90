// The TV mode as the applications share it: decimal numbers in small files
// under /tmp, seeded from the settings store, and the picture switched off
// and back on around standby.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

#include "korvan_framework_lib.h"
#include "kvn_files.h"
#include "kvn_platform.h"
#include "value_file.h"

namespace {

constexpr const char *kTvmodeFile = "/tmp/tvmode";
constexpr int kPictureOff = 28;
// The command buffer of the player's shell helpers: 30 characters at most.
constexpr size_t kCommandBound = 31;

// A value file as read: nothing usable there (missing, empty, no regular
// file), a number, or digits beyond int.
struct FileNumber {
    enum Kind { kNone, kNumber, kTooLarge } kind = kNone;
    int value = -1;
};

FileNumber read_number_file(const char *path, kvn::Found *found, struct stat *info) {
    char buf[KVN_VALUE_FILE_MAX_BYTES + 1];
    memset(buf, 0, sizeof buf);
    ssize_t got = kvn::read_regular(path, buf, KVN_VALUE_FILE_MAX_BYTES, found, info);
    FileNumber number;
    if (got <= 0 || buf[0] == '\0') return number;
    if (kvn::parse_number(buf, strlen(buf), &number.value)) {
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

FileNumber mode_file_number() {
    struct stat st;
    if (stat(kTvmodeFile, &st) != 0 || !S_ISREG(st.st_mode)) return FileNumber();
    {
        std::lock_guard<std::mutex> lock(g_mode_file.mutex);
        if (g_mode_file.valid && same_file(st, g_mode_file.seen)) return g_mode_file.number;
    }
    struct timespec read_at;
    clock_gettime(CLOCK_REALTIME_COARSE, &read_at);
    kvn::Found found;
    struct stat info;
    FileNumber number = read_number_file(kTvmodeFile, &found, &info);
    std::lock_guard<std::mutex> lock(g_mode_file.mutex);
    g_mode_file.valid = found == kvn::Found::kRegular && settled(info.st_ctim, read_at);
    g_mode_file.seen = info;
    g_mode_file.number = number;
    return number;
}

FileNumber value_file_number(const char *path) {
    if (strcmp(path, kTvmodeFile) == 0) return mode_file_number();
    return read_number_file(path, nullptr, nullptr);
}

}  // namespace

namespace kvn {

bool parse_number(const char *text, size_t n, int *value) {
    size_t i = 0;
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long magnitude = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT_MAX || signed_value < INT_MIN) return false;
    *value = static_cast<int>(signed_value);
    return true;
}

bool stored_number(const char *key, int *value) {
    char *text = get_var_mem(key);
    if (text == nullptr) return false;
    bool ok = parse_number(text, strlen(text), value);
    free(text);
    return ok;
}

bool is_picture_mode(int code) { return (code >= 0 && code <= 11) || (code >= 20 && code <= 22); }

}  // namespace kvn

extern "C" int kvn_parse_value_text(const char *buf, size_t n) {
    char text[KVN_VALUE_FILE_MAX_BYTES + 1];
    memset(text, 0, sizeof text);
    if (buf != nullptr)
        memcpy(text, buf, n < KVN_VALUE_FILE_MAX_BYTES ? n : KVN_VALUE_FILE_MAX_BYTES);
    int value = -1;
    if (text[0] == '\0' || !kvn::parse_number(text, strlen(text), &value)) return -1;
    return value;
}

extern "C" bool kvn_value_path_is_safe(const char *path) {
    if (path == nullptr || *path == '\0') return false;
    for (const char *p = path; *p != '\0'; ++p) {
        char c = *p;
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '/' || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

extern "C" int write_value_to_file(const char *path, int value) {
    // The path goes to the shell unquoted, and a command longer than the
    // buffer would be cut and write some other file: refuse both rather
    // than run something else than was asked for.
    if (!kvn_value_path_is_safe(path)) {
        fprintf(stderr, "write_value_to_file: refusing unsafe path \"%s\"\n",
                path != nullptr ? path : "(null)");
        return -1;
    }
    char command[32];
    int needed = snprintf(command, kCommandBound, "echo \"%d\" > %s", value, path);
    if (needed < 0 || static_cast<size_t>(needed) >= kCommandBound) {
        fprintf(stderr, "write_value_to_file: command for \"%s\" longer than %zu characters\n",
                path, kCommandBound - 1);
        return -1;
    }
    // The shell's redirection would wait for ever on a FIFO and write through
    // a link planted in /tmp.
    if (!kvn::shell_may_write(path, "write_value_to_file")) return -1;
    return system(command);
}

extern "C" int get_value_from_file(const char *path) {
    if (path == nullptr) return -1;
    FileNumber number = value_file_number(path);
    return number.kind == FileNumber::kNumber ? number.value : -1;
}

extern "C" int init_video_config(void *context) {
    (void)context;
    if (get_value_from_file(kTvmodeFile) != -1) return 0;
    int mode = 0;  // automatic when nothing (usable) was ever stored
    if (!kvn::stored_number("video_output", &mode)) mode = 0;
    write_var("video_output", &mode, 1);
    write_value_to_file(kTvmodeFile, mode);
    return 0;
}

extern "C" int init_audio_config(void) { return 0; }

extern "C" int VideoOutputOnOff(int on, kvn_window *window) {
    (void)window;
    if (on == 1) {
        printf("Turn ON the display \n");
        FileNumber number = mode_file_number();
        int recorded = number.kind == FileNumber::kNumber ? number.value : -1;
        printf("tvmode :%d\n", recorded);
        fflush(stdout);
        int code = recorded;
        // What a missing file (or one holding -1) reads as goes to the
        // daemon as ever.  A file holding the picture-off code, or any number
        // that names no picture, would keep the screen dark after the wake:
        // the stored mode is restored instead, or the automatic mode.
        bool recorded_as_missing = number.kind == FileNumber::kNone ||
                                   (number.kind == FileNumber::kNumber && recorded == -1);
        if (!recorded_as_missing && !kvn::is_picture_mode(recorded)) {
            int stored = 0;
            code = kvn::stored_number("video_output", &stored) && kvn::is_picture_mode(stored) ? stored : 0;
            fprintf(stderr, "VideoOutputOnOff: /tmp/tvmode holds no picture mode; restoring mode %d\n",
                    code);
        }
        smpoutd_api_set_tvmode(code);
    } else {
        printf("Turn OFF the display \n");
        fflush(stdout);
        smpoutd_api_set_tvmode(kPictureOff);
    }
    return 0;
}
