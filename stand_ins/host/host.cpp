#include <map>
#include <mutex>
#include <string>

#include "host_stub.h"
#include "kvn_trace.h"

namespace {

struct Action {
    host_stub_action_fn fn = nullptr;
    void *data = nullptr;
};

struct Host {
    std::mutex mutex;
    std::map<std::string, int> calls;
    int bgrun = 0;
    int audio_type = 1;
    Action playlist_stop, stop_pod, visual_controller;
};

Host &host() {
    static Host *instance = new Host();
    return *instance;
}

void count(const char *name) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    ++h.calls[name];
}

void run(Action Host::*which) {
    Action action;
    {
        Host &h = host();
        std::lock_guard<std::mutex> lock(h.mutex);
        action = h.*which;
    }
    if (action.fn != nullptr) action.fn(action.data);
}

void set(Action Host::*which, host_stub_action_fn fn, void *data) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    (h.*which).fn = fn;
    (h.*which).data = data;
}

}  // namespace

extern "C" int get_bgrun(void) {
    count("get_bgrun");
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    return h.bgrun;
}

extern "C" int AmpAPI_is_audio_type(void) {
    count("AmpAPI_is_audio_type");
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    return h.audio_type;
}

extern "C" int VisualCtrl_Spawn(int mode) {
    count("VisualCtrl_Spawn");
    kvn_trace("host VisualCtrl_Spawn %d", mode);
    run(&Host::visual_controller);
    return 0;
}

extern "C" int playback_setting_menu_spawn(void *focused_window) {
    count("playback_setting_menu_spawn");
    kvn_trace("host playback_setting_menu_spawn %s", focused_window ? "window" : "null");
    return 0;
}

extern "C" int AmpAPI_PlayList_KeyTriggered_Stop(void) {
    count("AmpAPI_PlayList_KeyTriggered_Stop");
    kvn_trace("host AmpAPI_PlayList_KeyTriggered_Stop");
    run(&Host::playlist_stop);
    return 0;
}

extern "C" int force_stop_pod(void) {
    count("force_stop_pod");
    kvn_trace("host force_stop_pod");
    run(&Host::stop_pod);
    return 0;
}

extern "C" void host_stub_set_bgrun(int value) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.bgrun = value;
}

extern "C" void host_stub_set_audio_type(int value) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.audio_type = value;
}

extern "C" void host_stub_on_playlist_stop(host_stub_action_fn fn, void *data) {
    set(&Host::playlist_stop, fn, data);
}
extern "C" void host_stub_on_force_stop_pod(host_stub_action_fn fn, void *data) {
    set(&Host::stop_pod, fn, data);
}
extern "C" void host_stub_on_visual_controller(host_stub_action_fn fn, void *data) {
    set(&Host::visual_controller, fn, data);
}

extern "C" int host_stub_calls(const char *function_name) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    auto it = h.calls.find(function_name ? function_name : "");
    return it == h.calls.end() ? 0 : it->second;
}

extern "C" void host_stub_reset(void) {
    Host &h = host();
    std::lock_guard<std::mutex> lock(h.mutex);
    h.calls.clear();
    h.bgrun = 0;
    h.audio_type = 1;
    h.playlist_stop = h.stop_pod = h.visual_controller = Action();
}
