#include "remote.h"

#include <atomic>

#include "dialog_view.h"
#include "input_driver.h"
#include "korvan_framework_lib.h"
#include "sim_script.h"
#include "transcript.h"

namespace kvn_sim {
namespace {

// The application that was sent the last TV key: the menu reads its window.
std::atomic<int> g_menu_owner{-1};

}  // namespace

void follow_input_buffers() { kvn_input_driver::attach(kvn_dfb_global_context.kvn_dfb); }

bool standby_waiting() { return kvn_input_driver::has_reader(); }

void press(DFBInputDeviceKeySymbol key) {
    // In standby the player's input driver feeds the standby's own input
    // buffer, not a window.
    if (kvn_input_driver::post_key(key)) {
        say("  -> standby input buffer");
        return;
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
                       : "  (closing the TV-mode menu before leaving)");
    if (owner >= 0) kvnfw_send_event(owner, menu.countdown ? DIKS_BACKSPACE : DIKS_STOP);
    return true;
}

}  // namespace kvn_sim
