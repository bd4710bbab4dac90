// Root's crontab around standby: the torrent daemon's scheduled checks are
// commented out at standby entry and the same lines turned on again at the
// wake-up, with a note of which ones in between.  The parsing and the
// writing of the edited copy, bounded whatever the files hold.
#ifndef KVN_KEYS_CRONTAB_EDIT_H
#define KVN_KEYS_CRONTAB_EDIT_H

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace kvn {

// The checktorrent jobs the framework commented out in root's crontab at
// standby entry: their line numbers and texts, so that the wake-up restores
// these and no line the user had commented.
struct CronSuspension {
    std::vector<std::pair<size_t, std::string>> lines;
    // False when there is no note to go by (none kept, or none that only root
    // can have written in this boot): the wake-up then turns on every
    // commented checktorrent line, as root's crontab had them before.
    bool known = true;
};

// Root's crontab edited for standby entry (the active checktorrent jobs
// commented out and added to `suspended`, where the noted jobs still off
// stay) or for wake-up (the noted ones restored, or without a known note
// every commented checktorrent line; `suspended` emptied and known).  The
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

}  // namespace kvn

#endif
