// The player's input driver delivers each remote key to every input event
// buffer of the process.  The dummy system has no input device, so the
// simulator plays that driver for the buffers created through the main
// DirectFB interface (the standby waits in one of its own).
#ifndef KVN_SIM_INPUT_DRIVER_H
#define KVN_SIM_INPUT_DRIVER_H

#include <directfb.h>

namespace kvn_sim {

// Watches the input event buffers that `dfb` creates from now on.
void input_driver_attach(IDirectFB *dfb);

// Posts a key press to the input event buffers that are still alive; false
// when there is none (nobody is waiting for raw input).
bool input_driver_post_key(DFBInputDeviceKeySymbol key);

// True while some input event buffer is alive.
bool input_driver_has_reader();

}  // namespace kvn_sim

#endif
