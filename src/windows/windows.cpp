// The registration-ordered list of the process's window records.
#include "common/guard.h"
#include "common/standby_flag.h"
#include "common/warn.h"
#include "window_list.h"

extern "C" int register_window(kvn_window *window) {
    if (window == nullptr) return -1;
    // Read under the lock: once linked, another thread's focus change may
    // write the record's focus word.
    bool wants_focus;
    {
        kvn::WindowsLock lock("register_window");
        // A record linked twice would make the list a loop.
        for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
            if (w == window) {
                kvn::warn("register_window", "record already registered");
                return -1;
            }
        }
        window->next = nullptr;
        if (kvn_windows_head == nullptr) {
            kvn::set_windows_head(window);
        } else {
            kvn_windows_end->next = window;
        }
        kvn_windows_end = window;
        wants_focus = window->active && window->on_focus;
    }
    if (wants_focus) (void)focus_on_window(window->window_id);
    return 0;
}

extern "C" int unregister_window(kvn_window *window) {
    if (window == nullptr || kvn::windows_list_empty()) return -1;
    kvn::WindowsLock lock("unregister_window");
    if (kvn_windows_head == nullptr) return -1;  // emptied meanwhile
    if (window == kvn_windows_head) {
        kvn::set_windows_head(window->next);
        if (kvn_windows_head == nullptr) kvn_windows_end = nullptr;
    } else {
        kvn_window *prev = kvn_windows_head;
        while (prev != nullptr && prev->next != window) prev = prev->next;
        if (prev == nullptr) return -1;
        prev->next = window->next;
        if (kvn_windows_end == window) kvn_windows_end = prev;
    }
    if (window->on_focus &&
        !(window->window_id == VISUAL_CONTROLLER && kvn::standby_flag_load() == 1)) {
        for (kvn_window *dest_window = kvn_windows_head; dest_window != nullptr;
             dest_window = dest_window->next) {
            if (dest_window->active && dest_window->opacity) {
                if (dest_window->window != nullptr) {
                    KVN_DFB_CHECK(
                        dest_window->window->SetOpacity(dest_window->window, dest_window->opacity),
                        "dest_window->window->SetOpacity(dest_window->window, "
                        "dest_window->opacity)");
                    KVN_DFB_CHECK(dest_window->window->RequestFocus(dest_window->window),
                                  "dest_window->window->RequestFocus(dest_window->window)");
                }
                dest_window->on_focus = 1;
                break;
            }
        }
    }
    kvn_window *temp_window = window;
    if (temp_window->window != nullptr) {
        KVN_DFB_CHECK((temp_window->window)->SetOpacity((temp_window->window), 0),
                      "(temp_window->window)->SetOpacity((temp_window->window), 0)");
    }
    window->on_focus = 0;
    window->next = nullptr;
    return 0;
}

extern "C" kvn_window *get_window_node(int window_id) {
    kvn::WindowsLock lock("get_window_node");
    return kvn::find_window_locked(window_id);
}

extern "C" kvn_window *get_window_on_focus(void) {
    kvn::WindowsLock lock("get_window_on_focus");
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w->on_focus) return w;
    }
    return nullptr;
}

extern "C" int is_self_on_focus(int window_id) {
    kvn::WindowsLock lock("is_self_on_focus");
    kvn_window *w = kvn::find_window_locked(window_id);
    if (w == nullptr) return -1;
    return w->on_focus ? 1 : 0;
}

extern "C" int check_window_is_active(int window_id) {
    kvn::WindowsLock lock("check_window_is_active");
    kvn_window *w = kvn::find_window_locked(window_id);
    if (w == nullptr) return -1;
    return w->active ? 1 : 0;
}

extern "C" int get_active_window_count(void) {
    kvn::WindowsLock lock("get_active_window_count");
    int count = 0;
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w->active) ++count;
    }
    return count;
}

extern "C" int get_active_apps_count(void) {
    int count = 0;
    for (int id : {BROWSER, PLAYLIST_NAVIGATOR, PHOTO_PLAYER, FLASH_LITE}) {
        kvn_window *w = get_window_node(id);
        if (w != nullptr && w->active == 1) ++count;
    }
    return count;
}
