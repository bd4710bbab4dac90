// TV-mode changes as the rest of the player sees them: one ordered journal.
#ifndef KVN_MENU_HARNESS_H
#define KVN_MENU_HARNESS_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "kvn_app_harness.h"
#include "kvn_trace.h"
#include "platform/imports.h"
#include "smpoutd_api.h"

namespace kvn_test {

using Lines = std::vector<std::string>;
inline Lines operator+(Lines a, const Lines &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Everything readable now on a non-blocking descriptor.
inline std::string drain(int fd) {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
}

// The codes the output daemon was given, in order.
inline std::vector<int> daemon_codes() {
    std::vector<int> codes;
    for (int i = 0; i < smpoutd_stub_count(); ++i) codes.push_back(smpoutd_stub_code(i));
    return codes;
}

// As another program of the player writes a mode command.
inline void send_mode_command(const std::string &command) {
    int fd = open("/tmp/display", O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(static_cast<ssize_t>(command.size()), write(fd, command.data(), command.size()));
    close(fd);
}

// The stand-ins' trace lines and, before each, what had reached /tmp/tvmode ("tvmode "), the
// framework pipe ("event ") and /tmp/tolu_cgi ("reply ", made a FIFO read here) by then. Dialog
// connections are named a, b, ... in order of first use (0 stays).
class Journal {
  public:
    explicit Journal(bool replies = true) : tvmode_(tvmode_written()) {
        if (replies) {
            remove_file("/tmp/tolu_cgi");
            mkfifo("/tmp/tolu_cgi", 0622);
            replies_ = open("/tmp/tolu_cgi", O_RDONLY | O_NONBLOCK);
        }
        kvn_trace_set_listener([](const char *line, void *self) { ((Journal *)self)->add(line); },
                               this);
    }
    ~Journal() {
        kvn_trace_set_listener(nullptr, nullptr);
        close(replies_);
    }
    Lines lines() {
        add(nullptr);
        std::lock_guard<std::mutex> lock(mutex_);
        Lines out;
        std::map<std::string, std::string> names{{"0", "0"}};
        for (std::string line : entries_) {
            size_t at = line.find(" conn="), end = line.find(' ', at + 6);
            if (at != std::string::npos) {
                std::string conn = line.substr(at + 6, end - at - 6);
                names.emplace(conn, std::string(1, char('a' + names.size() - 1)));
                line.replace(at + 6, conn.size(), names[conn]);
            }
            out.push_back(line);
        }
        return out;
    }

  private:
    // Each write of /tmp/tvmode changes its change time, whatever it wrote.
    static std::string tvmode_written() {
        struct stat st {};
        stat("/tmp/tvmode", &st);
        return std::to_string(st.st_ino) + "." + std::to_string(st.st_ctim.tv_sec) + "." +
               std::to_string(st.st_ctim.tv_nsec);
    }
    void add(const char *line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::string written = tvmode_written(); written != tvmode_) {
            entries_.push_back("tvmode " + read_file("/tmp/tvmode"));
            tvmode_ = written;
        }
        if (std::string event = drain(kvn_command_pipe); !event.empty())
            entries_.push_back("event " + event);
        replied_ += drain(replies_);
        for (size_t end; (end = replied_.find('\0')) != std::string::npos;
             replied_.erase(0, end + 1))
            entries_.push_back("reply " + replied_.substr(0, end));
        if (line != nullptr) entries_.push_back(line);
    }
    std::mutex mutex_;
    Lines entries_;
    std::string tvmode_, replied_;
    int replies_ = -1;
};

// A dialog command as the journal shows it (tabs written as \t).
inline std::string osd(int owner, const char *conn, int cmd, int flags = 0, int mode = 0,
                       const std::string &text = "") {
    std::string shown;
    for (char c : text) shown += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "osd owner=" + std::to_string(owner) + " conn=" + conn + " cmd=" + std::to_string(cmd) +
           " flags=" + std::to_string(flags) + " mode=" + std::to_string(mode) +
           " len=" + std::to_string(text.size()) + " text=" + shown;
}
// The change to `code` unannounced; `event`: the framework pipe's payload, if any.
inline Lines changed(int code, const char *conn, int owner = 0, const std::string &event = "") {
    Lines out;
    if (code >= 0) out.push_back("tvmode " + std::to_string(code) + "\n");
    for (int cmd : {-3, 34, -2}) out.push_back(osd(owner, conn, cmd));
    if (!event.empty()) out.push_back("event swf=<event>change_tvmode</event>" + event + "\n");
    return out + Lines{"smpoutd code=" + std::to_string(code), osd(0, "0", -2)};
}
// A menu choice: replied, stored, changed for no application, committed.
inline Lines applied(int code, const char *reply, const char *conn, const std::string &event) {
    return Lines{"reply " + std::string(reply),
                 "flash write_var video_output=" + std::to_string(code),
                 "flash write_var video_setting=tvmode"} +
           changed(code, conn, 0, event) + Lines{"flash save_commit"};
}

}  // namespace kvn_test

#endif
