// The player's input driver delivers each remote key to every input event
// buffer of the process.  The dummy system has no input device, so the
// simulator and the tests play that driver for the buffers created through
// the main DirectFB interface (the standby waits in one of its own).
#ifndef KVN_INPUT_DRIVER_H
#define KVN_INPUT_DRIVER_H

#include <directfb.h>

namespace kvn_input_driver {

// Watches the input event buffers that `dfb` creates from now on.
void attach(IDirectFB *dfb);

// Posts an event to the input event buffers that are still alive; false when
// there is none (nobody is waiting for raw input).
bool post(const DFBEvent &event);
bool post_key(DFBInputDeviceKeySymbol key);  // a key press

// True while some input event buffer is alive.
bool has_reader();

// -1 without a buffer, else whether one holds an event not yet read.
int pending();

}  // namespace kvn_input_driver

#endif
