#include "mode_reads.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>

namespace kvn {

CommandReader::CommandReader(size_t read_size, size_t longest)
    : read_size_(std::min(std::max<size_t>(read_size, 1), kMaxReadSize)), longest_(longest) {}

bool CommandReader::take(std::string *command) {
    for (;;) {
        size_t end = held_.find('\n');
        if (end == std::string::npos && (open_ || held_.empty())) return false;
        size_t length = end == std::string::npos ? held_.size() : end;
        command->assign(held_, 0, std::min(length, longest_));
        held_.erase(0, end == std::string::npos ? length : end + 1);
        if (length > 0) return true;  // two line ends in a row hold no command
    }
}

bool CommandReader::next(int fd, std::string *command) {
    if (take(command)) return true;
    char chunk[kMaxReadSize];
    ssize_t n;
    do {
        n = read(fd, chunk, read_size_);
    } while (n < 0 && errno == EINTR);
    // Nothing more (empty, closed or failing): a held end is whole.
    open_ = n == static_cast<ssize_t>(read_size_);
    if (n > 0) held_.append(chunk, static_cast<size_t>(n));
    if (open_) {
        // Only the first bytes of the unfinished command count: what is held
        // stays within one read and one command, whatever a writer sends.
        size_t last = held_.rfind('\n');
        size_t start = last == std::string::npos ? 0 : last + 1;
        if (held_.size() - start > longest_) held_.resize(start + longest_);
    }
    return take(command);
}

}  // namespace kvn
