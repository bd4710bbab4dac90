// Handing arguments and keys between the applications of the process.
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "common/warn.h"
#include "window_list.h"

extern "C" {
const char *window_id_str[KVN_APPLICATION_COUNT] = {"DUMMY1",
                                                    "DUMMY2",
                                                    "BROWSER",
                                                    "ADVANCE_MEDIA_PLAYER",
                                                    "PHOTO_PLAYER",
                                                    "SCREEN_SAVER",
                                                    "VISUAL_CONTROLLER",
                                                    "PLAYLIST_NAVIGATOR",
                                                    "FLASH_LITE",
                                                    "FLASH_WIDGET",
                                                    "TVMODE"};
}

namespace kvn {

namespace {

DFBEvent key_down(DFBInputDeviceKeySymbol key_symbol) {
    DFBEvent event;
    memset(&event, 0, sizeof event);
    event.window.clazz = DFEC_WINDOW;
    event.window.type = DWET_KEYDOWN;
    event.window.key_symbol = key_symbol;
    return event;
}

// Posts a key and wakes the buffer; false when DirectFB refused the event,
// so that the caller does not report a key that never arrives.
bool post_key(IDirectFBEventBuffer *events, DFBInputDeviceKeySymbol key_symbol) {
    DFBEvent event = key_down(key_symbol);
    DFBResult posted = events->PostEvent(events, &event);
    events->WakeUp(events);
    if (posted != DFB_OK) {
        warn(nullptr, "PostEvent of key 0x%x failed: %s", static_cast<unsigned>(key_symbol),
             DirectFBErrorString(posted));
        return false;
    }
    return true;
}

}  // namespace

}  // namespace kvn

extern "C" int kvn_invoke_framework_apps(int window_id, const char *format, ...) {
    IDirectFBEventBuffer *events = nullptr;
    {
        // Two senders at once would free the same strings twice: the holder
        // changes only under the list's lock, and the key is posted after it.
        kvn::WindowsLock lock("kvn_invoke_framework_apps");
        kvn_window *record = kvn::find_window_locked(window_id);
        if (record == nullptr) return 1;
        kvn_invoke_args *holder = record->invoke_args;
        if (holder != nullptr) {
            holder->argc = 0;
            for (int i = 0; i <= KVN_INVOKE_MAX_ARGS && holder->argv[i] != nullptr; ++i) {
                free(holder->argv[i]);
                holder->argv[i] = nullptr;
            }
        } else {
            holder = static_cast<kvn_invoke_args *>(calloc(1, sizeof(kvn_invoke_args)));
            char **argv = static_cast<char **>(calloc(KVN_INVOKE_MAX_ARGS + 1, sizeof(char *)));
            if (holder == nullptr || argv == nullptr) {
                free(holder);
                free(argv);
                return -1;
            }
            holder->argv = argv;
        }
        int stored = 0;
        va_list args;
        va_start(args, format);
        for (const char *p = format; p != nullptr && *p != '\0'; ++p) {
            if (*p != '%') continue;
            char conversion = p[1];
            if (conversion == '\0') break;  // a lone '%' at the end consumes nothing
            ++p;
            if (stored >= KVN_INVOKE_MAX_ARGS) continue;
            if (conversion == 'd') {
                (void)va_arg(args, int);
                continue;
            }
            const char *text = va_arg(args, const char *);
            // A null string is handed on as an empty one rather than dropped,
            // so that the receiver's positions stay where the sender put them.
            char *copy = strdup(text != nullptr ? text : "");
            if (copy == nullptr) break;
            holder->argv[stored++] = copy;
        }
        va_end(args);
        holder->argv[stored] = nullptr;
        holder->argc = stored;
        record->invoke_args = holder;
        events = record->events;
    }
    if (events != nullptr) kvn::post_key(events, DIKS_CUSTOM0);
    return 0;
}

extern "C" int kvnfw_send_event(int window_id, DFBInputDeviceKeySymbol key_symbol) {
    kvn_window *record = get_window_node(window_id);
    if (record == nullptr || record->events == nullptr) return -1;
    return kvn::post_key(record->events, key_symbol) ? 0 : -1;
}

extern "C" int redirect_external_event(kvn_window *self, DFBWindowEvent *event) {
    if (event == nullptr) return -1;
    kvn::WindowsLock lock("redirect_external_event");
    for (kvn_window *w = kvn_windows_head; w != nullptr; w = w->next) {
        if (w == self || w->external_event_callback == nullptr) continue;
        if (w->external_event_callback(event) == 0) {
            event->type = static_cast<DFBWindowEventType>(0);
            event->key_symbol = DIKS_NULL;
            return 0;
        }
    }
    return -1;
}
