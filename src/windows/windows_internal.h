// The window-list lock.  It is a plain, non-recursive mutex that the focus
// operations hold across DirectFB calls and the records' callbacks; a
// callback that calls back into the registry would deadlock on it, so the
// lock notes its holder and ends the process with a clear message instead.
#ifndef KVN_WINDOWS_INTERNAL_H
#define KVN_WINDOWS_INTERNAL_H

#include "korvan_framework_lib.h"

namespace kvn {

void lock_windows(const char *operation);
void unlock_windows();

class WindowsLock {
public:
    explicit WindowsLock(const char *operation) { lock_windows(operation); }
    ~WindowsLock() { unlock_windows(); }
    WindowsLock(const WindowsLock &) = delete;
    WindowsLock &operator=(const WindowsLock &) = delete;
};

// First record with the identifier; caller holds the lock.
kvn_window *find_window_locked(int window_id);

}  // namespace kvn

#endif
