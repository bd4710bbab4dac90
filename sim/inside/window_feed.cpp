#include "window_feed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "keyboard_map.h"
#include "remote.h"
#include "screen.h"
#include "sim_script.h"
#include "stop_signal.h"
#include "transcript.h"
#include "view_channel.h"

namespace kvn_sim {
namespace {

using Clock = std::chrono::steady_clock;
// Frames while the picture changes, and the slower look while it does not.
constexpr auto kFrameTime = std::chrono::milliseconds(30);
constexpr auto kIdleLook = std::chrono::milliseconds(200);
constexpr auto kStillAfter = std::chrono::seconds(1);
// After a key, quick looks: the application draws its answer a few
// milliseconds after the key, mostly after a look made at once, and the
// next beat would show it up to a frame time late.
constexpr auto kQuickLook = std::chrono::milliseconds(4);
constexpr int kQuickLooks = 6;
// Trace lines waiting for the launcher; past this the oldest go, so that
// a stalled launcher costs the player no memory.
constexpr size_t kTextsKept = 10000;

struct Feed {
    int fd = -1;
    std::string shots;
    std::thread reader, pump, texter;
    std::atomic<bool> running{false};
    std::atomic<bool> trace{false};
    SharedScreen screen;
    std::mutex mutex;
    std::condition_variable poke;  // a key came: look at the screen soon
    bool poked = false;
    std::mutex text_mutex;
    std::condition_variable text_came;
    std::deque<std::string> texts;
    std::string status;
    bool status_new = false;
    size_t texts_dropped = 0;

    void read_messages() {
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd(), POLLIN, 0}};
        while (running) {
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents != 0) return;  // the stop needs no more keys
            ControlMessage m;
            if (!receive_message(fd, m)) {
                say("  (the launching korvan-sim is gone: stopping)");
                request_stop(SIGHUP);
                return;
            }
            std::string error;
            switch (m.type) {
                case kMsgKey: {
                    DFBInputDeviceKeySymbol key = static_cast<DFBInputDeviceKeySymbol>(m.value);
                    say("[window] key " + key_name(key));
                    press(key);
                    std::lock_guard<std::mutex> lock(mutex);
                    poked = true;
                    poke.notify_one();
                    break;
                }
                case kMsgShot:
                    if (valid_shot_name(m.text) && !take_shot(shots, m.text, error))
                        fprintf(stderr, "korvan-sim: window shot: %s\n", error.c_str());
                    break;
                case kMsgStop:
                    request_stop(static_cast<int>(m.value));
                    break;
                default:
                    break;
            }
        }
    }

    void feed_frames() {
        Picture frame, last;
        std::string error;
        Clock::time_point changed = Clock::now(), tick = Clock::now();
        int quick = 0;
        while (running) {
            if (grab_screen(frame, error) && frame.pixels != last.pixels) {
                screen.publish(frame);
                ControlMessage m;
                m.type = kMsgFrame;
                send_message(fd, m);
                last.pixels.swap(frame.pixels);
                changed = Clock::now();
            }
            // On a beat, not after a pause: the copy's own time is inside it.
            if (quick > 0 && quick--)
                tick += kQuickLook;
            else
                tick += Clock::now() - changed < kStillAfter ? kFrameTime : kIdleLook;
            if (tick < Clock::now()) tick = Clock::now();
            std::unique_lock<std::mutex> lock(mutex);
            poke.wait_until(lock, tick, [&] { return poked || !running; });
            if (poked) {
                changed = tick = Clock::now();
                quick = kQuickLooks;
            }
            poked = false;
        }
    }

    // Sends the trace lines and the status in a thread of its own: the
    // threads that make them never wait for the launcher.
    void send_texts() {
        std::unique_lock<std::mutex> lock(text_mutex);
        for (;;) {
            text_came.wait(lock, [&] { return !running || !texts.empty() || status_new; });
            // What came before the stop still goes: the page shows the end.
            if (!running && texts.empty() && !status_new) return;
            std::deque<std::string> lines;
            lines.swap(texts);
            size_t dropped = texts_dropped;
            texts_dropped = 0;
            bool send_status = status_new;
            status_new = false;
            std::string now = status;
            lock.unlock();
            ControlMessage m;
            m.type = kMsgTrace;
            if (dropped > 0)
                send_message(fd, m, -1,
                             "(" + std::to_string(dropped) + " trace lines not passed on)");
            for (const std::string &line : lines) send_message(fd, m, -1, line);
            m.type = kMsgStatus;
            if (send_status) send_message(fd, m, -1, now);
            lock.lock();
        }
    }

    void add_text(const char *line) {
        std::lock_guard<std::mutex> lock(text_mutex);
        if (texts.size() >= kTextsKept) {
            texts.pop_front();
            ++texts_dropped;
        }
        texts.emplace_back(line);
        text_came.notify_one();
    }

    void set_status(const std::string &now) {
        std::lock_guard<std::mutex> lock(text_mutex);
        status = now;
        status_new = true;
        text_came.notify_one();
    }
} g_feed;

}  // namespace

int inherited_control_fd() {
    const char *text = getenv(kControlFdVariable);
    if (text == nullptr) return -1;
    char *end = nullptr;
    long fd = strtol(text, &end, 10);
    unsetenv(kControlFdVariable);
    if (*end != '\0' || fd < 3 || fd > 1 << 20 || fcntl(static_cast<int>(fd), F_GETFD) < 0)
        return -1;
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
}

bool start_window_feed(int control_fd, FeedKinds kinds, const std::string &shots,
                       std::string &error) {
    Feed &f = g_feed;
    f.fd = control_fd;
    f.shots = shots;
    f.running = true;
    if (kinds.trace) {
        f.trace = true;
        f.texter = std::thread([&f] { f.send_texts(); });
    }
    if (kinds.screen) {
        Picture first;
        if (!grab_screen(first, error) ||
            !f.screen.create(first.width, first.height, render_panel(help_lines()), error))
            return false;
        ControlMessage m;
        m.type = kMsgScreen;
        if (!send_message(control_fd, m, f.screen.fd())) {
            error = "the launcher took no screen";
            return false;
        }
        f.pump = std::thread([&f] { f.feed_frames(); });
    }
    f.reader = std::thread([&f] { f.read_messages(); });
    return true;
}

void stop_window_feed() {
    Feed &f = g_feed;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        f.running = false;
        f.poke.notify_one();
    }
    {
        std::lock_guard<std::mutex> lock(f.text_mutex);
        f.text_came.notify_one();
    }
    if (f.pump.joinable()) f.pump.join();
    if (f.reader.joinable()) f.reader.join();
    if (f.texter.joinable()) f.texter.join();
    f.trace = false;
}

void keep_trace_for_page() { g_feed.trace = true; }

void feed_trace_line(const char *line) {
    if (g_feed.trace) g_feed.add_text(line);
}

void feed_status(const std::string &status) {
    // Kept before the feed starts, so that the page gets the status at once.
    g_feed.set_status(status);
}

}  // namespace kvn_sim
