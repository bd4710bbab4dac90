// Parsing of the outside texts the standby reads (the torrent status file,
// root's crontab, /etc/mtab), kept apart from their I/O so that they can
// be tested and fuzzed.
#ifndef KVN_POWER_PARSE_H
#define KVN_POWER_PARSE_H

#include <stddef.h>

#include <string>

namespace kvn {

// One line of /tmp/bt_data (fields separated by runs of '|'): true when
// the torrent keeps the disks busy.  A line too short to hold the fields
// a decision needs counts as not busy.
bool torrent_line_busy(const char *line, size_t length);

// One whole crontab line (with its line end, if any), edited for standby
// entry (comment out the checktorrent jobs) or for wake-up (restore them).
std::string edit_crontab_line(const std::string &line, bool entering);

// The drive letter of a mount entry's device when it is a well-formed SCSI
// disk name ("/dev/sd" + a letter a-z + optional partition digits), else 0.
// Only such names may reach a shell command.
char disk_letter(const char *device);

}  // namespace kvn

#endif
