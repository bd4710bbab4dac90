// Standby.  The power key puts the player to sleep inside the call that
// handled it, in the thread of the application that runs the standby, and
// waits there for the key that wakes it up.
#include "standby.h"

#include <errno.h>
#include <mntent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "common/child.h"
#include "common/clock.h"
#include "common/files.h"
#include "common/guard.h"
#include "common/standby_flag.h"
#include "common/warn.h"
#include "disk_names.h"
#include "handover.h"
#include "platform/imports.h"
#include "power_off.h"
#include "standby_keys.h"
#include "torrent.h"

namespace kvn {

namespace {

constexpr int kSpinDownPasses = 3000;
// An internal disk has a tape node: this and its drive letter.
constexpr const char *kTapePrefix = "/dev/st";

void discard_window_events(kvn_window *window) {
    if (window == nullptr || window->events == nullptr) return;
    DFBEvent event;
    while (window->events->GetEvent(window->events, &event) == DFB_OK) {
    }
}

// Drops the power-key presses queued in the window, keeping every other
// event in its order (the focus the wake-up gave the window, the
// application's own posts).
void discard_power_keys(kvn_window *window) {
    if (window == nullptr || window->events == nullptr) return;
    std::vector<DFBEvent> kept;
    DFBEvent event;
    while (window->events->GetEvent(window->events, &event) == DFB_OK) {
        bool power_press = event.clazz == DFEC_WINDOW && event.window.type == DWET_KEYDOWN &&
                           is_power_key(event.window.key_symbol);
        if (!power_press) kept.push_back(event);
    }
    for (DFBEvent &e : kept) window->events->PostEvent(window->events, &e);
}

}  // namespace

// A service that is slow to answer (its disk busy, or asleep and spinning up)
// must have stopped before the standby goes on.  Only a service that never
// answers is given up on, with the picture off and every key ignored
// meanwhile: after 60 s of player time, twice the time the kernel allows one
// disk command before it gives up on it (30 s), so that a service held up by
// a disk that is slow but answering is still waited for.
void stop_playback_service() {
    constexpr unsigned kRequestLimitMs = 60000;
    char wget[] = "wget", quiet[] = "-q", output[] = "-O", null[] = "/dev/null",
         url[] = "http://127.0.0.1:8008/playback?arg0=stop_vod";
    char *const argv[] = {wget, quiet, output, null, url, nullptr};
    pid_t pid = start_child(wget, argv, nullptr);
    if (pid < 0) {
        warn("wget", "fork: %s", strerror(errno));
        return;
    }
    int status = 0;
    if (reap_within(pid, kRequestLimitMs, &status)) return;
    warn(nullptr, "the playback service did not answer; going on to standby");
    kill(pid, SIGKILL);
    (void)reap_within(pid, 1000, &status);  // a child stuck beyond a kill is left behind
}

void write_cdrom_pipe(int enable) {
    // The drive monitor's FIFO only: never through a link, never into a file
    // planted in its place.
    int fd = open_for_writing("/tmp/cdpipe", false, "write_cdrom_pipe");
    if (fd < 0) return;
    const char *message = enable ? "enable@cdrom\n" : "disable@cdrom\n";
    ssize_t n = write(fd, message, strlen(message) + 1);  // with its NUL byte
    (void)n;
    close(fd);
}

int spin_down_disks() {
    // A regular file only (/proc's mount list is one): a FIFO there must not
    // hold up the standby.
    int fd = open_regular("/etc/mtab", nullptr);
    FILE *mtab = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (mtab == nullptr) {
        if (fd >= 0) close(fd);
        return 0;
    }
    std::set<char> handled;
    struct mntent *entry;
    while ((entry = getmntent(mtab)) != nullptr) {
        char letter = disk_letter(entry->mnt_fsname);
        if (letter == 0 || handled.count(letter)) continue;
        char command[64];
        std::string tape = kTapePrefix + std::string(1, letter);
        if (entry->mnt_dir != nullptr && strstr(entry->mnt_dir, "USB_DRIVE") != nullptr) {
            snprintf(command, sizeof command, "sdparm -C stop /dev/sd%c", letter);
            (void)system(command);
        } else if (access(tape.c_str(), F_OK) == 0) {
            snprintf(command, sizeof command, "hdparm -y /dev/sd%c", letter);
            (void)system(command);
        }
        handled.insert(letter);
    }
    endmntent(mtab);
    return 0;
}

int run_standby(kvn_window *window, DFBWindowEvent *event, int identity) {
    check_standby_power_keys(event->key_symbol);
    event->type = static_cast<DFBWindowEventType>(0);
    event->key_symbol = DIKS_NULL;
    write_cdrom_pipe(0);

    IDirectFBEventBuffer *eventbuffer = nullptr;
    KVN_DFB_CHECK(kvn_dfb_global_context.kvn_dfb->CreateInputEventBuffer(
                      kvn_dfb_global_context.kvn_dfb, DICAPS_ALL, DFB_FALSE, &eventbuffer),
                  "kvn_dfb_global_context.kvn_dfb->CreateInputEventBuffer(kvn_dfb_global_context."
                  "kvn_dfb, DICAPS_ALL, DFB_FALSE, &eventbuffer)");

    commit_and_sync();
    (void)system("power_led -standby 1 -poweron 0");
    // A marker left by an earlier standby that was woken before its delay ran
    // out counts again here, whatever the torrents report now.
    torrent_standby(1);
    if (identity == FLASH_LITE) kvn_standby_terminate_apps();
    scsvr_global_on_off(0);
    if (system("pidof transmission-daemon 1>/dev/null 2>/dev/null") != 0) spin_down_disks();
    int countdown = kSpinDownPasses;
    (void)system("sdparm -C stop /dev/cdrom 1>/dev/null 2>/dev/null");
    touch_marker("/tmp/use_rmfp.txt", "run_standby");
    touch_marker("/tmp/goingstandby", "run_standby");

    int outcome = 0;
    while (outcome == 0) {
        if (wait_for_event(eventbuffer, 0, 10) == DFB_OK) {
            DFBEvent input;
            // An auto-repeat is a key still held, not a new press: a held power
            // key must not wake the player it has just put to sleep, nor a held
            // power-off key run the shutdown script again and again.
            if (eventbuffer->GetEvent(eventbuffer, &input) == DFB_OK && input.clazz == DFEC_INPUT &&
                input.input.type == DIET_KEYPRESS && (input.input.flags & DIEF_REPEAT) == 0) {
                DFBInputDeviceKeySymbol key = input.input.key_symbol;
                if (check_standby_power_keys(key)) {
                    outcome = 2;
                } else if (key == DIKS_POWER || key == DIKS_HOLD) {
                    discard_window_events(window);
                    handover().forget(window);
                    outcome = 1;
                }
            }
        }
        if (access("/tmp/bt_hdd_spindown", F_OK) == 0 && countdown > 0) {
            if (--countdown == 0) {
                spin_down_disks();
                remove("/tmp/bt_hdd_spindown");
            }
        }
    }

    remove("/tmp/goingstandby");
    remove("/tmp/use_rmfp.txt");
    if (eventbuffer != nullptr) {
        KVN_DFB_CHECK(eventbuffer->Release(eventbuffer), "eventbuffer->Release(eventbuffer)");
    }
    scsvr_global_on_off(1);
    if (outcome == 1) {
        if (identity == FLASH_LITE) {
            focus_on_window(FLASH_LITE);
        } else if (identity == SCREEN_SAVER) {
            focus_on_window(scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER
                                ? ADVANCE_MEDIA_PLAYER
                                : FLASH_LITE);
        }
        torrent_standby(0);
        (void)system("power_led -standby 0 -poweron 1");
        VideoOutputOnOff(1, window);
        write_cdrom_pipe(1);
        // Presses and repeats of the wake key that queued while the player
        // woke up would start a new standby once the flag is down.
        discard_power_keys(window);
    }
    standby_flag_store(0);
    if (window->surface != nullptr) window->surface->Flip(window->surface, nullptr, DSFLIP_NONE);
    return 0;
}

}  // namespace kvn

extern "C" int kvn_get_standby_mode(void) { return kvn::standby_flag_load(); }

extern "C" int kvn_standby_terminate_apps(void) {
    auto wait_until_inactive = [](int window_id) {
        for (int i = 0; i < 20 && check_window_is_active(window_id) != 0; ++i)
            kvn::sleep_us(250000);
    };
    kvn_window *player = get_window_node(ADVANCE_MEDIA_PLAYER);
    if (player != nullptr && player->active && player->on_focus == 0 &&
        check_window_is_active(PLAYLIST_NAVIGATOR) == 1) {
        wait_until_inactive(ADVANCE_MEDIA_PLAYER);
        if (check_window_is_active(ADVANCE_MEDIA_PLAYER) == 1) AmpAPI_PlayList_KeyTriggered_Stop();
    }
    kvn_window *photos = get_window_node(PHOTO_PLAYER);
    if (photos != nullptr && photos->active) {
        force_stop_pod();
        wait_until_inactive(PHOTO_PLAYER);
        if (check_window_is_active(PHOTO_PLAYER) == 1) force_stop_pod();
    }
    return 1;
}
