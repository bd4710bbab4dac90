#include "input_driver.h"

#include <string.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace kvn_input_driver {
namespace {

using CreateFn = decltype(IDirectFB::CreateInputEventBuffer);
using ReleaseFn = decltype(IDirectFBEventBuffer::Release);

std::mutex g_mutex;
CreateFn g_create = nullptr;
ReleaseFn g_release = nullptr;
std::vector<IDirectFBEventBuffer *> g_alive;

// Posting and the owner's last Release take the same lock, so a key is
// never posted into a buffer that is being destroyed.
DirectResult release_watched(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_alive.erase(std::remove(g_alive.begin(), g_alive.end(), buffer), g_alive.end());
    buffer->Release = g_release;
    return g_release(buffer);
}

DFBResult create_watched(IDirectFB *dfb, DFBInputDeviceCapabilities caps, DFBBoolean global,
                         IDirectFBEventBuffer **buffer) {
    DFBResult result = g_create(dfb, caps, global, buffer);
    if (result == DFB_OK && *buffer != nullptr) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_release = (*buffer)->Release;
        (*buffer)->Release = release_watched;
        g_alive.push_back(*buffer);
    }
    return result;
}

}  // namespace

void attach(IDirectFB *dfb) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (dfb == nullptr || dfb->CreateInputEventBuffer == create_watched) return;
    g_create = dfb->CreateInputEventBuffer;
    dfb->CreateInputEventBuffer = create_watched;
}

bool post(const DFBEvent &event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (IDirectFBEventBuffer *buffer : g_alive) buffer->PostEvent(buffer, &event);
    return !g_alive.empty();
}

bool post_key(DFBInputDeviceKeySymbol key) {
    DFBEvent e;
    memset(&e, 0, sizeof e);
    e.input.clazz = DFEC_INPUT;
    e.input.type = DIET_KEYPRESS;
    e.input.flags = DIEF_KEYSYMBOL;
    e.input.key_symbol = key;
    return post(e);
}

bool has_reader() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return !g_alive.empty();
}

int pending() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_alive.empty()) return -1;
    for (IDirectFBEventBuffer *buffer : g_alive)
        if (buffer->HasEvent(buffer) == DFB_OK) return 1;
    return 0;
}

}  // namespace kvn_input_driver
