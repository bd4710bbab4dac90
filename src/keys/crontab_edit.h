// The outside texts the standby reads (the torrent status file, root's
// crontab, /etc/mtab): their parsing, and the reading and writing of the
// files they come in, bounded whatever the files hold.
#ifndef KVN_POWER_PARSE_H
#define KVN_POWER_PARSE_H

#include <stddef.h>

#include <string>
#include <vector>

namespace kvn {

// One line of /tmp/bt_data (fields separated by runs of '|'): true when
// the torrent keeps the disks busy.  A line too short to hold the fields
// a decision needs counts as not busy.
bool torrent_line_busy(const char *line, size_t length);

// What the torrent status file says.  kUnreadable: something is there but it
// cannot be read as a report (no regular file, a read error, a line or a
// number of lines beyond any real report).
enum class TorrentReport { kMissing, kUnreadable, kIdle, kBusy };
TorrentReport read_torrent_report(const char *path);

// The checktorrent jobs the framework commented out in root's crontab at
// standby entry: their line numbers and texts, so that the wake-up restores
// these and no line the user had commented.
struct CronSuspension {
    std::vector<std::pair<size_t, std::string>> lines;
};

// Root's crontab edited for standby entry (the active checktorrent jobs
// commented out and added to `suspended`, where the noted jobs still off
// stay) or for wake-up (the noted ones restored, `suspended` emptied).  The
// header the crontab program puts at the top of an installed crontab is
// dropped, so that it does not pile up at every install.
std::string edit_crontab(const std::string &text, bool entering, CronSuspension *suspended);

// The note as a text kept in a file between standby entry and wake-up, and
// back; `boot` names the boot it belongs to (root's crontab lies in /tmp and
// is made afresh at every boot).  read_note is false for any text that is no
// whole note of that boot.
std::string note_text(const CronSuspension &noted, const std::string &boot);
bool read_note(const std::string &text, const std::string &boot, CronSuspension *noted);

// Reads the crontab copy open on `copy_fd`, edits it as above and writes the
// result to a new private file at `temp_path`.  False, with a message naming
// `who`, when any step fails: then nothing must be installed.
bool rewrite_crontab(int copy_fd, const char *temp_path, bool entering, CronSuspension *suspended,
                     const char *who);

// The drive letter of a mount entry's device when it is a well-formed SCSI
// disk name ("/dev/sd" + a letter a-z + optional partition digits), else 0.
// Only such names may reach a shell command.
char disk_letter(const char *device);

}  // namespace kvn

#endif
