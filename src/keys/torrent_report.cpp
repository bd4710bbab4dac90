#include "torrent_report.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/files.h"

namespace kvn {

namespace {

long long to_int64(const std::string &field) { return strtoll(field.c_str(), nullptr, 10); }

// Far beyond any real report, and small enough to hold.
constexpr size_t kLongestStatusLine = 4096;
constexpr size_t kMostTorrents = 10000;

}  // namespace

bool torrent_line_busy(const char *line, size_t length) {
    if (line == nullptr) return false;
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < length && line[i] != '\n' && fields.size() < 16) {
        while (i < length && line[i] == '|') ++i;
        size_t start = i;
        if (fields.size() == 15) {
            // The 16th field is the rest of the line.
            while (i < length && line[i] != '\n') ++i;
        } else {
            while (i < length && line[i] != '|' && line[i] != '\n') ++i;
        }
        if (i > start) fields.emplace_back(line + start, i - start);
    }
    if (fields.size() < 8) return false;
    const std::string &status = fields[7];
    if (status.find('\0') != std::string::npos) return false;
    static const char *const kBusy[] = {"Verifying", "Will Verify", "Downloading",
                                        "Up & Down", "Seeding",     "Uploading"};
    for (const char *word : kBusy) {
        if (strcasecmp(status.c_str(), word) == 0) return true;
    }
    if (strcasecmp(status.c_str(), "Idle") == 0 && fields.size() >= 15) {
        return to_int64(fields[2]) != to_int64(fields[14]);
    }
    return false;
}

TorrentReport read_torrent_report(const char *path) {
    Found found;
    int fd = open_regular(path, &found);
    if (fd < 0)
        return found == Found::kNothing ? TorrentReport::kMissing : TorrentReport::kUnreadable;
    TorrentReport result = TorrentReport::kIdle;
    std::string line;
    size_t lines = 0;
    char chunk[8192];
    bool done = false;
    while (!done) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = TorrentReport::kUnreadable;
            break;
        }
        if (n == 0) {  // a last line without its line end counts too
            if (!line.empty() && torrent_line_busy(line.data(), line.size()))
                result = TorrentReport::kBusy;
            break;
        }
        for (ssize_t at = 0; at < n && !done; ++at) {
            line.push_back(chunk[at]);
            if (line.size() > kLongestStatusLine) {
                result = TorrentReport::kUnreadable;
                done = true;
            } else if (chunk[at] == '\n') {
                if (torrent_line_busy(line.data(), line.size())) {
                    result = TorrentReport::kBusy;
                    done = true;
                } else if (++lines > kMostTorrents) {
                    result = TorrentReport::kUnreadable;
                    done = true;
                }
                line.clear();
            }
        }
    }
    close(fd);
    return result;
}

}  // namespace kvn
