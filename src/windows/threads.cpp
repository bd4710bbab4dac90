// The thread list that the process sweeps at exit, calling each thread's
// stop routine.
#include "korvan_framework_lib.h"
#include "window_list.h"

namespace kvn {

namespace {

// As for the window list (window_list.h).
void set_threads_head(kvn_thread *head) { set_list_head(&kvn_threads_head, head); }
bool threads_list_empty() { return list_empty(&kvn_threads_head); }

}  // namespace

}  // namespace kvn

extern "C" int register_thread(kvn_thread *thread) {
    if (thread == nullptr) return -1;
    pthread_mutex_lock(&kvn_mutex_threads);
    thread->next = nullptr;
    if (kvn_threads_head == nullptr) {
        kvn::set_threads_head(thread);
    } else {
        kvn_threads_end->next = thread;
    }
    kvn_threads_end = thread;
    pthread_mutex_unlock(&kvn_mutex_threads);
    return 0;
}

extern "C" int unregister_thread(kvn_thread *thread) {
    if (thread == nullptr || kvn::threads_list_empty()) return -1;
    pthread_mutex_lock(&kvn_mutex_threads);
    int result = -1;  // also when the list was emptied meanwhile
    if (thread == kvn_threads_head) {
        kvn::set_threads_head(thread->next);
        if (kvn_threads_head == nullptr) kvn_threads_end = nullptr;
        result = 0;
    } else {
        kvn_thread *prev = kvn_threads_head;
        while (prev != nullptr && prev->next != thread) prev = prev->next;
        if (prev != nullptr) {
            prev->next = thread->next;
            if (kvn_threads_end == thread) {
                kvn_threads_end = prev;
                prev->next = nullptr;
            }
            result = 0;
        }
    }
    pthread_mutex_unlock(&kvn_mutex_threads);
    return result;
}

extern "C" int unregister_threads(void) {
    pthread_mutex_lock(&kvn_mutex_threads);
    if (kvn_threads_head != nullptr) kvn_threads_head->next = nullptr;
    kvn::set_threads_head(nullptr);
    kvn_threads_end = nullptr;
    pthread_mutex_unlock(&kvn_mutex_threads);
    return 0;
}

extern "C" int clean_threads(void) {
    pthread_mutex_lock(&kvn_mutex_threads);
    kvn_thread *t = kvn_threads_head;
    while (t != nullptr) {
        // A stop routine may free or reuse its own record.
        kvn_thread *next = t->next;
        if (t->stop != nullptr) t->stop();
        t = next;
    }
    kvn::set_threads_head(nullptr);
    kvn_threads_end = nullptr;
    pthread_mutex_unlock(&kvn_mutex_threads);
    return -1;
}
