// The torrent status file as the standby reads it, from a real file: every line however long, in
// bounded memory, and the report busy exactly when one of its lines is.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "keys/torrent_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    int fd = memfd_create("bt_data", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) abort();
    kvn::TorrentReport report =
        kvn::read_torrent_report(("/proc/self/fd/" + std::to_string(fd)).c_str());
    close(fd);
    if (report == kvn::TorrentReport::kMissing) abort();  // a file was there
    const char *text = reinterpret_cast<const char *>(data);
    bool busy = false;
    for (size_t at = 0; at < size && !busy;) {
        const char *end = static_cast<const char *>(memchr(text + at, '\n', size - at));
        size_t line = end != nullptr ? static_cast<size_t>(end - text) - at + 1 : size - at;
        busy = kvn::torrent_line_busy(text + at, line);
        at += line;
    }
    if (report != (busy ? kvn::TorrentReport::kBusy : kvn::TorrentReport::kIdle)) abort();
    return 0;
}
