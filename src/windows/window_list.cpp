// The window list's lock and the walks every window operation shares.
#include "window_list.h"

#include <stdlib.h>

#include "common/warn.h"

namespace kvn {

namespace {
thread_local const char *t_holding = nullptr;  // operation holding kvn_mutex_windows
}

void lock_windows(const char *operation) {
    if (t_holding != nullptr) {
        warn(nullptr,
             "%s called while this thread holds the window list for %s (a window callback must "
             "not call window-list operations); stopping instead of deadlocking",
             operation, t_holding);
        abort();
    }
    pthread_mutex_lock(&kvn_mutex_windows);
    t_holding = operation;
}

void unlock_windows() {
    t_holding = nullptr;
    pthread_mutex_unlock(&kvn_mutex_windows);
}

kvn_window *find_window_locked(int window_id) {
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w->window_id == window_id) return w;
    }
    return nullptr;
}

}  // namespace kvn
