// Standby, power-off and reboot.  The power key puts the player to sleep
// inside the call that handled it, in the thread of the application that
// runs the standby, and waits there for the key that wakes it up.
#include <fcntl.h>
#include <mntent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "keys_internal.h"
#include "kvn_child.h"
#include "kvn_clock.h"
#include "kvn_files.h"
#include "kvn_guard.h"
#include "kvn_platform.h"
#include "kvn_standby_flag.h"
#include "power_parse.h"

namespace {

constexpr int kSpinDownPasses = 3000;

// Two-key sequences during the first seconds of a standby.
const DFBInputDeviceKeySymbol reboot_key_sequence[2] = {DIKS_POWER, DIKS_EJECT};
const DFBInputDeviceKeySymbol power_off_key_sequence[2] = {DIKS_POWER, DIKS_CLEAR};

struct SequenceState {
    std::mutex mutex;  // several application threads may press keys at once
    int step = 0;
    int armed = 0;
    int reboot_matched = 0;
    int power_off_matched = 0;
    long deadline = 0;
};
SequenceState g_sequence;

std::atomic<IDirectFBEventBuffer *> g_standby_input{nullptr};
std::string g_tape_prefix = "/dev/st";

void sync_five_times() {
    for (int i = 0; i < 5; ++i) sync();
}

void discard_window_events(kvn_window *window) {
    if (window == nullptr || window->events == nullptr) return;
    DFBEvent event;
    while (window->events->GetEvent(window->events, &event) == DFB_OK) {
    }
}

}  // namespace

extern "C" IDirectFBEventBuffer *kvn_standby_input_buffer(void) { return g_standby_input.load(); }

extern "C" void kvn_set_tape_device_prefix(const char *prefix) {
    g_tape_prefix = prefix != nullptr ? prefix : "/dev/st";
}

extern "C" int kvn_get_standby_mode(void) { return kvn_standby_flag_load(); }

extern "C" void write_cdrom_pipe(int enable) {
    // The drive monitor's FIFO only: never through a link, never into a file
    // planted in its place.
    int fd = kvn::open_for_writing("/tmp/cdpipe", false, "write_cdrom_pipe");
    if (fd < 0) return;
    const char *message = enable ? "enable@cdrom\n" : "disable@cdrom\n";
    ssize_t n = write(fd, message, strlen(message) + 1);  // with its NUL byte
    (void)n;
    close(fd);
}

extern "C" int spin_down_disks(void) {
    // A regular file only (/proc's mount list is one): a FIFO there must not
    // hold up the standby.
    int fd = kvn::open_regular("/etc/mtab", nullptr);
    FILE *mtab = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (mtab == nullptr) {
        if (fd >= 0) close(fd);
        return 0;
    }
    std::set<char> handled;
    struct mntent *entry;
    while ((entry = getmntent(mtab)) != nullptr) {
        char letter = kvn::disk_letter(entry->mnt_fsname);
        if (letter == 0 || handled.count(letter)) continue;
        char command[64];
        std::string tape = g_tape_prefix + letter;
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

extern "C" int machine_off(int commit, int script_arg) {
    (void)system("power_led -standby 2 &");
    if (commit) {
        save_commit();
        sync_five_times();
        VideoOutputOnOff(0, nullptr);
    }
    char script[] = "/etc/shutdown.sh";
    char one[] = "1";
    char *const argv[] = {script, script_arg ? one : nullptr, nullptr};
    pid_t pid = kvn::start_child(script, argv, "/");
    if (pid < 0) {
        // Waiting now could reap some other child of the application.
        perror("machine_off: fork");
        return -1;
    }
    int status = 0;
    return waitpid(pid, &status, 0);
}

extern "C" int check_standby_power_keys(DFBInputDeviceKeySymbol key) {
    if (key == DIKS_REDIAL) {
        machine_off(0, 1);
        return 0;
    }
    enum { kNothing, kReboot, kPowerOff } action = kNothing;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(g_sequence.mutex);
        SequenceState &s = g_sequence;
        long now = kvn::now_seconds();
        if (key == DIKS_POWER) {
            s.step = 1;
            s.armed = 1;
            s.reboot_matched = 0;
            s.power_off_matched = 0;
            s.deadline = now + 3;
            return 0;
        }
        if (!s.armed) return 0;
        if (now > s.deadline) {
            s.step = s.armed = s.reboot_matched = s.power_off_matched = 0;
            s.deadline = 0;
        }
        if (s.step < 2 && key == reboot_key_sequence[s.step]) {
            s.reboot_matched = 1;
            ++s.step;
            result = 1;
        } else if (s.step < 2 && key == power_off_key_sequence[s.step]) {
            s.power_off_matched = 1;
            ++s.step;
            result = 1;
        }
        if (result && s.step == 2) action = s.reboot_matched ? kReboot : kPowerOff;
    }
    if (action == kReboot) {
        kvn::touch_marker("/tmp/wait_to_reboot", "reboot");
        (void)system("reboot");
    } else if (action == kPowerOff) {
        machine_off(0, 1);
    }
    return result;
}

extern "C" int kvn_standby_terminate_apps(void) {
    auto wait_until_inactive = [](int window_id) {
        for (int i = 0; i < 20 && check_window_is_active(window_id) != 0; ++i) kvn::sleep_us(250000);
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

extern "C" int run_standby(kvn_window *window, DFBWindowEvent *event) {
    check_standby_power_keys(event->key_symbol);
    event->type = static_cast<DFBWindowEventType>(0);
    event->key_symbol = DIKS_NULL;
    write_cdrom_pipe(0);

    IDirectFBEventBuffer *eventbuffer = nullptr;
    KVN_DFB_CHECK(kvn_dfb_global_context.kvn_dfb->CreateInputEventBuffer(kvn_dfb_global_context.kvn_dfb, DICAPS_ALL, DFB_FALSE, &eventbuffer),
                  "kvn_dfb_global_context.kvn_dfb->CreateInputEventBuffer(kvn_dfb_global_context.kvn_dfb, DICAPS_ALL, DFB_FALSE, &eventbuffer)");
    g_standby_input.store(eventbuffer);

    save_commit();
    sync_five_times();
    (void)system("power_led -standby 1 -poweron 0");
    torrent_standby(1);
    if (window->window_id == FLASH_LITE) kvn_standby_terminate_apps();
    scsvr_global_on_off(0);
    if (system("pidof transmission-daemon 1>/dev/null 2>/dev/null") != 0) spin_down_disks();
    int countdown = kSpinDownPasses;
    (void)system("sdparm -C stop /dev/cdrom 1>/dev/null 2>/dev/null");
    kvn::touch_marker("/tmp/use_rmfp.txt", "run_standby");
    kvn::touch_marker("/tmp/goingstandby", "run_standby");

    int outcome = 0;
    while (outcome == 0) {
        if (kvn::wait_for_event(eventbuffer, 0, 10) == DFB_OK) {
            DFBEvent input;
            if (eventbuffer->GetEvent(eventbuffer, &input) == DFB_OK && input.clazz == DFEC_INPUT &&
                input.input.type == DIET_KEYPRESS) {
                DFBInputDeviceKeySymbol key = input.input.key_symbol;
                if (check_standby_power_keys(key)) {
                    outcome = 2;
                } else if (key == DIKS_POWER || key == DIKS_HOLD) {
                    discard_window_events(window);
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
    g_standby_input.store(nullptr);
    if (eventbuffer != nullptr) {
        KVN_DFB_CHECK(eventbuffer->Release(eventbuffer), "eventbuffer->Release(eventbuffer)");
    }
    scsvr_global_on_off(1);
    if (outcome == 1) {
        if (window->window_id == FLASH_LITE) {
            focus_on_window(FLASH_LITE);
        } else if (window->window_id == SCREEN_SAVER) {
            focus_on_window(scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER ? ADVANCE_MEDIA_PLAYER
                                                                                 : FLASH_LITE);
        }
        torrent_standby(0);
        (void)system("power_led -standby 0 -poweron 1");
        VideoOutputOnOff(1, window);
        write_cdrom_pipe(1);
    }
    kvn_standby_flag_store(0);
    if (window->surface != nullptr) window->surface->Flip(window->surface, nullptr, DSFLIP_NONE);
    return 0;
}

extern "C" int handle_power_key(kvn_window *window, DFBWindowEvent *event) {
    const int id = window->window_id;
    if (id == FLASH_LITE) {
        if (kvn_standby_flag_claim()) {
            VideoOutputOnOff(0, window);
            return run_standby(window, event);
        }
        kvn_window *focused = get_window_on_focus();
        if (focused != nullptr && focused->window_id == FLASH_LITE) return 0;
        return run_standby(window, event);  // the key handed over by another application
    }
    // One atomic test-and-set: two power keys at the same instant start one
    // standby.
    if (!kvn_standby_flag_claim()) return 0;
    VideoOutputOnOff(0, window);
    if (id == ADVANCE_MEDIA_PLAYER) return run_standby(window, event);
    if (id == SCREEN_SAVER && scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER) {
        (void)system("wget -q -O /dev/null \"http://127.0.0.1:8008/playback?arg0=stop_vod\"");
        return run_standby(window, event);
    }
    if (kvnfw_send_event(FLASH_LITE, DIKS_POWER) != 0) {
        // No flash player to hand the key to: left alone the picture would
        // stay off and every later power key would be ignored, so this
        // application runs the standby itself.
        return run_standby(window, event);
    }
    return 0;
}
