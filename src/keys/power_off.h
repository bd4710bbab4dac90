// Power-off: the shutdown script, one at a time, whichever thread pressed the
// key (machine_off, declared in the public header), and the settings'
// commit that a power-off and a standby both begin with.
#ifndef KVN_KEYS_POWER_OFF_H
#define KVN_KEYS_POWER_OFF_H

namespace kvn {

// Commits the settings store and syncs the file systems five times.
void commit_and_sync();

}  // namespace kvn

#endif
