// The window list and its lock, shared by the registry, the focus code and
// the forwarding operations.  The lock is a plain, non-recursive mutex that
// the focus operations hold across DirectFB calls and the records'
// callbacks; a callback that calls back into the registry would deadlock on
// it, so the lock notes its holder and ends the process with a clear
// message instead.
#ifndef KVN_WINDOWS_WINDOW_LIST_H
#define KVN_WINDOWS_WINDOW_LIST_H

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

// A list's head is written only under its lock, but always atomically, so
// that a caller may ask whether the list is empty without waiting behind
// another thread that holds the lock for a focus change.
template <typename Node>
void set_list_head(Node **head, Node *value) {
    __atomic_store_n(head, value, __ATOMIC_RELEASE);
}
template <typename Node>
bool list_empty(Node *const *head) {
    return __atomic_load_n(head, __ATOMIC_ACQUIRE) == nullptr;
}
inline void set_windows_head(kvn_window *head) { set_list_head(&kvn_windows_head, head); }
inline bool windows_list_empty() { return list_empty(&kvn_windows_head); }

}  // namespace kvn

#endif
