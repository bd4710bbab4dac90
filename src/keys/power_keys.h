// The power key's road to a standby: run by this application, handed to the
// flash player, or taken over from it (handover.h).
#ifndef KVN_KEYS_POWER_KEYS_H
#define KVN_KEYS_POWER_KEYS_H

#include "korvan_framework_lib.h"

namespace kvn {

// A power key pressed in `window` (no auto-repeat): runs the standby in this
// thread, hands the key to the flash player, or does nothing while another
// standby is on its way.  Returns what the standby returned, or 0.
int handle_power_key(kvn_window *window, DFBWindowEvent *event);

// Runs the standby that another application handed to the flash player
// when its key never reached the power-key handling (the flash player's
// thread was in the TV-mode menu, which read it); 0 at once when no
// hand-over is pending.
int take_over_handed_standby(kvn_window *window);

}  // namespace kvn

#endif
