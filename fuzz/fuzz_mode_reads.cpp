// The mode pipe written and read in fuzzed sizes: what reached it between two polls that emptied it
// comes out as the pieces between its line ends, in order, each cut to its first 60 bytes, none cut
// in two by the reads.  Then the command parse and the name in /tmp/tvname.
#include <fcntl.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "fuzz.h"
#include "tvmode/mode_parse.h"
#include "tvmode/mode_reads.h"

static const size_t kLongest = 60;

// Polls until the pipe is empty and nothing is held; `written`, all since the last such poll, is
// expected as its pieces between line ends.
static void poll(kvn::CommandReader &reader, int fd, const std::string &written,
                 std::vector<std::string> *expected, std::vector<std::string> *got) {
    for (size_t start = 0, end; start < written.size(); start = end + 1) {
        end = std::min(written.find('\n', start), written.size());
        if (end > start)
            expected->push_back(written.substr(start, std::min(end - start, kLongest)));
    }
    for (std::string command;;) {
        if (reader.next(fd, &command))
            got->push_back(command);
        else if (!reader.holding())
            return;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    unsigned seed = data[0];  // seeds the sizes of the writes and the polls between them
    size_t read_size = data[1] < 128 ? 1 + data[1] : kvn::CommandReader::kMaxReadSize;
    std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);
    std::vector<std::string> expected, got;
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return 0;
    kvn::CommandReader reader(read_size, kLongest);
    size_t polled = 0;  // the text up to here was read by polls that emptied the pipe
    for (size_t at = 0, chunk = 0; at < text.size(); at += chunk) {
        seed = seed * 1103515245u + 12345u;
        chunk = std::min<size_t>(1 + (seed >> 16) % 97, text.size() - at);
        must(write(ends[1], text.data() + at, chunk) == static_cast<ssize_t>(chunk));
        if ((seed >> 8) % 3 == 0) continue;  // no poll before the next write
        poll(reader, ends[0], text.substr(polled, at + chunk - polled), &expected, &got);
        polled = at + chunk;
    }
    poll(reader, ends[0], text.substr(polled), &expected, &got);
    for (int fd : ends) close(fd);
    must(got == expected);
    for (const std::string &c : got) {
        kvn::ModeCommand parsed = kvn::parse_mode_command(c.c_str());
        must(parsed.code >= 0 && parsed.code <= 11 && strncmp(parsed.reply, "tv=", 3) == 0);
        must(parsed.has_prefix == (c.compare(0, 3, "tv=") == 0));
    }
    char name[10] = {0};
    memcpy(name, text.data(), std::min<size_t>(text.size(), 9));
    kvn::map_tvname(name, sizeof name);
    must(strlen(name) <= 9);
    return 0;
}
