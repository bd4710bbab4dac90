// The player's remote control: where a key press goes, as the player's
// input driver sends it, and the keys the simulator presses itself to
// leave a menu or a standby when it stops.
#ifndef KVN_SIM_REMOTE_H
#define KVN_SIM_REMOTE_H

#include <directfb.h>

namespace kvn_sim {

// Follows the input event buffers that the framework creates (the
// standby's), as the input driver would; before any application starts.
void follow_input_buffers();

// A key press: into the standby's input buffer while a standby waits for
// one, else to the focused window's event buffer.
void press(DFBInputDeviceKeySymbol key);

// True while a standby waits in its input buffer.
bool standby_waiting();

// For the stop: presses what ends a standby, menu page or countdown that is
// still open (a power key to wake, STOP to leave the pages, BACKSPACE to
// end the countdown as its time-out would).  True when there was one.
bool end_open_dialogs();

}  // namespace kvn_sim

#endif
