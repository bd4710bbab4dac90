// An application as the player runs one: a thread with its own real
// DirectFB window and event loop, handing the events it does not consume to
// the framework's default handler.
#ifndef KVN_APP_HARNESS_H
#define KVN_APP_HARNESS_H

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "korvan_framework_lib.h"
#include "kvn_test_support.h"

namespace kvn_test {

class App {
public:
    // Creates the window (initially invisible) and fills the record.
    explicit App(int id, int hide_others = 1, uint8_t opacity = 0xff) {
        start_display();
        memset(&record, 0, sizeof record);
        record.window_id = id;
        record.hide_others = hide_others;
        record.opacity = opacity;
        record.osd_id = 100 + id;
        record.active = 1;
        record.focus_on_window_callback = func_default_focus_on_window_callback;
        record.focus_next_window_callback = func_default_focus_next_window_callback;
        DFBWindowDescription desc;
        kvn_create_window_surface_events(&record, &desc, 0, 0, 320, 240, DWCAPS_NONE, 0);
        // A second buffer sees DirectFB's own focus events.
        record.window->CreateEventBuffer(record.window, &focus_watch_);
    }
    ~App() {
        stop();
        focus_watch_->Release(focus_watch_);
        unregister_window(&record);
        kvn_window_clean_up(&record);
        // The framework never frees the argument holder; its owner does.
        if (kvn_invoke_args *args = record.invoke_args) {
            for (int i = 0; args->argv != nullptr && args->argv[i] != nullptr; ++i) free(args->argv[i]);
            free(args->argv);
            free(args);
        }
    }

    // Runs the loop in a thread; `own` sees each event first, true: consumed.
    void start(std::function<bool(DFBWindowEvent &)> own = nullptr) {
        own_ = own;
        thread_ = std::thread([this] { loop(); });
    }
    void stop() {
        if (!thread_.joinable()) return;
        running_ = false;
        record.events->WakeUp(record.events);
        thread_.join();
    }

    // Posts a key-down into the window's buffer, as DirectFB does.
    void press(DFBInputDeviceKeySymbol key, bool repeat = false) {
        post_key(record.events, key, DWET_KEYDOWN, repeat ? DWEF_REPEAT : DWEF_NONE);
    }

    // Key-down events the loop received, as they arrived.
    std::vector<DFBInputDeviceKeySymbol> keys() {
        std::lock_guard<std::mutex> lock(mutex_);
        return keys_;
    }
    // Waits until the loop has received `count` key-down events.
    bool wait_for_keys(size_t count, int timeout_ms = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return keys_.size() >= count; });
    }
    // Number of events the default handler answered with 0.
    int handled() const { return handled_.load(); }
    // The loop waits with nothing queued (not in a handler, standby or menu).
    bool idle() { return !busy_.load() && record.events->HasEvent(record.events) != DFB_OK; }
    // Whether DirectFB's last focus event to this window gave it the focus.
    bool has_directfb_focus() {
        DFBEvent event;
        while (focus_watch_->GetEvent(focus_watch_, &event) == DFB_OK) {
            if (event.clazz != DFEC_WINDOW) continue;
            if (event.window.type == DWET_GOTFOCUS) directfb_focus_ = true;
            if (event.window.type == DWET_LOSTFOCUS) directfb_focus_ = false;
        }
        return directfb_focus_;
    }
    uint8_t opacity() {
        uint8_t value = 0;
        record.window->GetOpacity(record.window, &value);
        return value;
    }

    kvn_window record;

private:
    void loop() {
        while (running_) {
            if (record.events->WaitForEventWithTimeout(record.events, 0, 20) != DFB_OK) continue;
            DFBEvent event;
            busy_ = true;  // before the event leaves the buffer
            while (running_ && record.events->GetEvent(record.events, &event) == DFB_OK) {
                if (event.clazz != DFEC_WINDOW) continue;
                DFBWindowEvent &w = event.window;
                if (w.type == DWET_KEYDOWN) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    keys_.push_back(w.key_symbol);
                    cv_.notify_all();
                }
                if (own_ && own_(w)) continue;
                if (kvn_default_event_handling(&record, &w) == 0) handled_.fetch_add(1);
            }
            busy_ = false;
        }
    }

    std::function<bool(DFBWindowEvent &)> own_;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::atomic<int> handled_{0};
    std::atomic<bool> busy_{false};
    IDirectFBEventBuffer *focus_watch_ = nullptr;
    bool directfb_focus_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<DFBInputDeviceKeySymbol> keys_;
};

// Polls `condition` for up to `timeout_ms`.
inline bool eventually(const std::function<bool()> &condition, int timeout_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

}  // namespace kvn_test

#endif
