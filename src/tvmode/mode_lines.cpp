#include "mode_lines.h"

#include <errno.h>
#include <unistd.h>

namespace kvn {

namespace {

// Enough for a burst of commands in one read; what does not fit stays in the
// pipe for the next read.
constexpr size_t kReadSize = 512;

}  // namespace

LineReader::Read LineReader::fill(int fd) {
    char chunk[kReadSize];
    ssize_t n;
    do {
        n = read(fd, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n == 0) return Read::kEnd;
    if (n < 0) return Read::kNothing;
    size_t start = 0;
    if (skipping_) {
        // The rest of an over-long line, up to and with its end.
        while (start < static_cast<size_t>(n) && chunk[start] != '\n') ++start;
        if (start == static_cast<size_t>(n)) return Read::kData;
        skipping_ = false;
        ++start;
    }
    pending_.append(chunk + start, static_cast<size_t>(n) - start);
    drop_overlong();
    return Read::kData;
}

void LineReader::drop_overlong() {
    // Only the first held line can be unfinished beyond the limit; the lines
    // behind it are looked at when they come first.
    for (;;) {
        size_t end = pending_.find('\n');
        size_t length = end == std::string::npos ? pending_.size() : end;
        if (length <= max_line_) return;
        ++dropped_;
        if (end == std::string::npos) {
            pending_.clear();
            skipping_ = true;
            return;
        }
        pending_.erase(0, end + 1);
    }
}

bool LineReader::take_line(std::string *line) {
    size_t end = pending_.find('\n');
    if (end == std::string::npos) return false;
    line->assign(pending_, 0, end);
    pending_.erase(0, end + 1);
    drop_overlong();
    return true;
}

bool LineReader::next(int fd, std::string *line) {
    if (take_line(line)) return true;
    Read r = fill(fd);
    if (take_line(line)) return true;
    if (r == Read::kData && !pending_.empty()) r = fill(fd);
    if (take_line(line)) return true;
    if (r == Read::kEnd) {
        bool whole = !skipping_ && !pending_.empty();
        skipping_ = false;  // an over-long line ends with its writer too
        if (whole) {
            line->swap(pending_);
            pending_.clear();
            return true;
        }
    }
    return false;
}

}  // namespace kvn
