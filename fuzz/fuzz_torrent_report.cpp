// The torrent status file as the standby reads it, from a real file: never read without bound,
// and a busy torrent found wherever it stands within the bounds.
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
    const char *end = static_cast<const char *>(memchr(text, '\n', size));
    size_t first = end != nullptr ? static_cast<size_t>(end - text) + 1 : size;
    if (first > 0 && first <= 4096 && kvn::torrent_line_busy(text, first) &&
        report != kvn::TorrentReport::kBusy)
        abort();
    return 0;
}
