// The torrent daemon's part of standby: its scheduled checks are suspended
// while the player sleeps, and the disks are spun down only when no
// torrent is busy.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "keys_internal.h"
#include "kvn_clock.h"
#include "power_parse.h"

namespace {

const char kCrontab[] = "/tmp/cron/crontabs/root";
const char kCopy[] = "/tmp/cron_root_ori";
const char kTemp[] = "/tmp/cron_root_temp";
constexpr unsigned kScriptLimitMs = 60000;

void remove_copies() {
    remove(kTemp);
    remove(kCopy);
}

// Installs the edited crontab only when the copy and the edit were both
// complete, so that root's crontab is never replaced by an empty or partial
// file.
void edit_crontab(bool entering) {
    if (system("cp /tmp/cron/crontabs/root /tmp/cron_root_ori") != 0) {
        fprintf(stderr, "torrent_standby: cannot copy %s; crontab left as it is\n", kCrontab);
        return;
    }
    FILE *in = fopen(kCopy, "r");
    FILE *out = fopen(kTemp, "w");
    if (in == nullptr || out == nullptr) {
        if (in != nullptr) fclose(in);
        if (out != nullptr) fclose(out);
        fprintf(stderr, "torrent_standby: cannot open the crontab copies; crontab left as it is\n");
        return;
    }
    bool ok = true;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    // Whole lines, however long: a long line is never cut and edited in
    // pieces.
    while ((length = getline(&line, &capacity, in)) >= 0) {
        std::string edited = kvn::edit_crontab_line(std::string(line, static_cast<size_t>(length)), entering);
        if (fwrite(edited.data(), 1, edited.size(), out) != edited.size()) ok = false;
    }
    free(line);
    if (ferror(in)) ok = false;
    fclose(in);
    if (fclose(out) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "torrent_standby: the crontab edit was incomplete; crontab left as it is\n");
        return;
    }
    (void)system("crontab /tmp/cron_root_temp");
}

void run_status_script() {
    pid_t pid = fork();
    if (pid == 0) {
        execlp("/vmk/apps/etc/transmission-remote-script", "transmission-remote-script", "-k",
               static_cast<char *>(nullptr));
        _exit(0);
    }
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
            waitpid(pid, &status, 0);  // reap it: nothing else will
            return;
        }
        kvn::sleep_us(1000000);
    }
}

bool any_torrent_busy(FILE *status) {
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    bool busy = false;
    while (!busy && (length = getline(&line, &capacity, status)) >= 0) {
        busy = kvn::torrent_line_busy(line, static_cast<size_t>(length));
    }
    free(line);
    return busy;
}

}  // namespace

extern "C" int get_time_ms(void) { return kvn::now_milliseconds(); }

extern "C" void torrent_standby(int entering) {
    if (system("pidof transmission-daemon 1>/dev/null 2>/dev/null") != 0) return;
    edit_crontab(entering != 0);
    if (!entering) {
        remove_copies();
        return;
    }
    run_status_script();
    FILE *status = nullptr;
    for (int attempt = 1; attempt <= 7 && status == nullptr; ++attempt) {
        status = fopen("/tmp/bt_data", "r");
        if (attempt >= 2 && attempt <= 6) kvn::sleep_us(1000000);
    }
    if (status != nullptr) {
        bool busy = any_torrent_busy(status);
        fclose(status);
        if (busy) {
            remove_copies();
            return;
        }
    }
    (void)system("touch /tmp/bt_hdd_spindown");
    remove_copies();
}
