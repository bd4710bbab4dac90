// Which application's window is shown and takes the input, with the rules
// by which applications stay visible under one another.
#include "common/codes.h"
#include "common/guard.h"
#include "platform/imports.h"
#include "window_list.h"

namespace kvn {

namespace {

bool eligible(const kvn_window *w) { return w->active != 0 && w->opacity != 0; }

// A record registered before its DirectFB window was created has nothing
// to show or hide; it still takes part in the focus words.
void set_opacity(kvn_window *temp_window, uint8_t value, const char *text) {
    if (temp_window->window == nullptr) return;
    KVN_DFB_CHECK(temp_window->window->SetOpacity(temp_window->window, value), text);
}

// The newly focused window takes the input and goes on top.
void give_input_and_raise(kvn_window *dest_window) {
    KVN_DFB_CHECK(dest_window->window->RequestFocus(dest_window->window),
                  "dest_window->window->RequestFocus(dest_window->window)");
    KVN_DFB_CHECK(dest_window->window->RaiseToTop(dest_window->window),
                  "dest_window->window->RaiseToTop(dest_window->window)");
}

}  // namespace

}  // namespace kvn

extern "C" int focus_on_window(int window_id) {
    kvn::WindowsLock lock("focus_on_window");
    int id = window_id;
    if (id == BROWSER && kvn::find_window_locked(BROWSER) == nullptr) id = FLASH_LITE;
    kvn_window *dest_window = kvn::find_window_locked(id);
    if (dest_window == nullptr || !kvn::eligible(dest_window)) return -1;
    const int target = dest_window->window_id;

    kvn_window *previous = nullptr;
    for (kvn_window *temp_window = kvn_windows_head; temp_window != nullptr;
         temp_window = temp_window->next) {
        if (temp_window == dest_window) continue;
        if (temp_window->on_focus) previous = temp_window;
        temp_window->on_focus = 0;
        if (!dest_window->hide_others) continue;
        if (temp_window->window_id == PHOTO_PLAYER && target == FLASH_LITE && get_bgrun() == 1) {
            kvn::set_opacity(temp_window, 0xff,
                             "temp_window->window->SetOpacity(temp_window->window, 0xff)");
            continue;
        }
        if (previous != nullptr && target == FLASH_WIDGET &&
            temp_window->window_id == previous->window_id) {
            kvn::set_opacity(temp_window, 0xff,
                             "temp_window->window->SetOpacity(temp_window->window, 0xff)");
            continue;
        }
        if (target == SCREEN_SAVER) {
            if (previous != nullptr &&
                (previous->window_id == FLASH_LITE || previous->window_id == PHOTO_PLAYER) &&
                temp_window->window_id == FLASH_LITE) {
                kvn::set_opacity(temp_window, 0xFF,
                                 "temp_window->window->SetOpacity(temp_window->window, 0xFF)");
                continue;
            }
            if (temp_window->window_id == ADVANCE_MEDIA_PLAYER) continue;
        }
        kvn::set_opacity(temp_window, 0x00,
                         "temp_window->window->SetOpacity(temp_window->window, 0x00)");
    }

    if (previous != nullptr && previous->window_id != target) {
        scsvr_callback_window_switch();
        int connection = 0;
        osd_command(previous->osd_id, &connection, kvn::kDialogOpen, kvn::kDialogNoFlags,
                    kvn::kDialogShow, 0, nullptr);
        osd_command(previous->osd_id, &connection, kvn::kDialogFocusLeaving, kvn::kDialogFocusFlags,
                    kvn::kDialogFocusMode, 0, nullptr);
        osd_command(previous->osd_id, &connection, kvn::kDialogClose, kvn::kDialogNoFlags,
                    kvn::kDialogShow, 0, nullptr);
    }

    dest_window->on_focus = 1;
    if (dest_window->window == nullptr) {
        if (dest_window->focus_on_window_callback != nullptr)
            dest_window->focus_on_window_callback(dest_window);
        return 0;
    }
    uint8_t opacity = 0;
    KVN_DFB_CHECK(dest_window->window->GetOpacity(dest_window->window, &opacity),
                  "dest_window->window->GetOpacity(dest_window->window, &opacity)");
    if (opacity == 0) {
        KVN_DFB_CHECK(dest_window->window->SetOpacity(dest_window->window, dest_window->opacity),
                      "dest_window->window->SetOpacity(dest_window->window, dest_window->opacity)");
    }
    kvn::give_input_and_raise(dest_window);
    if (dest_window->focus_on_window_callback != nullptr)
        dest_window->focus_on_window_callback(dest_window);
    return 0;
}

extern "C" int focus_next_window(void) {
    if (kvn::windows_list_empty()) return -1;
    kvn::WindowsLock lock("focus_next_window");
    if (kvn_windows_head == nullptr) return -1;  // emptied meanwhile
    kvn_window *focused = nullptr;
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w->on_focus == 1) {
            focused = w;
            break;
        }
    }
    if (focused == nullptr) return -1;
    kvn_window *dest_window = nullptr;
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w != focused && kvn::eligible(w)) {
            dest_window = w;
            break;
        }
    }
    if (dest_window == nullptr) return 0;
    if (dest_window->hide_others) {
        for (kvn_window *temp_window = kvn_windows_head; temp_window != nullptr;
             temp_window = temp_window->next) {
            if (temp_window == dest_window) continue;
            kvn::set_opacity(temp_window, 0x00,
                             "temp_window->window->SetOpacity(temp_window->window, 0x00)");
        }
    }
    focused->on_focus = 0;
    dest_window->on_focus = 1;
    if (dest_window->window != nullptr) {
        KVN_DFB_CHECK(dest_window->window->SetOpacity(dest_window->window, dest_window->opacity),
                      "dest_window->window->SetOpacity(dest_window->window, dest_window->opacity)");
        kvn::give_input_and_raise(dest_window);
    }
    if (dest_window->focus_next_window_callback != nullptr) {
        dest_window->focus_next_window_callback(dest_window);
    }
    return 0;
}

extern "C" int func_focus_next_window_ensure_subwindows_on_top_callback(kvn_window *) { return 0; }
extern "C" int func_focus_on_window_ensure_subwindows_on_top_callback(kvn_window *) { return 0; }

extern "C" int func_default_focus_next_window_callback(kvn_window *window) {
    func_focus_next_window_ensure_subwindows_on_top_callback(window);
    return 0;
}

extern "C" int func_default_focus_on_window_callback(kvn_window *window) {
    func_focus_on_window_ensure_subwindows_on_top_callback(window);
    return 0;
}
