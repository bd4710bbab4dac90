// The keys during a standby: the two-key sequences that reboot or power the
// player off in its first seconds, and which keys are power keys.
#ifndef KVN_KEYS_STANDBY_KEYS_H
#define KVN_KEYS_STANDBY_KEYS_H

#include "korvan_framework_lib.h"

namespace kvn {

// The second code that acts as DIKS_POWER (special key 0x72).
constexpr int kSecondPowerKey = 0xF072;

inline bool is_power_key(int key) { return key == DIKS_POWER || key == kSecondPowerKey; }

// A key read during a standby: the power key starts the sequences' 3 s,
// DIKS_REDIAL powers off at once, and the second key of a sequence reboots
// or powers off.  1 when the key went on a sequence, else 0.
int check_standby_power_keys(DFBInputDeviceKeySymbol key);

}  // namespace kvn

#endif
