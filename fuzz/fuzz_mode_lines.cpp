// The mode pipe read from a real pipe in writes of fuzzed sizes: every command is a whole line
// of the input, in order, never an over-long one or its end.  Then the name in /tmp/tvname.
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "tvmode/mode_lines.h"
#include "tvmode/mode_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const size_t longest = 60;
    if (size < 1) return 0;
    unsigned seed = data[0];  // seeds the sizes of the writes
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::vector<std::string> expected, got;
    for (size_t start = 0, end = 0; start < text.size(); start = end == std::string::npos ? text.size() : end + 1) {
        end = text.find('\n', start);
        if (std::min(end, text.size()) - start <= longest) expected.push_back(text.substr(start, end - start));
    }
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
    kvn::LineReader reader(longest);
    std::string line;
    for (size_t at = 0, chunk = 0; at < text.size(); at += chunk) {
        seed = seed * 1103515245u + 12345u;
        chunk = std::min<size_t>(1 + (seed >> 16) % 97, text.size() - at);
        if (write(ends[1], text.data() + at, chunk) != static_cast<ssize_t>(chunk)) abort();
        while (reader.next(ends[0], &line)) got.push_back(line);
    }
    close(ends[1]);
    while (reader.next(ends[0], &line)) got.push_back(line);
    close(ends[0]);
    if (got != expected) abort();
    for (const std::string &command : got) {
        kvn::ModeCommand parsed = kvn::parse_mode_command(command.c_str());
        if (parsed.code < 0 || parsed.code > 11 || strncmp(parsed.reply, "tv=", 3) || parsed.has_prefix != !command.compare(0, 3, "tv=")) abort();
    }
    char name[10] = {0};
    memcpy(name, text.data(), std::min<size_t>(text.size(), 9));
    kvn::map_tvname(name, sizeof name);
    if (strlen(name) > 9) abort();
    return 0;
}
