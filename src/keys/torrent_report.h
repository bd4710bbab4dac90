// The torrent daemon's status report (/tmp/bt_data), read to learn whether a
// torrent keeps the disks busy: every line, however long and however many,
// in bounded memory and bounded time.
#ifndef KVN_KEYS_TORRENT_REPORT_H
#define KVN_KEYS_TORRENT_REPORT_H

#include <stddef.h>

namespace kvn {

// One line of the report (fields separated by runs of '|'): true when the
// torrent keeps the disks busy.  A line too short to hold the fields a
// decision needs counts as not busy.
bool torrent_line_busy(const char *line, size_t length);

// What the report says.  kUnreadable: something is there but it cannot be
// read at all (no regular file, a read error at once).  kUnfinished: its end
// was not reached (in the time a report may take, or for a read error), and
// no busy torrent was found before.
enum class TorrentReport { kMissing, kUnreadable, kIdle, kBusy, kUnfinished };
TorrentReport read_torrent_report(const char *path);

}  // namespace kvn

#endif
