#include "status_watch.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "dialog_view.h"
#include "korvan_framework_lib.h"
#include "kvn_trace.h"
#include "screen.h"
#include "smpoutd_api.h"
#include "transcript.h"
#include "window_feed.h"

namespace kvn_sim {
namespace {

// Trace lines kept for expect-trace; about 10 MB at the longest lines.
constexpr size_t kTraceLinesKept = 100000;
// Records the stand-ins may hold before they are thrown away.
constexpr size_t kPlatformRecordsKept = 1000;

TraceLog g_trace_log(kTraceLinesKept);
std::atomic<int> g_output_code{-1};

void trace_listener(const char *line, void *) {
    say(std::string("  | ") + line);
    g_trace_log.add(line);
    feed_trace_line(line);
    // The status bar's mode comes from the trace, which sees every code,
    // since the daemon stand-in's own record is emptied now and then.
    int code = 0;
    char rest = 0;
    if (sscanf(line, "smpoutd code=%d%c", &code, &rest) >= 1) g_output_code = code;
}

// A writer that never ends its line must not grow what is kept of it for ever.
void keep_bounded(std::string &partial) {
    if (partial.size() > 65536) partial.erase(0, partial.size() - 65536);
}

// The programs the library ran, from the fakes' log.  Drained before every
// other trace line too: a program run through system() has finished before
// the library goes on, so its line belongs before anything traced after.
struct CallsLog {
    // Only for the log: any thread traces, also holding the library's locks,
    // so this must never be held while waiting for anything else but the trace.
    std::mutex mutex;
    off_t offset = 0;
    std::string partial;

    void drain() {
        // The run lines traced here come back through the prelude.
        static thread_local bool draining = false;
        if (draining) return;
        draining = true;
        {
            std::lock_guard<std::mutex> lock(mutex);
            read_new();
        }
        draining = false;
    }

    // Kept open: every trace line asks, and most find the log as it was.
    int fd = -1;

    void read_new() {
        if (fd < 0) fd = open(kCallsLog, O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= offset) return;
        char buffer[1024];
        ssize_t n;
        while ((n = pread(fd, buffer, sizeof buffer, offset)) > 0) {
            offset += n;
            partial.append(buffer, static_cast<size_t>(n));
            keep_bounded(partial);
        }
        size_t at;
        while ((at = partial.find('\n')) != std::string::npos) {
            kvn_trace("run %s", partial.substr(0, at).c_str());
            partial.erase(0, at + 1);
        }
    }
} g_calls;

void drain_calls(void *) { g_calls.drain(); }

struct Watcher {
    std::mutex mutex;  // one pass at a time: the script runner forces one before it checks
    std::thread thread;
    std::atomic<bool> running{false};
    std::string pipe_partial, tolu_partial;
    int tolu_fd = -1;
    int focus = -2;
    std::string status;
    Overlay bar, black;
    bool black_shown = false;

    void lines_from(int fd, std::string &partial, char end, const char *tag) {
        char buffer[1024];
        for (;;) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            partial.append(buffer, static_cast<size_t>(n));
            keep_bounded(partial);
        }
        size_t at;
        while ((at = partial.find(end)) != std::string::npos) {
            std::string line = partial.substr(0, at);
            partial.erase(0, at + 1);
            kvn_trace("%s %s", tag, line.c_str());
        }
    }

    void draw_status(const std::string &s) {
        IDirectFBSurface *b = bar.surface;
        b->SetColor(b, 0, 0, 0, 0xc0);
        b->FillRectangle(b, 0, 0, bar.w, bar.h);
        b->SetColor(b, 0x80, 0xff, 0x80, 0xff);
        text_at(b, g_screen.font, s, 12, 6);
        b->Flip(b, nullptr, DSFLIP_NONE);
    }

    void pass() {
        std::lock_guard<std::mutex> lock(mutex);
        g_calls.drain();
        if (kvn_command_pipe >= 0) lines_from(kvn_command_pipe, pipe_partial, '\n', "pipe");
        if (tolu_fd >= 0) lines_from(tolu_fd, tolu_partial, '\0', "reply");
        kvn_window *focused = get_window_on_focus();
        int now = focused ? focused->window_id : -1;
        const char *focus_name =
            now >= 0 && now < KVN_APPLICATION_COUNT ? window_id_str[now] : "none";
        if (now != focus) {
            focus = now;
            kvn_trace("focus %s", focus_name);
        }
        bool picture = smpoutd_stub_picture_on() != 0;
        if (picture == black_shown) {
            black_shown = !picture;
            set_dialog_dark(black_shown);
            black.show(black_shown);
            // The simulator's own status stays readable over the dark picture.
            bar.raise();
            status.clear();
        }
        int code = g_output_code;
        bool standby = kvn_get_standby_mode() != 0;
        std::string s = "mode " + (code < 0 ? std::string("-") : std::to_string(code)) +
                        (picture ? "  picture on" : "  picture OFF") +
                        (standby ? "  STANDBY" : "") + "  focus " + focus_name;
        if (s != status) {
            status = s;
            draw_status(s);
            feed_status("mode=" + std::to_string(code) + " picture=" + (picture ? "1" : "0") +
                        " standby=" + (standby ? "1" : "0") + " focus=" + focus_name);
        }
        expire_dialog_notice();
        bound_platform_records(kPlatformRecordsKept);
    }

    void start() {
        // The user-interface application's end of the reply FIFO; kept open
        // for reading and writing so the library's blocking open never waits.
        unlink("/tmp/tolu_cgi");
        if (mkfifo("/tmp/tolu_cgi", 0666) == 0)
            tolu_fd = open("/tmp/tolu_cgi", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        black.create(0, 0, g_screen.width, g_screen.height);
        black.surface->Clear(black.surface, 0, 0, 0, 0xff);
        black.surface->Flip(black.surface, nullptr, DSFLIP_NONE);
        bar.create(0, 0, g_screen.width, 40);
        bar.show(true);
        running = true;
        thread = std::thread([this] {
            while (running) {
                pass();
                usleep(20000);
            }
        });
    }

    void stop() {
        running = false;
        if (thread.joinable()) thread.join();
        pass();
        bar.release();
        black.release();
        if (tolu_fd >= 0) close(tolu_fd);
        tolu_fd = -1;
    }
} g_watcher;

}  // namespace

void start_trace(const std::string &trace_file) {
    if (!trace_file.empty()) {
        unlink(trace_file.c_str());
        kvn_trace_set_file(trace_file.c_str());
    }
    kvn_trace_set_listener(trace_listener, nullptr);
    kvn_trace_set_prelude(drain_calls, nullptr);
}

void stop_trace() {
    kvn_trace_set_prelude(nullptr, nullptr);
    kvn_trace_set_listener(nullptr, nullptr);
    kvn_trace_set_file(nullptr);
}

void start_watch() { g_watcher.start(); }
void stop_watch() { g_watcher.stop(); }
void watch_pass() { g_watcher.pass(); }

bool trace_has(const std::regex &pattern, std::string &found) {
    return g_trace_log.search(pattern, found);
}

}  // namespace kvn_sim
