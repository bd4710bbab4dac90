#include "commands.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "korvan_framework_lib.h"
#include "remote.h"
#include "screen.h"
#include "status_watch.h"
#include "stop_signal.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

enum { kGoOn = 0, kQuit = -1 };

int complain(int line, const std::string &text, int status) {
    fprintf(stderr, "korvan-sim: line %d: %s\n", line, text.c_str());
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
        case CommandKind::File: {
            // A FIFO without a reader is refused at once instead of waited on.
            std::string path = c.kind == CommandKind::Pipe ? "/tmp/display" : c.path;
            int create = c.kind == CommandKind::File ? O_CREAT | O_TRUNC : 0;
            int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | create, 0644);
            std::string line = c.text + "\n";
            bool written =
                fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
            int saved = errno;
            if (fd >= 0) close(fd);
            if (!written)
                return complain(c.line, "cannot write " + path + ": " + strerror(saved), 3);
            return kGoOn;
        }
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
