// The simulator's own stand-ins for the player's applications: a window
// with the application's name, its focus and the last key it got, and a
// loop that hands every key to the framework.
#include <pthread.h>
#include <string.h>

#include <atomic>
#include <thread>

#include "apps.h"
#include "host_stub.h"
#include "korvan_framework_lib.h"
#include "screen.h"
#include "sim_script.h"
#include "transcript.h"

namespace kvn_sim {

const int kPlayerApps[6] = {BROWSER,      ADVANCE_MEDIA_PLAYER, PHOTO_PLAYER,
                            SCREEN_SAVER, FLASH_LITE,           TVMODE};

namespace {

const uint32_t kColours[KVN_APPLICATION_COUNT] = {0, 0, 0x204060, 0x603020, 0x206030, 0x404040,
                                                  0, 0, 0x503060, 0,        0x306060};

void set_active(kvn_window &record, int active) {
    pthread_mutex_lock(&kvn_mutex_windows);
    record.active = active;
    pthread_mutex_unlock(&kvn_mutex_windows);
}

class DemoApp : public PlayerApp {
  public:
    explicit DemoApp(int id) : id_(id) {
        memset(&record_, 0, sizeof record_);
        record_.window_id = id;
        record_.active = 1;
        record_.hide_others = 1;
        record_.opacity = 0xff;
        record_.osd_id = 100 + id;
        record_.focus_on_window_callback = func_default_focus_on_window_callback;
        record_.focus_next_window_callback = func_default_focus_next_window_callback;
        DFBWindowDescription desc;
        kvn_create_window_surface_events(&record_, &desc, 0, 0, g_screen.width, g_screen.height,
                                         DWCAPS_NONE, 0);
        register_window(&record_);
        if (id == PHOTO_PLAYER) host_stub_on_force_stop_pod(&DemoApp::playback_stopped, this);
        thread_ = std::thread([this] {
            loop();
            ended_ = true;
        });
    }
    ~DemoApp() override {
        if (id_ == PHOTO_PLAYER) host_stub_on_force_stop_pod(nullptr, nullptr);
        if (thread_.joinable()) thread_.join();
    }
    int id() const override { return id_; }
    void ask_to_stop() override {
        running_ = false;
        record_.events->WakeUp(record_.events);
    }
    bool ended() const override { return ended_; }
    bool finish(std::string &) override {
        if (thread_.joinable()) thread_.join();
        unregister_window(&record_);
        kvn_window_clean_up(&record_);
        return true;
    }

  private:
    // The standby stops the photo player's playback and waits until it is no
    // longer active, as the player's photo player is; it comes back after
    // the wake-up.
    static void playback_stopped(void *self) {
        say("  (photo player stopped)");
        auto *app = static_cast<DemoApp *>(self);
        set_active(app->record_, 0);
        app->stopped_ = true;
    }

    void draw() {
        IDirectFBSurface *s = record_.surface;
        uint32_t c = kColours[id_];
        s->SetColor(s, (c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff, 0xff);
        s->FillRectangle(s, 0, 0, g_screen.width, g_screen.height);
        s->SetColor(s, 0xff, 0xff, 0xff, 0xff);
        text_at(s, g_screen.big_font, window_id_str[id_], 40, 80);
        int y = 160;
        text_at(s, g_screen.font, std::string("focus: ") + (focused_ ? "yes" : "no"), 40, y);
        text_at(s, g_screen.font, "last key: " + last_key_ + " (" + last_result_ + ")", 40,
                y += 34);
        if (!args_.empty()) text_at(s, g_screen.font, "arguments: " + args_, 40, y += 34);
        s->Flip(s, nullptr, DSFLIP_NONE);
    }

    void handle(DFBWindowEvent &w) {
        DFBInputDeviceKeySymbol key = w.key_symbol;
        last_key_ = key_name(key);
        if (key == DIKS_CUSTOM0 && record_.invoke_args != nullptr) {
            args_.clear();
            for (int i = 0; i < record_.invoke_args->argc; ++i)
                args_ += std::string(record_.invoke_args->argv[i]) + " ";
        }
        say(std::string("  ") + window_id_str[id_] + " got key " + last_key_);
        // The menu and the standby keep this thread until they end: show
        // the key that started them first.
        last_result_ = "handling";
        draw();
        int result = kvn_default_event_handling(&record_, &w);
        last_result_ = result == 0 ? "framework key" : "own key";
        dirty_ = true;
    }

    void loop() {
        while (running_) {
            if (id_ == TVMODE) {
                check_tvmode_fifo();
                check_hdmi_state_changed();
            }
            if (stopped_ && kvn_get_standby_mode() == 0) {
                set_active(record_, 1);
                stopped_ = false;
            }
            bool focused = is_self_on_focus(id_) == 1;
            if (focused != focused_) {
                focused_ = focused;
                dirty_ = true;
            }
            if (dirty_) {
                dirty_ = false;
                draw();
            }
            if (record_.events->WaitForEventWithTimeout(record_.events, 0, 20) != DFB_OK) continue;
            DFBEvent event;
            while (running_ && record_.events->GetEvent(record_.events, &event) == DFB_OK) {
                if (event.clazz == DFEC_WINDOW && event.window.type == DWET_KEYDOWN)
                    handle(event.window);
            }
        }
    }

    int id_;
    kvn_window record_;
    std::thread thread_;
    std::atomic<bool> running_{true}, ended_{false}, stopped_{false};
    bool dirty_ = true, focused_ = false;
    std::string last_key_ = "-", last_result_ = "-", args_;
};

}  // namespace

std::unique_ptr<PlayerApp> start_demo_app(int id) {
    return std::unique_ptr<PlayerApp>(new DemoApp(id));
}

}  // namespace kvn_sim
