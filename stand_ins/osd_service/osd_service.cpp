#include "osd_service.h"

#include <string.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kvn_trace.h"

namespace {

struct Service {
    std::mutex mutex;
    std::vector<osd_call> calls;
    std::set<int> open;
    int next_connection = 1;
    osd_renderer_fn renderer = nullptr;
    void *renderer_data = nullptr;
};

Service &service() {
    static Service *instance = new Service();
    return *instance;
}

std::string escaped(const char *text) {
    std::string out;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '\t')
            out += "\\t";
        else if (*p == '\n')
            out += "\\n";
        else if (*p == '\\')
            out += "\\\\";
        else
            out += *p;
    }
    return out;
}

}  // namespace

extern "C" int osd_command(int owner, int *handle, int command, int flags, int mode,
                           unsigned short length, const char *text) {
    if (handle == nullptr) return -1;
    osd_call call;
    memset(&call, 0, sizeof call);
    call.owner = owner;
    call.command = command;
    call.flags = flags;
    call.mode = mode;
    call.length = length;
    if (text != nullptr) {
        size_t n = strnlen(text, length);
        if (n >= sizeof call.text) n = sizeof call.text - 1;
        memcpy(call.text, text, n);
    }
    Service &s = service();
    osd_renderer_fn renderer;
    void *data;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (command == -3) {
            // Opening always gives a fresh connection, whatever the word held.
            *handle = s.next_connection++;
            s.open.insert(*handle);
        }
        call.connection = *handle;
        if (command == -2) {
            // Closing a word that was never opened is harmless.
            s.open.erase(*handle);
            *handle = 0;
        }
        s.calls.push_back(call);
        renderer = s.renderer;
        data = s.renderer_data;
    }
    kvn_trace("osd owner=%d conn=%d cmd=%d flags=%d mode=%d len=%u text=%s", owner, call.connection,
              command, flags, mode, static_cast<unsigned>(length), escaped(call.text).c_str());
    if (renderer != nullptr) renderer(&call, data);
    return 0;
}

extern "C" int osd_service_count(void) {
    Service &s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    return static_cast<int>(s.calls.size());
}

extern "C" int osd_service_get(int index, osd_call *out) {
    Service &s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (index < 0 || static_cast<size_t>(index) >= s.calls.size() || out == nullptr) return -1;
    *out = s.calls[static_cast<size_t>(index)];
    return 0;
}

extern "C" void osd_service_clear(void) {
    Service &s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
}

extern "C" int osd_service_open_connections(void) {
    Service &s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    return static_cast<int>(s.open.size());
}

extern "C" void osd_service_set_renderer(osd_renderer_fn renderer, void *data) {
    Service &s = service();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.renderer = renderer;
    s.renderer_data = data;
}
