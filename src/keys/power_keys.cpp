// The power key's road to a standby, and the hand-over taken over.
#include "power_keys.h"

#include <string.h>

#include "common/picture.h"
#include "common/standby_flag.h"
#include "handover.h"
#include "platform/imports.h"
#include "standby.h"

namespace kvn {

namespace {

// A handed-over standby is the flash player's whole standby, whoever takes
// it (the flash player's loop, its menu, or another application's press):
// the flash player's steps at the entry and the wake-up, the picture off.
// Which thread runs it is no choice of the user's, so it must not change
// what the standby does.
int run_handed_standby(kvn_window *runner, DFBWindowEvent *event) {
    // The TV-mode menu may have switched the picture back on since the key
    // was handed over.
    if (!picture_is_off()) VideoOutputOnOff(0, runner);
    return run_standby(runner, event, FLASH_LITE);
}

}  // namespace

int handle_power_key(kvn_window *window, DFBWindowEvent *event) {
    const int id = window->window_id;
    // A key handed to the flash player runs the standby if its hand-over is
    // still there; once it was taken (by the flash player through another
    // key, by another application's rescue, or by its standby, which may
    // have woken meanwhile) the key does nothing, whatever the flag says now.
    if (event->key_symbol == DIKS_POWER && handover().meet(window)) {
        return handover().take() ? run_handed_standby(window, event) : 0;
    }
    // One atomic test-and-set: two power keys at the same instant start one
    // standby.
    if (standby_flag_claim()) {
        VideoOutputOnOff(0, window);
        if (id == FLASH_LITE || id == ADVANCE_MEDIA_PLAYER) return run_standby(window, event, id);
        if (id == SCREEN_SAVER && scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER) {
            stop_playback_service();
            return run_standby(window, event, id);
        }
        kvn_window *flash = get_window_node(FLASH_LITE);
        handover().offer(flash != nullptr ? flash->events : nullptr);
        if (kvnfw_send_event(FLASH_LITE, DIKS_POWER) != 0) {
            // No flash player to hand the key to: left alone the picture would
            // stay off and every later power key would be ignored, so this
            // application runs the standby itself.
            handover().withdraw();
            return run_standby(window, event, id);
        }
        return 0;
    }
    // The flag is up: a standby runs, is being entered, or waits for the
    // flash player to take the key handed to it.  The flash player takes it
    // whatever has the focus (the focus may have moved since, or the key
    // may come from an application that did not have it); another
    // application takes it only once it is overdue (the flash player's loop
    // busy, stuck or gone).  Any other power key does nothing, so that one
    // standby runs at a time.
    if (id == FLASH_LITE ? handover().take() : handover().take_if_overdue())
        return run_handed_standby(window, event);
    return 0;
}

int take_over_handed_standby(kvn_window *window) {
    if (!handover().take()) return 0;
    DFBWindowEvent handed;
    memset(&handed, 0, sizeof handed);
    handed.clazz = DFEC_WINDOW;
    handed.type = DWET_KEYDOWN;
    handed.key_symbol = DIKS_POWER;
    return run_handed_standby(window, &handed);
}

}  // namespace kvn
