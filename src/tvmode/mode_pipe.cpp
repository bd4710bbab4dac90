// Mode commands from other programs through /tmp/display, and the
// follow-up of an HDMI hot-plug.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <mutex>
#include <string>

#include "common/codes.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"
#include "mode_parse.h"
#include "mode_reads.h"
#include "platform/imports.h"
#include "reply_input.h"

namespace kvn {

namespace {

constexpr const char *kHdmiMarker = "/tmp/hdmi_changed";
// Only the first 60 bytes of a command count ("tv=1080p24 save" needs 15).
constexpr size_t kLongestCommand = 60;
// One read asks for more than the longest command, so that a command written
// whole (one write of up to 60 bytes, as the other programs send them) never
// fills the buffer and is carried out by the call that reads it.  512 bytes
// take a burst of dozens of commands in one read; the rest waits in the pipe.
constexpr size_t kReadSize = 512;

struct ModePipe {
    std::mutex mutex;  // held while a command is taken and carried out
    CommandReader commands{kReadSize, kLongestCommand};
};
ModePipe g_mode_pipe;

// A marker that could not be removed, so that it is answered once only.
struct Marker {
    std::mutex mutex;
    bool stuck = false;
    struct stat seen;
    int result = 0;
};
Marker g_marker;

bool same_marker(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace

}  // namespace kvn

extern "C" void check_tvmode_fifo(void) {
    // Another application's thread is carrying out a command: the ones behind
    // it are its to take, in order.
    std::unique_lock<std::mutex> lock(kvn::g_mode_pipe.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    std::string command;
    if (!kvn::g_mode_pipe.commands.next(outport_pipe, &command) || command.size() <= 1) return;
    // As text: a NUL byte inside ends it.
    kvn::ModeCommand parsed = kvn::parse_mode_command(command.c_str());
    if (!parsed.has_prefix) return;
    // Named as parsed, for the warning if it is lost; a line end is no part of
    // it.
    std::string shown = command.c_str();
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
    while (!shown.empty() && shown.back() == ' ') shown.pop_back();
    int fd = kvn::open_reply_input(("the command \"" + shown + "\"").c_str());
    if (fd < 0) return;
    if (parsed.save) {
        char value[16];
        snprintf(value, sizeof value, "%d", parsed.code);
        write_var("video_output", value, kvn::kStoreText);
    }
    change_tvmode(parsed.code, 0);
    kvn::send_reply(fd, parsed.reply);
}

extern "C" int check_hdmi_state_changed(void) {
    int mode = get_value_from_file("/tmp/tvmode");
    if (mode != kvn::kModeAuto) return mode;
    struct stat st;
    if (stat(kvn::kHdmiMarker, &st) != 0) return -1;
    kvn::Marker &marker = kvn::g_marker;
    // Another application's thread is answering a marker (it may wait for the
    // reply's reader): it removes the marker too.
    std::unique_lock<std::mutex> lock(marker.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return -1;
    // A marker that cannot be removed (a folder, say) would otherwise be
    // answered again on every poll, for ever.
    if (marker.stuck && kvn::same_marker(st, marker.seen)) return marker.result;
    if (stat(kvn::kHdmiMarker, &st) != 0) return -1;  // another thread took it meanwhile
    int fd = kvn::open_reply_input("the answer \"tv=auto\" to an HDMI change");
    if (fd >= 0) kvn::send_reply(fd, "tv=auto");
    int result = system("rm /tmp/hdmi_changed");
    struct stat after;
    marker.stuck = stat(kvn::kHdmiMarker, &after) == 0 && kvn::same_marker(after, st);
    if (marker.stuck) {
        marker.seen = st;
        marker.result = result;
        kvn::warn("check_hdmi_state_changed", "cannot remove %s; answered once", kvn::kHdmiMarker);
    }
    return result;
}
