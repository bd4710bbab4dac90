// Operations the key and power code shares inside the library.
#ifndef KVN_KEYS_INTERNAL_H
#define KVN_KEYS_INTERNAL_H

#include "korvan_framework_lib.h"

// DIKS_POWER, and special key 0x72, which acts as the power key.
inline bool is_power_key(int key) { return key == DIKS_POWER || key == 0xF072; }

extern "C" {
int handle_power_key(kvn_window *window, DFBWindowEvent *event);
// Runs the standby that another application handed to the flash player
// when its key never reached the power-key handling (the flash player's
// thread was in the TV-mode menu, which read it); 0 at once when no
// hand-over is pending.
int take_over_handed_standby(kvn_window *window);
// A DIKS_POWER key read from `window`: 1 when it is one that another
// application handed to the flash player (and it is counted as met), else 0.
int kvn_meet_handed_key(const kvn_window *window);
int run_standby(kvn_window *window, DFBWindowEvent *event);
int check_standby_power_keys(DFBInputDeviceKeySymbol key);
void write_cdrom_pipe(int enable);
int spin_down_disks(void);
void torrent_standby(int entering);
int get_time_ms(void);

// The input event buffer the running standby waits on, or null when no
// standby runs; the player simulator and the tests deliver remote keys
// there, as the player's input driver does.
IDirectFBEventBuffer *kvn_standby_input_buffer(void);
// Posts an input event into that buffer; -1 when no standby runs.  Safe
// against a standby that ends at the same moment.
int kvn_standby_post_input(const DFBEvent *event);
// 1 when a key waits in that buffer, 0 when none does, -1 when no standby
// runs.
int kvn_standby_input_pending(void);
// Where spin_down_disks looks for the device node that marks an internal
// disk ("/dev/st" followed by the drive letter); tests point it elsewhere.
void kvn_set_tape_device_prefix(const char *prefix);
}

#endif
