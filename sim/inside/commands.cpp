#include "commands.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <chrono>
#include <regex>

#include "flash_setting.h"
#include "korvan_framework_lib.h"
#include "messages.h"
#include "options.h"
#include "png_image.h"
#include "remote.h"
#include "screen.h"
#include "status.h"
#include "status_watch.h"
#include "stop_signal.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

enum { kGoOn = 0, kQuit = -1 };
// How long expect-shot looks again at a screen that does not match yet.
constexpr auto kShotSettleTime = std::chrono::seconds(2);

int complain(int line, const std::string &text, int status) {
    tell("line " + std::to_string(line) + ": " + text);
    return status;
}

int expect_file(const Command &c) {
    // Never waiting on a FIFO or a device: only a regular file holds a text.
    int fd = open(c.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return complain(
            c.line, "expected " + c.path + " to hold \"" + c.text + "\", but it does not exist", 1);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return complain(
            c.line, "expected " + c.path + " to hold \"" + c.text + "\", but it is no regular file",
            1);
    }
    // No player file is this large: read no more than a line's worth.
    std::string content(kMaxLineBytes + 2, '\0');
    ssize_t n = read(fd, &content[0], content.size());
    close(fd);
    content.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (!content.empty() && content.back() == '\n') content.pop_back();
    if (content != c.text)
        return complain(
            c.line,
            "expected " + c.path + " to hold \"" + c.text + "\", it holds \"" + content + "\"", 1);
    say("  ok: " + c.path + " holds \"" + c.text + "\"");
    return kGoOn;
}

// Whether a script may write into the folder open on `dir`: one of the
// sandbox's own file systems (its /, /tmp, /run, /etc, /opt, /dev/shm,
// where the player's files lie, each a tmpfs of its own) or the shots
// folder.  A folder shared from the host (the build or source tree, a home
// folder) lies on the host's file systems, and a script has no business
// there.  The file system's kind is asked too: under an emulator that looks
// up names in the target's root first, "/etc" is the root's, on the same
// disk as the build tree.
bool may_write_in(int dir, const std::string &shots) {
    struct stat at, own;
    struct statfs kind;
    if (fstat(dir, &at) != 0) return false;
    if (fstatfs(dir, &kind) == 0 && kind.f_type == TMPFS_MAGIC)
        for (const char *place : {"/", "/tmp", "/run", "/etc", "/opt", "/dev/shm"})
            if (stat(place, &own) == 0 && own.st_dev == at.st_dev) return true;
    char name[PATH_MAX], shots_name[PATH_MAX];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), name, sizeof name - 1);
    if (n <= 0 || realpath(shots.c_str(), shots_name) == nullptr) return false;
    name[n] = '\0';
    return lies_in(name, shots_name);
}

// Writes the line, as the player's programs do: never waiting for a FIFO
// without a reader, never through a link, and only where may_write_in allows.
int write_command(const Command &c, const std::string &shots) {
    bool pipe = c.kind == CommandKind::Pipe;
    std::string path = pipe ? "/tmp/display" : absolute_path(c.path);
    std::string folder = folder_of(path), name = path.substr(path.rfind('/') + 1);
    int dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0 && !may_write_in(dir, shots)) {
        close(dir);
        return complain(
            c.line,
            "will not write " + path +
                ": a script writes only the sandbox's own files and into the shots folder",
            3);
    }
    int create = pipe ? 0 : O_CREAT | O_TRUNC;
    int fd = dir < 0 ? -1
                     : openat(dir, name.c_str(),
                              O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | create, 0644);
    std::string line = c.text + "\n";
    bool written =
        fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int saved = errno;
    if (fd >= 0) close(fd);
    if (dir >= 0) close(dir);
    if (!written) return complain(c.line, "cannot write " + path + ": " + strerror(saved), 3);
    return kGoOn;
}

int expect_trace(const Command &c) {
    watch_pass();
    std::string found;
    if (trace_has(std::regex(c.text, std::regex::extended), found)) {
        say("  ok: trace has \"" + found + "\"");
        return kGoOn;
    }
    return complain(c.line, "no trace line so far matches \"" + c.text + "\"", 1);
}

bool same_colour(uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16}) {
        int d = static_cast<int>(a >> shift & 0xff) - static_cast<int>(b >> shift & 0xff);
        if (d > kShotColourSlack || d < -kShotColourSlack) return false;
    }
    return true;
}

// Pixels whose colour differs (the stored pictures hold no alpha); with
// `diff`, those in magenta over the stored picture darkened.
size_t pixels_differing(const Picture &screen, const Picture &stored, Picture *diff) {
    size_t differ = 0;
    for (size_t i = 0; i < screen.pixels.size(); ++i) {
        bool same =
            screen.pixels[i] == stored.pixels[i] || same_colour(screen.pixels[i], stored.pixels[i]);
        differ += same ? 0 : 1;
        if (diff) diff->pixels[i] = same ? (stored.pixels[i] >> 2 & 0x3f3f3fu) : 0xff00ffu;
    }
    return differ;
}

// The screen against its stored picture.  A screen that does not match is
// looked at again for a while: a page may still be being drawn, however
// long the script waited on a loaded machine.  On a mismatch the screen
// and the diff go into the shots folder.
int expect_shot(const Command &c, const CommandContext &context) {
    Picture screen, stored;
    std::string error;
    if (!grab_screen(screen, error)) return complain(c.line, error, 3);
    if (context.stored_shots.empty())
        return complain(c.line, "expect-shot needs --stored-shots when no script is run", 3);
    if (context.update_shots) {
        // Made by the launcher; a player run in a sandbox of its own makes it.
        mkdir(context.stored_shots.c_str(), 0755);
        if (!save_png(context.stored_shots, c.text, screen, error))
            return complain(c.line, error, 3);
        return kGoOn;
    }
    std::string path = context.stored_shots + "/" + c.text + ".png";
    const size_t total = screen.pixels.size();
    const size_t allowed = static_cast<size_t>(c.tolerance / 100.0 * static_cast<double>(total));
    bool comparable = false;
    size_t differ = total;
    if (!read_png_file(path, 1L << 24, stored, error)) {
        error = "no stored picture: " + error + " (--update-shots stores the screen)";
    } else if (stored.width != screen.width || stored.height != screen.height) {
        error = "the stored picture " + path + " is " + std::to_string(stored.width) + "x" +
                std::to_string(stored.height) + ", the screen " + std::to_string(screen.width) +
                "x" + std::to_string(screen.height);
    } else {
        comparable = true;
        auto until = std::chrono::steady_clock::now() + kShotSettleTime;
        while ((differ = pixels_differing(screen, stored, nullptr)) > allowed &&
               std::chrono::steady_clock::now() < until && !stop_requested() &&
               sleep_unless_stopped(std::chrono::milliseconds(20)) && grab_screen(screen, error)) {
        }
        error =
            std::to_string(differ) + " of " + std::to_string(total) + " pixels differ from " + path;
    }
    if (comparable && differ <= allowed) {
        say("  ok: " + error);
        return kGoOn;
    }
    std::string written;
    Picture diff = screen;
    if (comparable) pixels_differing(screen, stored, &diff);
    if (!save_png(context.shots, c.text, screen, written) ||
        (comparable && !save_png(context.shots, c.text + "-diff", diff, written)))
        return complain(c.line, written, 3);
    char share[32];
    snprintf(share, sizeof share, "%g%%", c.tolerance);
    return complain(c.line,
                    "the screen " + c.text + " differs: " + error + " (allowed: " + share + ")",
                    kStatusShotDiffers);
}

// A value in the settings store, made durable at once, where the library
// and its peers read it (the interface language is "lang").
int set_value(const Command &c) {
    if (write_var(c.path.c_str(), c.text.c_str(), 0) != 0 || save_commit() != 0)
        return complain(c.line, "the settings store did not take " + c.path, 3);
    return kGoOn;
}

int run(const Command &c, const CommandContext &context) {
    std::string error;
    switch (c.kind) {
        case CommandKind::Key:
            press(c.key);
            return kGoOn;
        case CommandKind::Wait:
            sleep_unless_stopped(
                std::chrono::microseconds(c.milliseconds * 1000 / context.divisor));
            return kGoOn;
        case CommandKind::Shot:
            if (!take_shot(context.shots, c.text, error)) return complain(c.line, error, 3);
            return kGoOn;
        case CommandKind::Pipe:
        case CommandKind::File:
            return write_command(c, context.shots);
        case CommandKind::Focus:
            if (focus_on_window(c.window_id) != 0)
                return complain(
                    c.line,
                    std::string("focus_on_window(") + window_id_str[c.window_id] + ") failed", 3);
            return kGoOn;
        case CommandKind::ExpectFile:
            return expect_file(c);
        case CommandKind::ExpectTrace:
            return expect_trace(c);
        case CommandKind::ExpectShot:
            return expect_shot(c, context);
        case CommandKind::Setting:
            return set_value(c);
        case CommandKind::Quit:
            return kQuit;
    }
    return kGoOn;
}

}  // namespace

int run_commands(const std::vector<Command> &commands, const CommandContext &context) {
    int differed = 0;
    for (const Command &c : commands) {
        if (stop_requested()) break;
        say("[" + std::to_string(c.line) + "] " + c.source);
        int r = run(c, context);
        if (r == kQuit) break;
        if (r == kStatusShotDiffers)
            differed = r;
        else if (r != kGoOn)
            return r;
    }
    return differed;
}

int run_standard_input(const CommandContext &context, bool &quit) {
    LineReader reader(STDIN_FILENO, stop_fd());
    std::string raw;
    int status = 0;
    quit = false;
    for (int number = 1;; ++number) {
        LineReader::Result result = reader.next(raw);
        if (result == LineReader::Result::End) return status;
        if (result == LineReader::Result::Stopped) break;
        if (result == LineReader::Result::TooLong) {
            complain(number, "longer than " + std::to_string(kMaxLineBytes) + " bytes: skipped", 0);
            continue;
        }
        Command c;
        std::string error;
        ParseResult p = parse_line(raw, number, c, error);
        if (p == ParseResult::Empty) continue;
        if (p == ParseResult::Error) {
            complain(number, error, 0);
            continue;
        }
        int r = run(c, context);
        if (r == kQuit || stop_requested()) break;
        if (r == kStatusExpectation || (r == kStatusShotDiffers && status == 0)) status = r;
    }
    quit = true;
    return status;
}

}  // namespace kvn_sim
