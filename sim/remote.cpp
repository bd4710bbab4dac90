#include "remote.h"

#include <string.h>

#include <atomic>
#include <mutex>
#include <set>

#include "dialog_view.h"
#include "korvan_framework_lib.h"
#include "sim_script.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

using CreateInputBufferFn = DFBResult (*)(IDirectFB *, DFBInputDeviceCapabilities, DFBBoolean,
                                          IDirectFBEventBuffer **);
using ReleaseFn = DirectResult (*)(IDirectFBEventBuffer *);

CreateInputBufferFn g_create_input_buffer = nullptr;
ReleaseFn g_release_buffer = nullptr;
std::mutex g_buffers_mutex;  // held while a buffer is posted to, so it is not released meanwhile
std::set<IDirectFBEventBuffer *> g_input_buffers;
// The application that was sent the last TV key: the menu reads its window.
std::atomic<int> g_menu_owner{-1};

DirectResult release_input_buffer(IDirectFBEventBuffer *buffer) {
    {
        std::lock_guard<std::mutex> lock(g_buffers_mutex);
        g_input_buffers.erase(buffer);
    }
    return g_release_buffer(buffer);
}

DFBResult create_input_buffer(IDirectFB *dfb, DFBInputDeviceCapabilities caps, DFBBoolean global,
                              IDirectFBEventBuffer **out) {
    DFBResult result = g_create_input_buffer(dfb, caps, global, out);
    if (result == DFB_OK && *out != nullptr) {
        std::lock_guard<std::mutex> lock(g_buffers_mutex);
        g_release_buffer = (*out)->Release;
        (*out)->Release = release_input_buffer;
        g_input_buffers.insert(*out);
    }
    return result;
}

}  // namespace

void follow_input_buffers() {
    IDirectFB *dfb = kvn_dfb_global_context.kvn_dfb;
    g_create_input_buffer = dfb->CreateInputEventBuffer;
    dfb->CreateInputEventBuffer = create_input_buffer;
}

bool standby_waiting() {
    std::lock_guard<std::mutex> lock(g_buffers_mutex);
    return !g_input_buffers.empty();
}

void press(DFBInputDeviceKeySymbol key) {
    {
        // In standby the player's input driver feeds the standby's own input
        // buffer, not a window.
        std::lock_guard<std::mutex> lock(g_buffers_mutex);
        if (!g_input_buffers.empty()) {
            DFBEvent e;
            memset(&e, 0, sizeof e);
            e.input.clazz = DFEC_INPUT;
            e.input.type = DIET_KEYPRESS;
            e.input.flags = DIEF_KEYSYMBOL;
            e.input.key_symbol = key;
            for (IDirectFBEventBuffer *buffer : g_input_buffers) buffer->PostEvent(buffer, &e);
            say("  -> standby input buffer");
            return;
        }
    }
    kvn_window *focused = get_window_on_focus();
    int id = focused != nullptr ? focused->window_id : -1;
    if (id < 0 || kvnfw_send_event(id, key) != 0) {
        say("  (no window has the focus: key dropped)");
        return;
    }
    if (key == DIKS_TV) g_menu_owner = id;
}

bool end_open_dialogs() {
    if (standby_waiting()) {
        say("  (waking the player from standby before leaving)");
        press(DIKS_POWER);
        return true;
    }
    MenuState menu = menu_state();
    int owner = g_menu_owner;
    if (!menu.pages && !menu.countdown) return false;
    if (owner < 0) {
        kvn_window *focused = get_window_on_focus();
        owner = focused != nullptr ? focused->window_id : -1;
    }
    say(menu.countdown ? "  (ending the countdown before leaving: the mode goes back)"
                       : "  (leaving the TV-mode menu before leaving)");
    if (owner >= 0) kvnfw_send_event(owner, menu.countdown ? DIKS_BACKSPACE : DIKS_STOP);
    return true;
}

}  // namespace kvn_sim
