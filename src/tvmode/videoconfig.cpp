// The TV mode as the applications share it: decimal numbers in small files
// under /tmp, seeded from the settings store, and the picture switched off
// and back on around standby.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "korvan_framework_lib.h"
#include "kvn_platform.h"
#include "value_file.h"

namespace {

constexpr const char *kTvmodeFile = "/tmp/tvmode";
constexpr int kPictureOff = 28;
// The command buffer of the player's shell helpers: 30 characters at most.
constexpr size_t kCommandBound = 31;

}  // namespace

extern "C" int kvn_parse_value_text(const char *buf, size_t n) {
    char text[KVN_VALUE_FILE_MAX_BYTES + 1];
    memset(text, 0, sizeof text);
    if (buf != nullptr)
        memcpy(text, buf, n < KVN_VALUE_FILE_MAX_BYTES ? n : KVN_VALUE_FILE_MAX_BYTES);
    if (text[0] == '\0') return -1;
    // Ten digits do not fit an int; clamp rather than wrap so that a huge
    // number never reads back as some unrelated (possibly valid) mode.
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
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
    return system(command);
}

extern "C" int get_value_from_file(const char *path) {
    if (path == nullptr) return -1;
    // Plain open, one read and close: applications poll this file from
    // their loops, and stdio would add a stat and a second read each time.
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[KVN_VALUE_FILE_MAX_BYTES + 1];
    memset(buf, 0, sizeof buf);
    ssize_t got;
    do {
        got = read(fd, buf, KVN_VALUE_FILE_MAX_BYTES);
    } while (got < 0 && errno == EINTR);
    close(fd);
    return kvn_parse_value_text(buf, got > 0 ? static_cast<size_t>(got) : 0);
}

extern "C" int init_video_config(void *context) {
    (void)context;
    if (get_value_from_file(kTvmodeFile) != -1) return 0;
    int mode = 0;  // automatic when nothing was ever stored
    char *stored = get_var_mem("video_output");
    if (stored != nullptr) {
        mode = static_cast<int>(strtol(stored, nullptr, 10));
        free(stored);
    }
    write_var("video_output", &mode, 1);
    write_value_to_file(kTvmodeFile, mode);
    return 0;
}

extern "C" int init_audio_config(void) { return 0; }

extern "C" int VideoOutputOnOff(int on, kvn_window *window) {
    (void)window;
    if (on == 1) {
        printf("Turn ON the display \n");
        int mode = get_value_from_file(kTvmodeFile);
        printf("tvmode :%d\n", mode);
        fflush(stdout);
        smpoutd_api_set_tvmode(mode);
    } else {
        printf("Turn OFF the display \n");
        fflush(stdout);
        smpoutd_api_set_tvmode(kPictureOff);
    }
    return 0;
}
