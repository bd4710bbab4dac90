#include "sim_script.h"

#include <directfb_keynames.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>

#include "korvan_framework_lib.h"

namespace kvn_sim {
namespace {

DirectFBKeySymbolNames(key_names);

// Splits off the first word; `rest` is what follows after the blanks.
std::string first_word(const std::string &text, std::string &rest) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        rest.clear();
        return {};
    }
    size_t end = text.find_first_of(" \t", begin);
    if (end == std::string::npos) {
        rest.clear();
        return text.substr(begin);
    }
    size_t next = text.find_first_not_of(" \t", end);
    rest = next == std::string::npos ? std::string() : text.substr(next);
    return text.substr(begin, end - begin);
}

// A comment starts at a '#' that begins a word, so texts may still hold
// '#' inside a word ("tv=#1" stays whole).
std::string strip_comment(const std::string &line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

std::string trim_right(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.pop_back();
    return text;
}

// Digits only.  A number too large for a long (on 32-bit ARM, ten digits
// already) is still a number, over every limit, not a malformed word.
bool parse_number(const std::string &word, long &out) {
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long value = strtoull(word.c_str(), nullptr, 10);
    out = errno == ERANGE || value > LONG_MAX ? LONG_MAX : static_cast<long>(value);
    return true;
}

// A share of the pixels, as "0.5%": from 0 to 100 percent.
bool parse_percent(const std::string &word, double &out) {
    if (word.size() < 2 || word.back() != '%' ||
        word.find_first_not_of("0123456789.") != word.size() - 1)
        return false;
    char *end = nullptr;
    out = strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() - 1 && out >= 0 && out <= 100;
}

}  // namespace

DFBInputDeviceKeySymbol key_from_name(const std::string &name) {
    if (name.empty()) return DIKS_NULL;
    std::string bare = name.compare(0, 5, "DIKS_") == 0 ? name.substr(5) : name;
    for (const auto &entry : key_names) {
        if (bare == entry.name) return entry.symbol;
    }
    // Symbols without a name (the remote's special key 0xF072) by number.
    if (bare.size() > 2 && bare[0] == '0' && (bare[1] == 'x' || bare[1] == 'X')) {
        char *end = nullptr;
        errno = 0;
        unsigned long value = strtoul(bare.c_str() + 2, &end, 16);
        if (errno == 0 && *end == '\0' && value > 0 && value <= 0xFFFF)
            return (DFBInputDeviceKeySymbol)value;
    }
    return DIKS_NULL;
}

std::string key_name(DFBInputDeviceKeySymbol symbol) {
    for (const auto &entry : key_names) {
        if (entry.symbol == symbol) return entry.name;
    }
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%04X", (unsigned)symbol);
    return buffer;
}

int app_from_name(const std::string &name) {
    for (int id = 0; id < KVN_APPLICATION_COUNT; ++id) {
        if (window_id_str[id] != nullptr && name == window_id_str[id]) return id;
    }
    return -1;
}

bool valid_shot_name(const std::string &name) {
    if (name.empty() || name[0] == '.' || name.size() > 100) return false;
    for (char c : name) {
        if (!(isalnum((unsigned char)c) || c == '-' || c == '_' || c == '.')) return false;
    }
    return true;
}

ParseResult parse_line(const std::string &raw, int line_number, Command &out, std::string &error) {
    if (raw.size() > kMaxLineBytes) {
        error = "longer than " + std::to_string(kMaxLineBytes) + " bytes";
        return ParseResult::Error;
    }
    // The words are read as C strings: a NUL would silently end the line early.
    size_t nul = raw.find('\0');
    if (nul != std::string::npos) {
        error = "a NUL byte at byte " + std::to_string(nul + 1);
        return ParseResult::Error;
    }
    std::string line = trim_right(strip_comment(raw));
    std::string rest;
    std::string verb = first_word(line, rest);
    if (verb.empty()) return ParseResult::Empty;
    out = Command();
    out.line = line_number;
    out.source = trim_right(raw);
    auto fail = [&](const std::string &why) {
        error = why;
        return ParseResult::Error;
    };
    if (verb == "key") {
        std::string extra;
        std::string name = first_word(rest, extra);
        if (name.empty()) return fail("key needs a key name");
        if (!extra.empty()) return fail("key takes one key name, got more: \"" + extra + "\"");
        out.kind = CommandKind::Key;
        out.key = key_from_name(name);
        if (out.key == DIKS_NULL) return fail("unknown key name \"" + name + "\"");
    } else if (verb == "wait") {
        std::string extra;
        std::string word = first_word(rest, extra);
        out.kind = CommandKind::Wait;
        if (!parse_number(word, out.milliseconds) || !extra.empty())
            return fail("wait needs one number of milliseconds");
        if (out.milliseconds > kMaxWaitMs)
            return fail("wait takes at most " + std::to_string(kMaxWaitMs) +
                        " milliseconds (one hour)");
    } else if (verb == "shot") {
        out.kind = CommandKind::Shot;
        out.text = rest;
        if (!valid_shot_name(rest)) return fail("shot needs a plain name (letters, digits, - _ .)");
    } else if (verb == "expect-shot") {
        std::string extra;
        out.kind = CommandKind::ExpectShot;
        out.text = first_word(rest, extra);
        if (!valid_shot_name(out.text))
            return fail("expect-shot needs a plain name (letters, digits, - _ .)");
        if (!extra.empty() && !parse_percent(extra, out.tolerance))
            return fail("expect-shot takes a tolerance from 0% to 100%, got \"" + extra + "\"");
    } else if (verb == "pipe") {
        out.kind = CommandKind::Pipe;
        out.text = rest;
        if (rest.empty()) return fail("pipe needs a text");
    } else if (verb == "file" || verb == "expect-file") {
        out.kind = verb == "file" ? CommandKind::File : CommandKind::ExpectFile;
        out.path = first_word(rest, out.text);
        if (out.path.empty() || out.path[0] != '/')
            return fail(verb + " needs an absolute path and a text");
    } else if (verb == "setting") {
        out.kind = CommandKind::Setting;
        out.path = first_word(rest, out.text);
        if (out.path.empty() || out.text.empty()) return fail("setting needs a key and a value");
    } else if (verb == "focus") {
        out.kind = CommandKind::Focus;
        out.window_id = app_from_name(rest);
        if (out.window_id < 0) return fail("unknown application \"" + rest + "\"");
    } else if (verb == "expect-trace") {
        out.kind = CommandKind::ExpectTrace;
        out.text = rest;
        if (rest.empty()) return fail("expect-trace needs a regular expression");
        try {
            std::regex check(rest, std::regex::extended);
        } catch (const std::regex_error &) {
            return fail("bad regular expression \"" + rest + "\"");
        }
    } else if (verb == "quit") {
        out.kind = CommandKind::Quit;
        if (!rest.empty()) return fail("quit takes nothing");
    } else {
        return fail("unknown command \"" + verb + "\"");
    }
    return ParseResult::Command;
}

bool LineReader::fill() {
    if (end_ || stopped_) return false;
    struct pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    for (;;) {
        int ready = poll(fds, stop_fd_ >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            end_ = true;
            return false;
        }
        if (stop_fd_ >= 0 && fds[1].revents != 0) {
            stopped_ = true;
            return false;
        }
        break;
    }
    char buffer[4096];
    ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) {
        end_ = true;
        return false;
    }
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
}

LineReader::Result LineReader::next(std::string &line) {
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            bool cut = skipping_ || end > kMaxLineBytes;
            if (!cut) line.assign(pending_, 0, end);
            pending_.erase(0, end + 1);
            skipping_ = false;
            return cut ? Result::TooLong : Result::Line;
        }
        if (pending_.size() > kMaxLineBytes) {
            pending_.clear();
            skipping_ = true;
        }
        if (!fill()) {
            if (stopped_) return Result::Stopped;
            if (skipping_) {
                skipping_ = false;
                return Result::TooLong;
            }
            if (pending_.empty()) return Result::End;
            line.swap(pending_);
            pending_.clear();
            return Result::Line;
        }
    }
}

bool read_script(int fd, std::vector<Command> &out, std::string &error) {
    out.clear();
    LineReader reader(fd);
    std::string line;
    long total = 0;
    for (int number = 1;; ++number) {
        LineReader::Result r = reader.next(line);
        if (r == LineReader::Result::End || r == LineReader::Result::Stopped) return true;
        total += static_cast<long>(r == LineReader::Result::Line ? line.size() + 1 : kMaxLineBytes);
        if (total > kMaxScriptBytes) {
            error = "larger than " + std::to_string(kMaxScriptBytes >> 20) + " MB: not a script";
            return false;
        }
        if (r == LineReader::Result::TooLong) {
            error = "line " + std::to_string(number) + ": longer than " +
                    std::to_string(kMaxLineBytes) + " bytes";
            return false;
        }
        Command command;
        std::string why;
        switch (parse_line(line, number, command, why)) {
            case ParseResult::Command:
                out.push_back(std::move(command));
                break;
            case ParseResult::Empty:
                break;
            case ParseResult::Error:
                error = "line " + std::to_string(number) + ": " + why;
                return false;
        }
    }
}

bool load_script(const std::string &path, std::vector<Command> &out, std::string &error) {
    // Not blocking on a FIFO nobody writes: its end is then simply empty.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot read it: ") + strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        error = "is a folder, not a script file";
        ok = false;
    } else if (ok && !S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
        error = "is not a script file";
        ok = false;
    } else if (ok && st.st_size > kMaxScriptBytes) {
        error = "larger than " + std::to_string(kMaxScriptBytes >> 20) + " MB: not a script";
        ok = false;
    }
    if (ok) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        ok = read_script(fd, out, error);
    }
    close(fd);
    return ok;
}

std::vector<std::pair<std::string, std::string>> dialog_fields(const std::string &text) {
    std::vector<std::pair<std::string, std::string>> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\t', start);
        if (end == std::string::npos) end = text.size();
        std::string field = text.substr(start, end - start);
        size_t equals = field.find('=');
        if (field.size() > 1 && field[0] == '-' && equals != std::string::npos)
            fields.emplace_back(field.substr(1, equals - 1), field.substr(equals + 1));
        start = end + 1;
    }
    return fields;
}

}  // namespace kvn_sim
