// Programs the library starts as children (the power-off script, the torrent
// control script) get only standard input, output and error: none of the
// framework's pipes, DirectFB's devices or whatever else the application has
// open.
#ifndef KVN_COMMON_CHILD_H
#define KVN_COMMON_CHILD_H

#include <sys/types.h>

namespace kvn {

// Closes every descriptor above 2.  Safe in a child between fork and exec.
void close_inherited_descriptors();

// Forks and runs `file` (looked up on PATH when it has no slash) with `argv`,
// in `directory` when it is not null, with only descriptors 0 to 2 open.  A
// child that cannot start the program exits with status 0.  Returns the
// child's process id, or -1 when fork failed.
pid_t start_child(const char *file, char *const argv[], const char *directory);

// Waits for `pid` to end, for at most `timeout_ms` of player time.  True when
// it was reaped (or cannot be waited for: an error), with its status.
bool reap_within(pid_t pid, unsigned timeout_ms, int *status);

}  // namespace kvn

#endif
