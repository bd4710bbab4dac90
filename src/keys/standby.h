// The standby: the player goes to sleep inside the call that handled the
// power key, in the thread of the application that runs it, and waits there
// for the key that wakes it up.
#ifndef KVN_KEYS_STANDBY_H
#define KVN_KEYS_STANDBY_H

#include "korvan_framework_lib.h"

namespace kvn {

// The whole standby, entry to wake-up, run in the thread of `window`'s loop
// for a power key read there; the event is consumed.  `identity` is the
// application whose standby it is (the window's own, or the flash player's
// when its hand-over is taken): it decides which players are stopped at the
// entry and where the focus goes at the wake-up.  Always 0.
int run_standby(kvn_window *window, DFBWindowEvent *event, int identity);

// Spins down each well-formed disk of /etc/mtab once: USB drives with
// sdparm, internal disks (those with a /dev/st node) with hdparm.  0.
int spin_down_disks();

// Asks the local playback service to stop and waits for it (the screen
// saver's standby after the media player); one that never answers is given
// up on after a minute of player time.
void stop_playback_service();

// Tells the optical-drive monitor to enable (nonzero) or disable its drive.
void write_cdrom_pipe(int enable);

}  // namespace kvn

#endif
