// An application as the player runs one: a thread with its own DirectFB window
// and event loop, handing the events it does not consume to the default handler.
#ifndef KVN_APP_HARNESS_H
#define KVN_APP_HARNESS_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "kvn_dfb_kit.h"

namespace kvn_test {

inline bool eventually(const std::function<bool()> &condition, int timeout_ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

class App {
  public:
    explicit App(int id, int hide_others = 1, uint8_t opacity = 0xff) {
        start_display();
        record = kvn_window{};
        record.window_id = id, record.hide_others = hide_others, record.opacity = opacity;
        record.osd_id = 100 + id, record.active = 1;
        record.focus_on_window_callback = func_default_focus_on_window_callback;
        record.focus_next_window_callback = func_default_focus_next_window_callback;
        DFBWindowDescription desc;
        kvn_create_window_surface_events(&record, &desc, 0, 0, 320, 240, DWCAPS_NONE, 0);
        // Sees DirectFB's own focus events.
        record.window->CreateEventBuffer(record.window, &focus_watch_);
    }
    ~App() {
        stop();
        focus_watch_->Release(focus_watch_);
        unregister_window(&record);
        kvn_window_clean_up(&record);
        if (kvn_invoke_args *args = record.invoke_args) {  // its owner frees the argument holder
            for (int i = 0; args->argv != nullptr && args->argv[i] != nullptr; ++i)
                free(args->argv[i]);
            free(args->argv), free(args);
        }
    }

    // Runs the loop in a thread; `own` sees each event first, true: consumed.
    void start(std::function<bool(DFBWindowEvent &)> own = nullptr) {
        own_ = own, thread_ = std::thread([this] { loop(); });
    }
    void stop() {
        if (!thread_.joinable()) return;
        running_ = false;
        record.events->WakeUp(record.events);
        thread_.join();
    }
    void press(DFBInputDeviceKeySymbol key, bool repeat = false) {
        post_key(record.events, key, DWET_KEYDOWN, repeat ? DWEF_REPEAT : DWEF_NONE);
    }
    // Key-down events the loop received, in order.
    std::vector<DFBInputDeviceKeySymbol> keys() {
        return std::lock_guard<std::mutex>(mutex_), keys_;
    }
    bool wait_for_keys(size_t count) {
        return eventually([&] { return keys().size() >= count; });
    }
    // The loop waits with nothing queued (not in a handler, standby or menu).
    bool idle() { return !busy_.load() && record.events->HasEvent(record.events) != DFB_OK; }
    // Whether DirectFB's last focus event to this window gave it the focus.
    bool has_directfb_focus() {
        DFBEvent e;
        while (focus_watch_->GetEvent(focus_watch_, &e) == DFB_OK)
            if (e.clazz == DFEC_WINDOW &&
                (e.window.type == DWET_GOTFOCUS || e.window.type == DWET_LOSTFOCUS))
                directfb_focus_ = e.window.type == DWET_GOTFOCUS;
        return directfb_focus_;
    }
    uint8_t opacity() {  // as DirectFB reads it back
        uint8_t value = 0;
        return record.window->GetOpacity(record.window, &value), value;
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
                if (event.window.type == DWET_KEYDOWN) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    keys_.push_back(event.window.key_symbol);
                }
                if (own_ && own_(event.window)) continue;
                kvn_default_event_handling(&record, &event.window);
            }
            busy_ = false;
        }
    }

    std::function<bool(DFBWindowEvent &)> own_;
    std::thread thread_;
    std::atomic<bool> running_{true}, busy_{false};
    IDirectFBEventBuffer *focus_watch_ = nullptr;
    bool directfb_focus_ = false;
    std::mutex mutex_;
    std::vector<DFBInputDeviceKeySymbol> keys_;
};

inline bool register_all(std::initializer_list<App *> apps) {
    return std::all_of(apps.begin(), apps.end(),
                       [](App *a) { return !register_window(&a->record); });
}
// What the spies logged (dfb_calls), each line of a window of the applications given naming the
// application instead ("BROWSER SetOpacity 0").
inline std::vector<std::string> window_journal(const std::vector<App *> &apps) {
    std::vector<std::string> out = dfb_calls;
    for (std::string &line : out)
        for (App *a : apps) {
            const std::string id = "w" + std::to_string(window_id(a->record.window)) + " ";
            if (line.rfind(id, 0) == 0)
                line.replace(0, id.size() - 1, window_id_str[a->record.window_id]);
        }
    return out;
}

}  // namespace kvn_test

#endif
