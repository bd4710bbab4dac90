// The torrent daemon's part of standby: its scheduled checks are suspended
// while the player sleeps, and the disks are spun down only when no
// torrent is busy.
#ifndef KVN_KEYS_TORRENT_H
#define KVN_KEYS_TORRENT_H

namespace kvn {

// At standby entry (nonzero) or wake-up (0); does nothing while the daemon
// does not run.
void torrent_standby(int entering);

// Wall-clock milliseconds on the library's clock, kept in 32 bits (it
// wraps): the torrent script's minute is measured on it.
int get_time_ms();

}  // namespace kvn

#endif
