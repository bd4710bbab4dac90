// The power key's road to a standby, and the key sequences during one.
#include "power_keys.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <mutex>

#include "common/clock.h"
#include "common/files.h"
#include "common/standby_flag.h"
#include "platform/imports.h"
#include "standby.h"

namespace kvn {

namespace {

// Two-key sequences during the first seconds of a standby.
const DFBInputDeviceKeySymbol reboot_key_sequence[2] = {DIKS_POWER, DIKS_EJECT};
const DFBInputDeviceKeySymbol power_off_key_sequence[2] = {DIKS_POWER, DIKS_CLEAR};

struct SequenceState {
    std::mutex mutex;  // several application threads may press keys at once
    int step = 0;
    int armed = 0;
    int reboot_matched = 0;
    int power_off_matched = 0;
    long deadline = 0;
};
SequenceState g_sequence;

// A power key handed to the flash player.  Its window's loop brings the key
// back to the power-key handling, and until then the picture is off and the
// flag at 1.  The key can be slow (a busy loop) or never come (the flash
// player's thread in the TV-mode menu, which reads its window's keys, or a
// loop that has stopped), so the standby it asks for is a hand-over that the
// first to find it takes, exactly once: the flash player, whatever key brings
// it there, or another application's power key once the flash player has had
// it for 3 s.  Those 3 s decide who runs the one standby, never whether a
// second runs: the handed key itself is told from a fresh press by count, not
// by time.  The flash player's window is a queue, so the handed keys still in
// it come out as its next power keys.  One that finds its hand-over already
// taken does nothing, so that a slow loop never starts a second standby after
// the first one has woken.  (Power keys are alike: which of two queued
// presses counts as the handed one changes nothing the user sees.)
struct Handover {
    std::mutex mutex;
    bool pending = false;
    long long since = 0;  // steady-clock milliseconds of the pending one
    // Handed keys posted into the flash player's event buffer `buffer` and not
    // met since, by its handler or its menu.
    IDirectFBEventBuffer *buffer = nullptr;
    int in_flight = 0;
};
Handover g_handover;
// How long the flash player may take before another application's power
// key takes the hand-over from it.
constexpr long long kHandoverGraceMs = 3000;

long long steady_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Before the key is posted, so that its arrival always finds it counted.
void offer_handover(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    g_handover.pending = true;
    g_handover.since = steady_ms();
    if (g_handover.buffer != buffer) {
        g_handover.buffer = buffer;
        g_handover.in_flight = 0;
    }
    ++g_handover.in_flight;
}

// For a key that was never posted.
void withdraw_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    g_handover.pending = false;
    if (g_handover.in_flight > 0) --g_handover.in_flight;
}

bool take_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    bool pending = g_handover.pending;
    g_handover.pending = false;
    return pending;
}

// Takes the hand-over only if the flash player has had it for too long.
bool take_stale_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (!g_handover.pending) return false;
    long long waited = (steady_ms() - g_handover.since) * static_cast<long long>(time_divisor());
    if (waited < kHandoverGraceMs) return false;
    g_handover.pending = false;
    return true;
}

}  // namespace

void forget_handed_keys(const kvn_window *window) {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (window->events == g_handover.buffer) g_handover.in_flight = 0;
}

bool meet_handed_key(const kvn_window *window) {
    if (window == nullptr || window->window_id != FLASH_LITE) return false;
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (window->events == nullptr || window->events != g_handover.buffer) return false;
    if (g_handover.in_flight == 0) return false;
    --g_handover.in_flight;
    return true;
}

int check_standby_power_keys(DFBInputDeviceKeySymbol key) {
    if (key == DIKS_REDIAL) {
        machine_off(0, 1);
        return 0;
    }
    enum { kNothing, kReboot, kPowerOff } action = kNothing;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_sequence.mutex);
        SequenceState &s = g_sequence;
        long now = now_seconds();
        if (key == DIKS_POWER) {
            s.step = 1;
            s.armed = 1;
            s.reboot_matched = 0;
            s.power_off_matched = 0;
            s.deadline = now + 3;
            return 0;
        }
        if (!s.armed) return 0;
        if (now > s.deadline) {
            s.step = s.armed = s.reboot_matched = s.power_off_matched = 0;
            s.deadline = 0;
        }
        if (s.step < 2 && key == reboot_key_sequence[s.step]) {
            s.reboot_matched = 1;
            ++s.step;
            result = 1;
        } else if (s.step < 2 && key == power_off_key_sequence[s.step]) {
            s.power_off_matched = 1;
            ++s.step;
            result = 1;
        }
        if (result && s.step == 2) action = s.reboot_matched ? kReboot : kPowerOff;
    }
    if (action == kReboot) {
        touch_marker("/tmp/wait_to_reboot", "reboot");
        (void)system("reboot");
    } else if (action == kPowerOff) {
        machine_off(0, 1);
    }
    return result;
}

int handle_power_key(kvn_window *window, DFBWindowEvent *event) {
    const int id = window->window_id;
    // A key handed to the flash player runs the standby if its hand-over is
    // still there; once it was taken (by the flash player through another
    // key, by another application's rescue, or by its standby, which may
    // have woken meanwhile) the key does nothing, whatever the flag says now.
    if (event->key_symbol == DIKS_POWER && meet_handed_key(window)) {
        return take_handover() ? run_standby(window, event) : 0;
    }
    // One atomic test-and-set: two power keys at the same instant start one
    // standby.
    if (standby_flag_claim()) {
        VideoOutputOnOff(0, window);
        if (id == FLASH_LITE || id == ADVANCE_MEDIA_PLAYER) return run_standby(window, event);
        if (id == SCREEN_SAVER && scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER) {
            stop_playback_service();
            return run_standby(window, event);
        }
        kvn_window *flash = get_window_node(FLASH_LITE);
        offer_handover(flash != nullptr ? flash->events : nullptr);
        if (kvnfw_send_event(FLASH_LITE, DIKS_POWER) != 0) {
            // No flash player to hand the key to: left alone the picture would
            // stay off and every later power key would be ignored, so this
            // application runs the standby itself.
            withdraw_handover();
            return run_standby(window, event);
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
    if (id == FLASH_LITE ? take_handover() : take_stale_handover())
        return run_standby(window, event);
    return 0;
}

int take_over_handed_standby(kvn_window *window) {
    if (!take_handover()) return 0;
    // The menu that kept this thread may have switched the picture on again.
    VideoOutputOnOff(0, window);
    DFBWindowEvent handed;
    memset(&handed, 0, sizeof handed);
    handed.clazz = DFEC_WINDOW;
    handed.type = DWET_KEYDOWN;
    handed.key_symbol = DIKS_POWER;
    return run_standby(window, &handed);
}

}  // namespace kvn
