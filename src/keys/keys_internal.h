// Operations the key and power code shares inside the library.
#ifndef KVN_KEYS_INTERNAL_H
#define KVN_KEYS_INTERNAL_H

#include "korvan_framework_lib.h"

extern "C" {
int handle_power_key(kvn_window *window, DFBWindowEvent *event);
int run_standby(kvn_window *window, DFBWindowEvent *event);
int check_standby_power_keys(DFBInputDeviceKeySymbol key);
void write_cdrom_pipe(int enable);
int spin_down_disks(void);
void torrent_standby(int entering);
int get_time_ms(void);
}

#endif
