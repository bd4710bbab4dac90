// The thread list swept at exit, and the two surface registries whose head
// and tail the caller keeps.
#include <stdlib.h>

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

extern "C" int register_surface(kvn_surface_node *head, kvn_surface_node *tail,
                                kvn_surface_node *node) {
    if (node == nullptr) return -1;
    node->next = nullptr;
    if (head != nullptr && tail != nullptr) tail->next = node;
    return 0;
}

extern "C" int unregister_surface(kvn_surface_node *head, kvn_surface_node *tail,
                                  kvn_surface_node *node) {
    if (head == nullptr) return -1;
    if (node == head) return 0;
    kvn_surface_node *prev = head;
    while (prev != nullptr && prev->next != node) prev = prev->next;
    if (prev == nullptr || node == nullptr) return -1;
    prev->next = (node == tail) ? nullptr : node->next;
    return 0;
}

extern "C" int register_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                                       IDirectFBSurface *surface) {
    if (surface == nullptr || head == nullptr || tail == nullptr) return -1;
    auto *node = static_cast<kvn_surface_node *>(malloc(sizeof(kvn_surface_node)));
    if (node == nullptr) return -1;
    node->surface = surface;
    node->next = nullptr;
    if (*head == nullptr) {
        *head = node;
    } else {
        (*tail)->next = node;
    }
    *tail = node;
    return 0;
}

extern "C" int unregister_surface_simple(kvn_surface_node **head, kvn_surface_node **tail,
                                         IDirectFBSurface *surface) {
    if (head == nullptr || *head == nullptr) return -1;
    kvn_surface_node *prev = nullptr;
    kvn_surface_node *node = *head;
    while (node != nullptr && node->surface != surface) {
        prev = node;
        node = node->next;
    }
    if (node == nullptr) return -1;
    if (prev == nullptr) {
        *head = node->next;
    } else {
        prev->next = node->next;
    }
    if (tail != nullptr && *tail == node) *tail = prev;
    free(node);
    return 0;
}

extern "C" int clean_surfaces(kvn_surface_node *head) {
    if (head == nullptr) return -1;
    kvn_surface_node *node = head;
    while (node != nullptr) {
        kvn_surface_node *next = node->next;
        if (node->surface != nullptr) node->surface->Release(node->surface);
        free(node);
        node = next;
    }
    return -1;
}
