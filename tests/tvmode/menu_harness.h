// The TV-mode menu on an application's thread against its real window, and what it did as the
// platform saw it.
#ifndef KVN_MENU_HARNESS_H
#define KVN_MENU_HARNESS_H

#include <unistd.h>

#include <map>

#include "kvn_app_harness.h"
#include "kvn_trace.h"
#include "platform/imports.h"
#include "smpoutd_api.h"

namespace menu_test {

using kvn_test::has;

using Clock = std::chrono::steady_clock;
struct Timed {
    osd_call call;
    Clock::time_point at;
};
inline std::mutex timed_mutex;
inline std::vector<Timed> timed;
inline void note_time(const osd_call *call, void *) {
    std::lock_guard<std::mutex> lock(timed_mutex);
    timed.push_back({*call, Clock::now()});
}

// Seconds from the first (or with `from_last` the last) (command, mode) to the next (end_command,
// end_mode); -1 if none.
inline double seconds_until(int command, int mode, int end_command, int end_mode,
                            bool from_last = false) {
    std::lock_guard<std::mutex> lock(timed_mutex);
    const Timed *start = nullptr;
    for (const Timed &t : timed) {
        if (t.call.command == end_command && t.call.mode == end_mode && start != nullptr)
            return std::chrono::duration<double>(t.at - start->at).count();
        if (t.call.command == command && t.call.mode == mode && (from_last || start == nullptr))
            start = &t;
    }
    return -1;
}

inline std::vector<osd_call> dialog(int command, int mode = 0) {
    std::vector<osd_call> out;
    for (const osd_call &c : kvn_test::osd_calls())
        if (c.command == command && c.mode == mode) out.push_back(c);
    return out;
}
inline std::vector<std::string> texts(int command, int mode = 0) {
    std::vector<std::string> out;
    for (const osd_call &c : dialog(command, mode)) out.push_back(c.text);
    return out;
}
inline std::vector<int> daemon_codes() {
    std::vector<int> out;
    for (int i = 0; i < smpoutd_stub_count(); ++i) out.push_back(smpoutd_stub_code(i));
    return out;
}
using kvn_test::captured_stderr;
// What `run` printed on standard output.
inline std::string stdout_of(const std::function<void()> &run) {
    return testing::internal::CaptureStdout(), run(), testing::internal::GetCapturedStdout();
}
// What a run left: the daemon's codes, the stored mode and the menu's own mode mark.
inline std::string left() {
    std::string codes;
    for (int c : daemon_codes()) codes += std::to_string(c) + " ";
    return codes + "| " + kvn_test::stored("video_output") + " | " +
           std::to_string(current_fip_mode);
}
// (command, flags, mode, length) of a dialog command.
inline std::vector<int> head(const osd_call &c) { return {c.command, c.flags, c.mode, c.length}; }

// The stand-ins' trace lines of these sources (all when none), dialog connections renamed a, b, ...
// (0 stays).
inline std::vector<std::string> platform_trace(std::vector<std::string> sources = {}) {
    std::vector<std::string> out;
    std::map<std::string, std::string> names;
    for (std::string line : kvn_test::trace_lines()) {
        bool wanted = sources.empty();
        for (const std::string &s : sources) wanted = wanted || line.rfind(s + " ", 0) == 0;
        size_t at = line.find(" conn=");
        if (at != std::string::npos) {
            std::string n = line.substr(at + 6, line.find(' ', at + 6) - at - 6);
            if (n != "0")
                line.replace(
                    at + 6, n.size(),
                    names.emplace(n, std::string(1, char('a' + names.size()))).first->second);
        }
        if (wanted) out.push_back(line);
    }
    return out;
}
// A dialog command as the trace shows it (tabs written as \t).
inline std::string osd(int owner, const char *conn, int cmd, int flags = 0, int mode = 0,
                       const std::string &text = "") {
    std::string shown;
    for (char c : text) shown += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "osd owner=" + std::to_string(owner) + " conn=" + conn + " cmd=" + std::to_string(cmd) +
           " flags=" + std::to_string(flags) + " mode=" + std::to_string(mode) +
           " len=" + std::to_string(text.size()) + " text=" + shown;
}

// What a menu choice does after its reply: stored, switched for no application, committed.
inline std::vector<std::string> applied(int code, const char *conn) {
    const std::string c = std::to_string(code);
    return {"flash write_var video_output=" + c,
            "flash write_var video_setting=tvmode",
            osd(0, conn, -3),
            osd(0, conn, 34),
            osd(0, conn, -2),
            "smpoutd code=" + c,
            osd(0, "0", -2),
            "flash save_commit"};
}
// Everything readable now on a non-blocking descriptor.
inline std::string drain(int fd) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
}

inline std::string resolution_page(const std::string &row, const std::string &next = "Next",
                                   const std::string &exit = "Exit") {
    return "-set=24\t-opts=Auto,720p,1080i,1080p,4K\t-optdel=,\t-ntt=" + next + "\t-rtt=" + exit +
           "\t-acm=\t-inm=\t-fset=24\t-fdis=0\t-fopt=" + row + "\t";
}
inline std::string frequency_page(const std::string &options, const std::string &row,
                                  const std::string &at) {
    return "-set=25\t-opts=" + options +
           "\t-optdel=,\t-ntt=Select\t-rtt=Back\t-acm=\t-inm=Resolution  " + row +
           "\t-fset=25\t-fdis=0\t-fopt=" + at + "\t";
}
inline std::string confirmation(const std::string &line, const std::string &heading) {
    return "-set=28\t-opts=" + line + "\t-ntt=Yes\t-rtt=No\t-acm=Apply Setting?\t-inm=" + heading +
           "\t";
}
inline std::string highlight(int page, const std::string &name) {
    return "-set=" + std::to_string(page) + "\t-fdis=0\t-fopt=" + name + "\t";
}
inline std::string countdown_text(int seconds, const std::string &title = "TV Mode",
                                  const std::string &keep = "Keep current setting?",
                                  const std::string &unit = "seconds",
                                  const std::string &yes = "Yes", const std::string &no = "No") {
    return "-tit=" + title + "\t-msg=" + std::string(20, ' ') + keep + std::string(51, ' ') +
           std::to_string(seconds) + " " + unit + "....\t-ntt=" + yes + "\t-rtt=" + no + "\t";
}

// kvn_tvmode on its own thread for a window, the recorders cleared first; keys posted before wait
// in the buffer.
class Menu {
  public:
    explicit Menu(kvn_window *window) : window_(window) {
        osd_service_clear(), smpoutd_stub_clear();
        {
            std::lock_guard<std::mutex> lock(timed_mutex);
            timed.clear();
        }
        osd_service_set_renderer(note_time, nullptr);
        thread_ = std::thread([this] { result_ = kvn_tvmode(window_), done_ = true; });
        shown_ = kvn_test::eventually([] { return osd_service_count() >= 2; });
    }
    ~Menu() {
        if (thread_.joinable()) thread_.join();
        osd_service_set_renderer(nullptr, nullptr);
    }
    bool shown() const { return shown_; }
    void press(std::initializer_list<DFBInputDeviceKeySymbol> keys,
               DFBWindowEventType type = DWET_KEYDOWN) {
        for (DFBInputDeviceKeySymbol k : keys) kvn_test::post_key(window_->events, k, type);
    }
    // Waits for the end of the menu; true when it ended and returned 0.
    bool ended(int timeout_ms = 10000) {
        bool done = kvn_test::eventually([this] { return done_.load(); }, timeout_ms);
        if (done) thread_.join();
        return done && result_ == 0;
    }
    // Key-down symbols still waiting in the window's buffer, drained.
    std::vector<DFBInputDeviceKeySymbol> left_in_buffer() {
        std::vector<DFBInputDeviceKeySymbol> out;
        for (DFBEvent e; window_->events->GetEvent(window_->events, &e) == DFB_OK;)
            if (e.clazz == DFEC_WINDOW && e.window.type == DWET_KEYDOWN)
                out.push_back(e.window.key_symbol);
        return out;
    }

  private:
    kvn_window *window_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    int result_ = -1;
    bool shown_ = false;
};

}  // namespace menu_test

#endif
