// The torrent status file as the standby reads it, from a real file: every line however long, in
// bounded memory, and the report busy exactly when one of its lines is.
#include <string.h>

#include "fuzz.h"
#include "keys/torrent_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fd = file_holding(data, size);
    if (fd < 0) return 0;
    kvn::TorrentReport report =
        kvn::read_torrent_report(("/proc/self/fd/" + std::to_string(fd)).c_str());
    close(fd);
    const char *text = reinterpret_cast<const char *>(data);
    bool busy = false;
    for (size_t at = 0, line = 0; at < size && !busy; at += line) {
        const char *end = static_cast<const char *>(memchr(text + at, '\n', size - at));
        line = end != nullptr ? static_cast<size_t>(end - text) - at + 1 : size - at;
        busy = kvn::torrent_line_busy(text + at, line);
    }
    must(report == (busy ? kvn::TorrentReport::kBusy : kvn::TorrentReport::kIdle));  // not missing
    return 0;
}
