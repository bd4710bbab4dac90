// Standby, power-off and reboot.  The power key puts the player to sleep
// inside the call that handled it, in the thread of the application that
// runs the standby, and waits there for the key that wakes it up.
#include <fcntl.h>
#include <mntent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

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
// Held while the buffer is published or withdrawn, so that a key delivered
// from another thread never reaches a buffer already released.
std::mutex g_standby_input_mutex;

void publish_standby_input(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(g_standby_input_mutex);
    g_standby_input.store(buffer);
}

std::string g_tape_prefix = "/dev/st";

// One shutdown script at a time, whichever thread pressed the key.
std::mutex g_machine_off_mutex;

// A power key handed to the flash player.  Its window's loop brings the key
// back to the power-key handling, and until then the picture is off and the
// flag at 1.  The key can be slow (a busy loop) or never come (the flash
// player's thread in the TV-mode menu, which reads its window's keys, or a
// loop that has stopped), so the standby it asks for is a hand-over that the
// first to find it takes, exactly once: the flash player, whatever key brings
// it there, or another application's power key once the flash player has had
// it for 3 s.  Those 3 s decide who runs the one standby, never whether a
// second runs: the handed key itself is told from a fresh press by count, not
// by time.  The flash player's window is a queue, so the handed keys still in
// it come out as its next power keys.  One that finds its hand-over already
// taken does nothing, so that a slow loop never starts a second standby after
// the first one has woken.  (Power keys are alike: which of two queued
// presses counts as the handed one changes nothing the user sees.)
struct Handover {
    std::mutex mutex;
    bool pending = false;
    long long since = 0;  // steady-clock milliseconds of the pending one
    // Handed keys posted into the flash player's event buffer `buffer` and not
    // met since, by its handler or its menu.
    IDirectFBEventBuffer *buffer = nullptr;
    int in_flight = 0;
};
Handover g_handover;
// How long the flash player may take before another application's power
// key takes the hand-over from it.
constexpr long long kHandoverGraceMs = 3000;

long long steady_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Before the key is posted, so that its arrival always finds it counted.
void offer_handover(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    g_handover.pending = true;
    g_handover.since = steady_ms();
    if (g_handover.buffer != buffer) {
        g_handover.buffer = buffer;
        g_handover.in_flight = 0;
    }
    ++g_handover.in_flight;
}

// For a key that was never posted.
void withdraw_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    g_handover.pending = false;
    if (g_handover.in_flight > 0) --g_handover.in_flight;
}

bool take_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    bool pending = g_handover.pending;
    g_handover.pending = false;
    return pending;
}

// Takes the hand-over only if the flash player has had it for too long.
bool take_stale_handover() {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (!g_handover.pending) return false;
    long long waited =
        (steady_ms() - g_handover.since) * static_cast<long long>(kvn::time_divisor());
    if (waited < kHandoverGraceMs) return false;
    g_handover.pending = false;
    return true;
}

// The flash player's events were thrown away: no handed key is left in them.
void forget_handed_keys(const kvn_window *window) {
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (window->events == g_handover.buffer) g_handover.in_flight = 0;
}

void sync_five_times() {
    for (int i = 0; i < 5; ++i) sync();
}

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

// Tells the local playback service to stop, and waits for it: a service
// that is slow to answer (its disk busy, or asleep and spinning up) must have
// stopped before the standby goes on.  Only a service that never answers is
// given up on, with the picture off and every key ignored meanwhile: after
// 60 s of player time, twice the time the kernel allows one disk command
// before it gives up on it (30 s), so that a service held up by a disk that
// is slow but answering is still waited for.
void stop_playback_service() {
    constexpr unsigned kRequestLimitMs = 60000;
    char wget[] = "wget", quiet[] = "-q", output[] = "-O", null[] = "/dev/null",
         url[] = "http://127.0.0.1:8008/playback?arg0=stop_vod";
    char *const argv[] = {wget, quiet, output, null, url, nullptr};
    pid_t pid = kvn::start_child(wget, argv, nullptr);
    if (pid < 0) {
        perror("wget: fork");
        return;
    }
    int status = 0;
    if (kvn::reap_within(pid, kRequestLimitMs, &status)) return;
    fprintf(stderr, "korvan_framework_lib: the playback service did not answer; going on to standby\n");
    kill(pid, SIGKILL);
    (void)kvn::reap_within(pid, 1000, &status);  // a child stuck beyond a kill is left behind
}

}  // namespace

extern "C" int kvn_meet_handed_key(const kvn_window *window) {
    if (window == nullptr || window->window_id != FLASH_LITE) return 0;
    std::lock_guard<std::mutex> lock(g_handover.mutex);
    if (window->events == nullptr || window->events != g_handover.buffer) return 0;
    if (g_handover.in_flight == 0) return 0;
    --g_handover.in_flight;
    return 1;
}

extern "C" IDirectFBEventBuffer *kvn_standby_input_buffer(void) { return g_standby_input.load(); }

extern "C" int kvn_standby_input_pending(void) {
    std::lock_guard<std::mutex> lock(g_standby_input_mutex);
    IDirectFBEventBuffer *buffer = g_standby_input.load();
    if (buffer == nullptr) return -1;
    return buffer->HasEvent(buffer) == DFB_OK ? 1 : 0;
}

extern "C" int kvn_standby_post_input(const DFBEvent *event) {
    std::lock_guard<std::mutex> lock(g_standby_input_mutex);
    IDirectFBEventBuffer *buffer = g_standby_input.load();
    if (buffer == nullptr || event == nullptr) return -1;
    return buffer->PostEvent(buffer, event) == DFB_OK ? 0 : -1;
}

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
    std::lock_guard<std::mutex> one_at_a_time(g_machine_off_mutex);
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
    publish_standby_input(eventbuffer);

    save_commit();
    sync_five_times();
    (void)system("power_led -standby 1 -poweron 0");
    // A marker left by an earlier standby that was woken before its delay ran
    // out would spin the disks down under a torrent that is seeding now.
    remove("/tmp/bt_hdd_spindown");
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
                    forget_handed_keys(window);
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
    publish_standby_input(nullptr);
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
        // Presses and repeats of the wake key that queued while the player
        // woke up would start a new standby once the flag is down.
        discard_power_keys(window);
    }
    kvn_standby_flag_store(0);
    if (window->surface != nullptr) window->surface->Flip(window->surface, nullptr, DSFLIP_NONE);
    return 0;
}

extern "C" int handle_power_key(kvn_window *window, DFBWindowEvent *event) {
    const int id = window->window_id;
    // A key handed to the flash player runs the standby if its hand-over is
    // still there; once it was taken (by the flash player through another
    // key, by another application's rescue, or by its standby, which may
    // have woken meanwhile) the key does nothing, whatever the flag says now.
    if (event->key_symbol == DIKS_POWER && kvn_meet_handed_key(window)) {
        return take_handover() ? run_standby(window, event) : 0;
    }
    // One atomic test-and-set: two power keys at the same instant start one
    // standby.
    if (kvn_standby_flag_claim()) {
        VideoOutputOnOff(0, window);
        if (id == FLASH_LITE || id == ADVANCE_MEDIA_PLAYER) return run_standby(window, event);
        if (id == SCREEN_SAVER && scsvr_return_last_window() == ADVANCE_MEDIA_PLAYER) {
            stop_playback_service();
            return run_standby(window, event);
        }
        kvn_window *flash = get_window_node(FLASH_LITE);
        offer_handover(flash != nullptr ? flash->events : nullptr);
        if (kvnfw_send_event(FLASH_LITE, DIKS_POWER) != 0) {
            // No flash player to hand the key to: left alone the picture would
            // stay off and every later power key would be ignored, so this
            // application runs the standby itself.
            withdraw_handover();
            return run_standby(window, event);
        }
        return 0;
    }
    // The flag is up: a standby runs, is being entered, or waits for the
    // flash player to take the key handed to it.  The flash player takes it
    // whatever has the focus (the focus may have moved since, or the key
    // may come from an application that did not have it); another
    // application takes it only once it is overdue (the flash player's loop
    // busy, stuck or gone).  Any other power key does nothing, so that one
    // standby runs at a time.
    if (id == FLASH_LITE ? take_handover() : take_stale_handover()) return run_standby(window, event);
    return 0;
}

extern "C" int take_over_handed_standby(kvn_window *window) {
    if (!take_handover()) return 0;
    // The menu that kept this thread may have switched the picture on again.
    VideoOutputOnOff(0, window);
    DFBWindowEvent handed;
    memset(&handed, 0, sizeof handed);
    handed.clazz = DFEC_WINDOW;
    handed.type = DWET_KEYDOWN;
    handed.key_symbol = DIKS_POWER;
    return run_standby(window, &handed);
}
