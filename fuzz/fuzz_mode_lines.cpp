// The mode pipe as check_tvmode_fifo reads it, and the mode names of
// /tmp/tvname: the input is cut into writes
// of fuzzed sizes into a real pipe whose writer stays open between them and
// closes at the end; every command read must be a whole line of the input,
// in order, and no over-long line may be acted on, not even its end.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tvmode/mode_lines.h"
#include "tvmode/mode_parse.h"

namespace {

constexpr size_t kLongest = 60;

// The lines the input holds, over-long ones left out; the text after the
// last line end is a line too, once its writer has gone.
std::vector<std::string> expected_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        bool ended = end != std::string::npos;
        if (!ended) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.size() <= kLongest) lines.push_back(line);
        start = ended ? end + 1 : end;
    }
    return lines;
}

void check_command(const std::string &line) {
    kvn::ModeCommand parsed = kvn::parse_mode_command(line.c_str());
    if (parsed.reply == nullptr || strncmp(parsed.reply, "tv=", 3) != 0) abort();
    if (parsed.code < 0 || parsed.code > 11) abort();
    if (parsed.has_prefix != (strncmp(line.c_str(), "tv=", 3) == 0)) abort();
    if (parsed.save != (strstr(line.c_str(), "save") != nullptr)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    // The first byte seeds the sizes of the writes.
    unsigned seed = data[0];
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
    kvn::LineReader reader(kLongest);
    std::vector<std::string> got;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        seed = seed * 1103515245u + 12345u;
        size_t chunk = 1 + (seed >> 16) % 97;
        if (chunk > text.size() - at) chunk = text.size() - at;
        if (write(ends[1], text.data() + at, chunk) != static_cast<ssize_t>(chunk)) abort();
        at += chunk;
        while (reader.next(ends[0], &line)) got.push_back(line);
    }
    close(ends[1]);
    while (reader.next(ends[0], &line)) got.push_back(line);
    close(ends[0]);
    if (got != expected_lines(text)) abort();
    for (const std::string &command : got) {
        if (command.size() > kLongest || command.find('\n') != std::string::npos) abort();
        check_command(command);
    }
    // The output side's name of its mode, as read from /tmp/tvname.
    char name[10];
    size_t m = text.size() < 9 ? text.size() : 9;
    memcpy(name, text.data(), m);
    name[m] = '\0';
    kvn::map_tvname(name, sizeof name);
    if (strlen(name) > 9) abort();
    return 0;
}
