// Commands arrive on the mode pipe as lines from any number of writers, in
// pieces of any size: a command split across two writes, a burst of twenty in
// one, a writer that never sends a line end.
#ifndef KVN_MODE_LINES_H
#define KVN_MODE_LINES_H

#include <stddef.h>

#include <string>

namespace kvn {

class LineReader {
public:
    // Lines longer than `max_line` bytes (without their end) are dropped whole.
    explicit LineReader(size_t max_line) : max_line_(max_line) {}

    // The next complete line from the non-blocking descriptor `fd`, without
    // its line end, in the order written.  Reads `fd` only when no complete
    // line is held already: once, or a second time when the first read
    // brought text without a line end, to learn whether its writer has
    // closed the pipe (the end of a writer's text ends its last line too).
    // False when no complete line is there yet.
    bool next(int fd, std::string *line);

    // Over-long lines dropped since the last call.
    size_t take_dropped() {
        size_t n = dropped_;
        dropped_ = 0;
        return n;
    }

private:
    enum class Read { kData, kEnd, kNothing };
    Read fill(int fd);
    bool take_line(std::string *line);
    void drop_overlong();

    const size_t max_line_;
    std::string pending_;
    bool skipping_ = false;  // in the middle of an over-long line
    size_t dropped_ = 0;
};

}  // namespace kvn

#endif
