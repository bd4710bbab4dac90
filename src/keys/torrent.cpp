#include "torrent.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/child.h"
#include "common/clock.h"
#include "common/files.h"
#include "common/warn.h"
#include "crontab_edit.h"
#include "torrent_report.h"

namespace kvn {

namespace {

const char kWho[] = "torrent_standby";
const char kSource[] = "/tmp/cron/crontabs/root";
const char kCopy[] = "/tmp/cron_root_ori";
const char kTemp[] = "/tmp/cron_root_temp";
// Which jobs the standby turned off, kept where a restart of the player's
// process between standby and wake-up does not lose it, and where only root
// can write.
const char kNoteFolder[] = "/opt/kvn/var";
const char kNote[] = "/opt/kvn/var/torrent_crontab_note";
const char kNoteNew[] = "/opt/kvn/var/torrent_crontab_note.new";
constexpr size_t kLargestNote = 2 << 20;  // the noted lines of the largest crontab read, and more
constexpr unsigned kScriptLimitMs = 60000;
// A killed script normally ends at once; one stuck in disk I/O may not, and
// the standby does not wait for it.
constexpr unsigned kReapLimitMs = 2000;

struct TorrentState {
    std::mutex mutex;
    // The note as this process last made it, for when its file cannot be
    // kept or read; none before it has made one.
    CronSuspension suspended{{}, false};
    std::vector<pid_t> unreaped;  // killed scripts that had not ended yet
};
TorrentState g_torrent;

void remove_copies() {
    remove(kTemp);
    remove(kCopy);
}

std::string boot_id() {
    char id[64];
    ssize_t n = read_regular("/proc/sys/kernel/random/boot_id", id, sizeof id);
    std::string text(id, n > 0 ? static_cast<size_t>(n) : 0);
    return text.substr(0, text.find('\n'));
}

// The note of this boot's last standby, from its file when that is root's
// alone, else as this process has it, else none (not known).
CronSuspension load_note() {
    std::string why;
    int fd = open_roots_file(kNote, &why);
    if (fd >= 0) {
        std::string text;
        CronSuspension noted;
        bool ok = read_all(fd, &text, kLargestNote) && read_note(text, boot_id(), &noted);
        close(fd);
        if (ok) return noted;
        warn(kWho, "%s is no note of this boot; not used", kNote);
    } else if (!why.empty()) {
        warn(kWho, "the note is not used: %s", why.c_str());
    }
    return g_torrent.suspended;
}

void save_note(const CronSuspension &noted) {
    g_torrent.suspended = noted;
    mkdir(kNoteFolder, 0755);  // once, where the player's folder lacks it
    std::string why;
    if (!roots_folder(kNoteFolder, &why)) {
        warn(kWho, "the note is kept in memory only: %s", why.c_str());
        return;
    }
    // Kept also when it holds no line: after a restart, no note at all means
    // nothing is known.
    std::string text = note_text(noted, boot_id());
    int fd = create_private(kNoteNew, kWho);
    bool ok = fd >= 0 && write_fully(fd, text.data(), text.size(), 0);
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (ok && rename(kNoteNew, kNote) == 0) return;
    warn(kWho, "the note is kept in memory only: %s cannot be written", kNote);
    unlink(kNoteNew);
    unlink(kNote);  // an older one would be taken for it
}

// Root's crontab is edited only when root alone can have written it, and
// replaced only when every step was complete: never by an empty, partial or
// foreign file.  The copy is created afresh before `cp` fills it and checked
// after, and the edited file is written to a new file of its own.  The note
// changes only once `crontab` has installed the edit, so that the wake-up
// turns on no line that the installed crontab did not have turned off.
void suspend_or_restore_jobs(bool entering) {
    std::lock_guard<std::mutex> lock(g_torrent.mutex);
    std::string why;
    int source = open_roots_file(kSource, &why);
    if (source < 0) {
        if (why.empty()) why = std::string(kSource) + " is missing";
        warn(kWho, "root's crontab is left alone: %s", why.c_str());
        return;
    }
    close(source);
    int copy = create_private(kCopy, kWho);
    if (copy < 0) return;
    bool ok = system("cp /tmp/cron/crontabs/root /tmp/cron_root_ori") == 0;
    if (!ok) warn(kWho, "cannot copy root's crontab; it is left as it is");
    ok = ok && still_private(kCopy, copy, kWho);
    CronSuspension noted = load_note();
    ok = ok && rewrite_crontab(copy, kTemp, entering, &noted, kWho);
    close(copy);
    if (!ok) return;
    int status = system("crontab /tmp/cron_root_temp");
    if (status != 0) {
        warn(kWho, "crontab failed (exit status %d); root's crontab is taken as it was",
             WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return;
    }
    save_note(noted);
}

void reap_earlier_scripts() {
    std::lock_guard<std::mutex> lock(g_torrent.mutex);
    auto &pids = g_torrent.unreaped;
    pids.erase(std::remove_if(pids.begin(), pids.end(),
                              [](pid_t pid) {
                                  int status;
                                  return waitpid(pid, &status, WNOHANG) != 0;
                              }),
               pids.end());
}

void run_status_script() {
    char name[] = "transmission-remote-script";
    char option[] = "-k";
    char *const argv[] = {name, option, nullptr};
    pid_t pid = start_child("/vmk/apps/etc/transmission-remote-script", argv, nullptr);
    if (pid < 0) {
        perror("fork failed:");
        return;
    }
    unsigned start = static_cast<unsigned>(get_time_ms());
    for (;;) {
        int status;
        if (waitpid(pid, &status, WNOHANG) != 0) return;                  // ended, or an error
        unsigned elapsed = static_cast<unsigned>(get_time_ms()) - start;  // wraps safely
        if (elapsed >= kScriptLimitMs) {
            kill(pid, SIGKILL);
            if (!reap_within(pid, kReapLimitMs, &status)) {
                warn(kWho, "the status script (%d) has not ended after SIGKILL; not waiting",
                     static_cast<int>(pid));
                std::lock_guard<std::mutex> lock(g_torrent.mutex);
                g_torrent.unreaped.push_back(pid);
            }
            return;
        }
        sleep_us(1000000);
    }
}

}  // namespace

int get_time_ms() { return now_milliseconds(); }

void torrent_standby(int entering) {
    if (system("pidof transmission-daemon 1>/dev/null 2>/dev/null") != 0) return;
    reap_earlier_scripts();
    suspend_or_restore_jobs(entering != 0);
    if (!entering) {
        remove_copies();
        return;
    }
    run_status_script();
    TorrentReport report = TorrentReport::kMissing;
    for (int attempt = 1; attempt <= 7 && report == TorrentReport::kMissing; ++attempt) {
        report = read_torrent_report("/tmp/bt_data");
        if (attempt >= 2 && attempt <= 6) sleep_us(1000000);
    }
    // Something that is no file, or a read error, is no readable report, and
    // then the disks may sleep, as when none is there.  A report whose end is
    // not reached in time has not said that no torrent is busy: the disks keep
    // spinning, as for a busy one.
    if (report == TorrentReport::kUnreadable) {
        warn(kWho, "/tmp/bt_data cannot be read as a report; taken as none");
    } else if (report == TorrentReport::kUnfinished) {
        warn(kWho,
             "/tmp/bt_data did not end within the time a report takes; the disks keep "
             "spinning");
    }
    if (report == TorrentReport::kIdle || report == TorrentReport::kMissing ||
        report == TorrentReport::kUnreadable)
        touch_marker("/tmp/bt_hdd_spindown", kWho);
    remove_copies();
}

}  // namespace kvn
