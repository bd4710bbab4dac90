// The torrent daemon's status report (/tmp/bt_data), read to learn whether a
// torrent keeps the disks busy, bounded whatever the file holds.
#ifndef KVN_KEYS_TORRENT_REPORT_H
#define KVN_KEYS_TORRENT_REPORT_H

#include <stddef.h>

namespace kvn {

// One line of the report (fields separated by runs of '|'): true when the
// torrent keeps the disks busy.  A line too short to hold the fields a
// decision needs counts as not busy.
bool torrent_line_busy(const char *line, size_t length);

// What the report says.  kUnreadable: something is there but it cannot be
// read as a report (no regular file, a read error, a line or a number of
// lines beyond any real report).
enum class TorrentReport { kMissing, kUnreadable, kIdle, kBusy };
TorrentReport read_torrent_report(const char *path);

}  // namespace kvn

#endif
