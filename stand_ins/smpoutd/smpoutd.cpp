#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "kvn_trace.h"
#include "smpoutd_api.h"

namespace {

constexpr int kPictureOff = 28;

struct Daemon {
    std::mutex mutex;
    std::vector<int> codes;
    std::string auto_name = "1080i59\n";
    bool picture_on = true;
    Daemon() {
        const char *name = getenv("SMPOUTD_AUTO_NAME");
        if (name != nullptr) auto_name = *name ? std::string(name) + "\n" : std::string();
    }
};

Daemon &daemon_state() {
    static Daemon *instance = new Daemon();
    return *instance;
}

}  // namespace

extern "C" int smpoutd_api_set_tvmode(int code) {
    Daemon &d = daemon_state();
    std::string name;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.codes.push_back(code);
        d.picture_on = code != kPictureOff;
        name = d.auto_name;
    }
    if (code == 0 && !name.empty()) {
        FILE *f = fopen("/tmp/tvname", "w");
        if (f != nullptr) {
            fputs(name.c_str(), f);
            fclose(f);
        }
    } else if (code != 0 && code != kPictureOff) {
        unlink("/tmp/tvname");  // a fixed mode: the output side has nothing to name
    }
    kvn_trace("smpoutd code=%d%s", code, code == kPictureOff ? " (picture off)" : "");
    return 0;
}

extern "C" int smpoutd_stub_last_code(void) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    return d.codes.empty() ? -1 : d.codes.back();
}

extern "C" int smpoutd_stub_picture_on(void) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    return d.picture_on ? 1 : 0;
}

extern "C" int smpoutd_stub_count(void) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    return static_cast<int>(d.codes.size());
}

extern "C" int smpoutd_stub_code(int index) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (index < 0 || static_cast<size_t>(index) >= d.codes.size()) return -1;
    return d.codes[static_cast<size_t>(index)];
}

extern "C" void smpoutd_stub_clear(void) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.codes.clear();
}

extern "C" void smpoutd_stub_set_auto_name(const char *name) {
    Daemon &d = daemon_state();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.auto_name = (name != nullptr && *name) ? std::string(name) + "\n" : std::string();
}
