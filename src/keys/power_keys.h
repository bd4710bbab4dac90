// The power keys: the key that starts a standby (run by this application or
// handed to the flash player), and the two-key sequences that reboot or
// power the player off during the first seconds of a standby.
#ifndef KVN_KEYS_POWER_KEYS_H
#define KVN_KEYS_POWER_KEYS_H

#include "korvan_framework_lib.h"

namespace kvn {

// The second code that acts as DIKS_POWER (special key 0x72).
constexpr int kSecondPowerKey = 0xF072;

inline bool is_power_key(int key) { return key == DIKS_POWER || key == kSecondPowerKey; }

// A power key pressed in `window` (no auto-repeat): runs the standby in this
// thread, hands the key to the flash player, or does nothing while another
// standby is on its way.  Returns what the standby returned, or 0.
int handle_power_key(kvn_window *window, DFBWindowEvent *event);

// Runs the standby that another application handed to the flash player
// when its key never reached the power-key handling (the flash player's
// thread was in the TV-mode menu, which read it); 0 at once when no
// hand-over is pending.
int take_over_handed_standby(kvn_window *window);

// A DIKS_POWER key read from `window`: true when it is one that another
// application handed to the flash player (and it is counted as met).
bool meet_handed_key(const kvn_window *window);

// The window's events were thrown away: no handed key is left in them.
void forget_handed_keys(const kvn_window *window);

// A key read during a standby: the power key starts the sequences' 3 s,
// DIKS_REDIAL powers off at once, and the second key of a sequence reboots
// or powers off.  1 when the key went on a sequence, else 0.
int check_standby_power_keys(DFBInputDeviceKeySymbol key);

}  // namespace kvn

#endif
