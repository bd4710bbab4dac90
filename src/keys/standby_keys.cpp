// The two-key sequences during the first seconds of a standby.
#include "standby_keys.h"

#include <stdlib.h>

#include <mutex>

#include "common/clock.h"
#include "common/files.h"

namespace kvn {

namespace {

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

}  // namespace

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

}  // namespace kvn
