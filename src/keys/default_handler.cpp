// The shared answer to the remote keys that mean the same in every
// application.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "common/codes.h"
#include "common/standby_flag.h"
#include "platform/imports.h"
#include "power_keys.h"
#include "standby_keys.h"

extern "C" {
int vctrl_osdfd = 0;
char vctrl_osd_message[128];
int vctrl_osd_msg_len = 0;
}

namespace kvn {

namespace {

void consume(DFBWindowEvent *event) {
    event->type = static_cast<DFBWindowEventType>(0);
    event->key_symbol = DIKS_NULL;
}

void show_osd_notice(const kvn_window *focused, int *connection, char *buffer, size_t size,
                     const char *message, int *length_out) {
    int length = snprintf(buffer, size, "%s%s", "-msg=", message);
    if (length < 0) length = 0;
    if (static_cast<size_t>(length) >= size) length = static_cast<int>(size) - 1;
    if (length_out != nullptr) *length_out = length;
    osd_command(focused->osd_id, connection, kDialogOpen, kDialogNoFlags, kDialogShow, 0, nullptr);
    osd_command(focused->osd_id, connection, kDialogNotice, kDialogMessageFlags, kDialogShow,
                static_cast<unsigned short>(length), buffer);
    osd_command(focused->osd_id, connection, kDialogClose, kDialogNoFlags, kDialogShow, 0, nullptr);
}

void show_not_allowed(const kvn_window *focused, int language) {
    int connection = 0;
    char message[128];
    show_osd_notice(focused, &connection, message, sizeof message,
                    lang_korvan_framework_not_allowed[language], nullptr);
}

int visual_controller_key(DFBWindowEvent *event) {
    kvn_window *player = get_window_node(ADVANCE_MEDIA_PLAYER);
    if (player != nullptr && player->active && AmpAPI_is_audio_type() == 0) return 0;
    if (get_active_apps_count() < 2) return 0;
    VisualCtrl_Spawn(1);
    consume(event);
    return 0;
}

int music_key(DFBWindowEvent *event, int language) {
    kvn_window *focused = get_window_on_focus();
    kvn_window *player = get_window_node(ADVANCE_MEDIA_PLAYER);
    if (focused == nullptr || player == nullptr) return 0;
    if (player->active) {
        if (AmpAPI_is_audio_type() == 0) return 0;
        if (player->active) {
            VisualCtrl_Spawn(0);
            consume(event);
            return 0;
        }
    }
    show_osd_notice(focused, &vctrl_osdfd, vctrl_osd_message, sizeof vctrl_osd_message,
                    lang_korvan_framework_no_music[language], &vctrl_osd_msg_len);
    return 0;
}

// The keys of the table that act, other than the power keys.
bool acting_key(int key) {
    switch (key) {
        case DIKS_REDIAL:
        case DIKS_HOME:
        case DIKS_PROGRAM:
        case DIKS_LANGUAGE:
        case DIKS_TV:
        case DIKS_SETUP:
        case DIKS_CALL:
            return true;
        default:
            return false;
    }
}

// The keys the table reserves: answered 0, the event kept, nothing done.
bool reserved_key(int key) {
    switch (key) {
        case DIKS_CAPITAL_Q:
        case DIKS_CAPITAL_S:
        case DIKS_SMALL_Q:
        case DIKS_SMALL_S:
        case DIKS_SHUFFLE:
        case DIKS_SWAP:
            return true;
        default:
            return false;
    }
}

}  // namespace

}  // namespace kvn

extern "C" int kvn_default_event_handling(kvn_window *window, DFBWindowEvent *event) {
    if (window == nullptr || event == nullptr) return -1;
    // While software is being installed the applications see no input.
    if (access("/tmp/vmk_installing", F_OK) == 0) {
        kvn::consume(event);
        return 0;
    }
    if (event->type != DWET_KEYDOWN) return -1;

    const int key = static_cast<int>(event->key_symbol);
    if (kvn::is_power_key(key)) {
        // An auto-repeat is the key still held, not a new press: it must not
        // put the player back to sleep as it wakes up.
        if ((event->flags & DWEF_REPEAT) == 0) kvn::handle_power_key(window, event);
        return 0;
    }
    if (kvn::reserved_key(key)) return 0;
    if (!kvn::acting_key(key)) return -1;
    // While a standby runs (or a power key is on its way to one) the screen
    // is dark: the other applications' framework keys that act are consumed
    // without acting, so that no second thread powers the player off, draws a
    // notice or opens the menu.  The standby reads what it needs from its own
    // input buffer.
    if (kvn::standby_flag_load() == 1) {
        kvn::consume(event);
        return 0;
    }
    switch (key) {
        case DIKS_REDIAL:
            machine_off(1, 0);
            return 0;
        case DIKS_HOME:
        case DIKS_PROGRAM:
            return kvn::visual_controller_key(event);
        case DIKS_LANGUAGE:
            // The language is read only for the keys that show a notice: every
            // other event of every application's loop passes here too.
            return kvn::music_key(event, get_current_charset());
        case DIKS_TV: {
            kvn_window *focused = get_window_on_focus();
            if (focused == nullptr) return 0;
            if (focused->window_id == BROWSER || focused->window_id == FLASH_LITE) {
                kvn_tvmode(window);
            } else {
                kvn::show_not_allowed(focused, get_current_charset());
            }
            kvn::consume(event);
            // The menu reads this window's keys: in the flash player it may
            // have eaten a power key another application handed over.
            if (window->window_id == FLASH_LITE) kvn::take_over_handed_standby(window);
            return 0;
        }
        case DIKS_SETUP: {
            kvn_window *focused = get_window_on_focus();
            if (focused != nullptr && focused->window_id == ADVANCE_MEDIA_PLAYER) {
                playback_setting_menu_spawn(focused);
                kvn::consume(event);
            }
            return 0;
        }
        case DIKS_CALL: {
            kvn_window *focused = get_window_on_focus();
            if (focused == nullptr) return 0;
            kvn::show_not_allowed(focused, get_current_charset());
            kvn::consume(event);
            return 0;
        }
        default:
            return 0;
    }
}
