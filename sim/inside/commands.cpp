#include "commands.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "korvan_framework_lib.h"
#include "messages.h"
#include "options.h"
#include "remote.h"
#include "screen.h"
#include "status_watch.h"
#include "stop_signal.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

enum { kGoOn = 0, kQuit = -1 };

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
// where the player's files lie) or the shots folder.  A folder shared from
// the host (the build or source tree, a home folder) lies on the host's
// file systems, and a script has no business there.
bool may_write_in(int dir, const std::string &shots) {
    struct stat at, own;
    if (fstat(dir, &at) != 0) return false;
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
        case CommandKind::Quit:
            return kQuit;
    }
    return kGoOn;
}

}  // namespace

int run_commands(const std::vector<Command> &commands, const CommandContext &context) {
    for (const Command &c : commands) {
        if (stop_requested()) return 0;
        say("[" + std::to_string(c.line) + "] " + c.source);
        int r = run(c, context);
        if (r == kQuit) return 0;
        if (r != kGoOn) return r;
    }
    return 0;
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
        if (r == 1) status = 1;
    }
    quit = true;
    return status;
}

}  // namespace kvn_sim
