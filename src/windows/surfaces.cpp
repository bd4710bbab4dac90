// The two surface registries, whose head and tail the caller keeps: one of
// the caller's own nodes, one of nodes the framework allocates.
#include <stdlib.h>

#include "korvan_framework_lib.h"

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
