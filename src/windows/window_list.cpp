// The window list's lock and the walks every window operation shares.
#include <stdio.h>
#include <stdlib.h>

#include "windows_internal.h"

namespace {
thread_local const char *t_holding = nullptr;  // operation holding kvn_mutex_windows
}

namespace kvn {

void lock_windows(const char *operation) {
    if (t_holding != nullptr) {
        fprintf(stderr,
                "korvan_framework_lib: %s called while this thread holds the window list for %s "
                "(a window callback must not call window-list operations); stopping instead of "
                "deadlocking\n",
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
