#include <atomic>

#include "kvn_trace.h"
#include "screensaver_stub.h"

namespace {
std::atomic<int> g_last_window{3};
std::atomic<int> g_switches{0};
std::atomic<int> g_enabled{1};
}  // namespace

extern "C" int scsvr_callback_window_switch(void) {
    g_switches.fetch_add(1);
    kvn_trace("scsvr window_switch");
    return 0;
}

extern "C" int scsvr_global_on_off(int on) {
    g_enabled.store(on);
    kvn_trace("scsvr global_on_off %d", on);
    return 0;
}

extern "C" int scsvr_return_last_window(void) {
    int id = g_last_window.load();
    kvn_trace("scsvr return_last_window -> %d", id);
    return id;
}

extern "C" void scsvr_stub_set_last_window(int window_id) { g_last_window.store(window_id); }
extern "C" int scsvr_stub_switch_count(void) { return g_switches.load(); }
extern "C" int scsvr_stub_enabled(void) { return g_enabled.load(); }
extern "C" void scsvr_stub_reset(void) {
    g_last_window.store(3);
    g_switches.store(0);
    g_enabled.store(1);
}
