// The torrent daemon's part of standby: its scheduled checks are suspended
// while the player sleeps, and the disks are spun down only when no
// torrent is busy.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "keys_internal.h"
#include "kvn_child.h"
#include "kvn_clock.h"
#include "kvn_files.h"
#include "power_parse.h"

namespace {

const char kWho[] = "torrent_standby";
const char kCopy[] = "/tmp/cron_root_ori";
const char kTemp[] = "/tmp/cron_root_temp";
constexpr unsigned kScriptLimitMs = 60000;
// A killed script normally ends at once; one stuck in disk I/O may not, and
// the standby does not wait for it.
constexpr unsigned kReapLimitMs = 2000;

struct TorrentState {
    std::mutex mutex;
    kvn::CronSuspension suspended;  // the jobs commented out at the last entry
    std::vector<pid_t> unreaped;    // killed scripts that had not ended yet
};
TorrentState g_torrent;

void remove_copies() {
    remove(kTemp);
    remove(kCopy);
}

// Both copies are files that only root can have made or changed: the copy
// is created afresh before `cp` fills it and checked after, and the edited
// file is written to a new file of its own.  Root's crontab is replaced only
// when every step was complete, never by an empty, partial or foreign file.
void edit_crontab(bool entering) {
    int copy = kvn::create_private(kCopy, kWho);
    if (copy < 0) return;
    bool ok = system("cp /tmp/cron/crontabs/root /tmp/cron_root_ori") == 0;
    if (!ok) fprintf(stderr, "%s: cannot copy root's crontab; it is left as it is\n", kWho);
    ok = ok && kvn::still_private(kCopy, copy, kWho);
    {
        std::lock_guard<std::mutex> lock(g_torrent.mutex);
        ok = ok && kvn::rewrite_crontab(copy, kTemp, entering, &g_torrent.suspended, kWho);
    }
    close(copy);
    if (ok) (void)system("crontab /tmp/cron_root_temp");
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
    pid_t pid = kvn::start_child("/vmk/apps/etc/transmission-remote-script", argv, nullptr);
    if (pid < 0) {
        perror("fork failed:");
        return;
    }
    unsigned start = static_cast<unsigned>(get_time_ms());
    for (;;) {
        int status;
        if (waitpid(pid, &status, WNOHANG) != 0) return;  // ended, or an error
        unsigned elapsed = static_cast<unsigned>(get_time_ms()) - start;  // wraps safely
        if (elapsed >= kScriptLimitMs) {
            kill(pid, SIGKILL);
            if (!kvn::reap_within(pid, kReapLimitMs, &status)) {
                fprintf(stderr, "%s: the status script (%d) has not ended after SIGKILL; not waiting\n",
                        kWho, static_cast<int>(pid));
                std::lock_guard<std::mutex> lock(g_torrent.mutex);
                g_torrent.unreaped.push_back(pid);
            }
            return;
        }
        kvn::sleep_us(1000000);
    }
}

}  // namespace

extern "C" int get_time_ms(void) { return kvn::now_milliseconds(); }

extern "C" void torrent_standby(int entering) {
    if (system("pidof transmission-daemon 1>/dev/null 2>/dev/null") != 0) return;
    reap_earlier_scripts();
    edit_crontab(entering != 0);
    if (!entering) {
        remove_copies();
        return;
    }
    run_status_script();
    kvn::TorrentReport report = kvn::TorrentReport::kMissing;
    for (int attempt = 1; attempt <= 7 && report == kvn::TorrentReport::kMissing; ++attempt) {
        report = kvn::read_torrent_report("/tmp/bt_data");
        if (attempt >= 2 && attempt <= 6) kvn::sleep_us(1000000);
    }
    // A missing report lets the disks sleep, as ever; one that is there but
    // cannot be read says nothing about the torrents, and a disk that keeps
    // spinning loses nothing.
    if (report == kvn::TorrentReport::kUnreadable) {
        fprintf(stderr, "%s: /tmp/bt_data cannot be read as a report; the disks keep spinning\n", kWho);
    }
    if (report == kvn::TorrentReport::kMissing || report == kvn::TorrentReport::kIdle) {
        kvn::touch_marker("/tmp/bt_hdd_spindown", kWho);
    }
    remove_copies();
}
