#include "torrent_report.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "common/clock.h"
#include "common/files.h"

namespace kvn {

namespace {

// Fields counted from 1; the 16th is the rest of the line, which no decision
// reads.
constexpr size_t kHaveField = 3;
constexpr size_t kStatusField = 8;
constexpr size_t kSizeField = 15;
// Of the status word: more than the longest word compared with it.
constexpr size_t kStatusKept = 16;
// The time a report may take to read, far beyond a real one's (a line of
// about 100 bytes per torrent).
constexpr unsigned kReadLimitMs = 10000;

// A field read as strtoll reads it in base 10, a byte at a time: leading
// white space, a sign, digits up to the first other byte; too large a
// number is the nearest 64-bit one.
class Number {
  public:
    void add(char c) {
        unsigned char u = static_cast<unsigned char>(c);
        if (state_ == kSpace) {
            if (isspace(u)) return;
            state_ = kDigits;
            if (c == '+' || c == '-') {
                negative_ = c == '-';
                return;
            }
        }
        if (state_ != kDigits) return;
        if (!isdigit(u)) {
            state_ = kDone;
            return;
        }
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude_ > (kLargest - digit) / 10) {
            magnitude_ = kLargest;  // beyond any 64-bit number: stays there
        } else {
            magnitude_ = magnitude_ * 10 + digit;
        }
    }
    long long value() const {
        if (negative_)
            return magnitude_ >= kLargest ? LLONG_MIN : -static_cast<long long>(magnitude_);
        return magnitude_ >= kLargest ? LLONG_MAX : static_cast<long long>(magnitude_);
    }

  private:
    // One more than LLONG_MAX: LLONG_MIN's magnitude, and the mark of a
    // number too large either way.
    static constexpr unsigned long long kLargest = 1ull << 63;
    enum { kSpace, kDigits, kDone } state_ = kSpace;
    bool negative_ = false;
    unsigned long long magnitude_ = 0;
};

// A line taken a piece at a time: of its first 15 fields, what a decision
// needs is kept (the start of the status word and the two numbers), and the
// rest of the line is skipped.
class StatusLine {
  public:
    // Bytes of the line, without its line end.
    void add(const char *data, size_t size) {
        for (size_t i = 0; i < size && fields_ <= kSizeField; ++i) {
            char c = data[i];
            if (c == '|') {
                in_field_ = false;
                continue;
            }
            if (!in_field_) {
                in_field_ = true;
                ++fields_;
            }
            if (fields_ == kStatusField && status_.size() < kStatusKept) status_ += c;
            if (fields_ == kHaveField) have_.add(c);
            if (fields_ == kSizeField) size_.add(c);
        }
    }

    bool busy() const {
        if (fields_ < kStatusField || status_.size() >= kStatusKept ||
            status_.find('\0') != std::string::npos)
            return false;
        static const char *const kBusy[] = {"Verifying", "Will Verify", "Downloading",
                                            "Up & Down", "Seeding",     "Uploading"};
        for (const char *word : kBusy) {
            if (strcasecmp(status_.c_str(), word) == 0) return true;
        }
        return strcasecmp(status_.c_str(), "Idle") == 0 && fields_ >= kSizeField &&
               have_.value() != size_.value();
    }

    void clear() { *this = StatusLine(); }

  private:
    size_t fields_ = 0;  // begun so far
    bool in_field_ = false;
    std::string status_;
    Number have_, size_;
};

long long monotonic_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

bool torrent_line_busy(const char *line, size_t length) {
    if (line == nullptr) return false;
    const char *end = static_cast<const char *>(memchr(line, '\n', length));
    StatusLine status;
    status.add(line, end != nullptr ? static_cast<size_t>(end - line) : length);
    return status.busy();
}

TorrentReport read_torrent_report(const char *path) {
    Found found;
    int fd = open_regular(path, &found);
    if (fd < 0)
        return found == Found::kNothing ? TorrentReport::kMissing : TorrentReport::kUnreadable;
    const long long deadline = monotonic_ms() + kReadLimitMs / time_divisor();
    TorrentReport result = TorrentReport::kIdle;
    StatusLine line;
    bool read_any = false;
    char chunk[8192];
    for (;;) {
        if (monotonic_ms() > deadline) {
            result = TorrentReport::kUnfinished;
            break;
        }
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {  // not read at all is none; read in part, not finished
            result = read_any ? TorrentReport::kUnfinished : TorrentReport::kUnreadable;
            break;
        }
        read_any = true;
        if (n == 0) {  // a last line without its line end counts too
            if (line.busy()) result = TorrentReport::kBusy;
            break;
        }
        const char *at = chunk;
        const char *end = chunk + n;
        while (at < end) {
            const char *stop = static_cast<const char *>(memchr(at, '\n', end - at));
            line.add(at, (stop != nullptr ? stop : end) - at);
            if (stop == nullptr) break;
            if (line.busy()) {
                close(fd);
                return TorrentReport::kBusy;
            }
            line.clear();
            at = stop + 1;
        }
    }
    close(fd);
    return result;
}

}  // namespace kvn
