// Helpers shared by the test programs, which run inside kvn-sandbox: /tmp is private, the player's
// programs fakes.
#ifndef KVN_TEST_SUPPORT_H
#define KVN_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "korvan_framework_dev.h"
#include "korvan_framework_lib.h"
#include "osd_service.h"

namespace kvn_test {

inline bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }
inline std::string read_file(const std::string &path) {  // "" when missing
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}
inline void remove_file(const std::string &path) { unlink(path.c_str()); }
std::string stored(const char *key);  // "<null>" when the key has none

// What `action` wrote to standard error.
inline std::string captured_stderr(const std::function<void()> &action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}
// Whether `text` holds every one of `parts`; the failure names the missing one.
inline ::testing::AssertionResult has(const std::string &text,
                                      std::initializer_list<std::string> parts) {
    for (const std::string &p : parts)
        if (text.find(p) == std::string::npos)
            return ::testing::AssertionFailure() << "no \"" << p << "\" in: " << text;
    return ::testing::AssertionSuccess();
}
int open_descriptors();  // of this process

// Command lines the recording fakes saw, in order ("NAME ARGS...").
std::vector<std::string> fake_calls();
inline void clear_fake_calls() { write_file("/run/kvn-fakes/calls.log", ""); }
inline void set_torrent_daemon_running(bool on) {
    write_file("/run/kvn-fakes/pidof.status", on ? "0\n" : "1\n");
}
// A /etc/shutdown.sh that takes a while and logs "OVERLAP" when another copy still runs.
bool install_overlap_detecting_shutdown();

std::vector<std::string> trace_lines();
std::vector<osd_call> osd_calls();
void start_display();  // kvn_dfb_init and kvn_layer_osd_init, once per process (DirectFB is
                       // process-wide)
// kvn_dfb_init alone on the display context, with DirectFB options such as "--dfb:mode=800x600".
int init_display(const std::vector<std::string> &options = {});

// A key event as DirectFB delivers it to a window; DWEF_REPEAT marks an auto-repeat.
inline DFBWindowEvent key_event(DFBInputDeviceKeySymbol key, DFBWindowEventType type = DWET_KEYDOWN,
                                DFBWindowEventFlags flags = DWEF_NONE) {
    DFBWindowEvent e{};
    e.clazz = DFEC_WINDOW, e.type = type, e.flags = flags, e.key_symbol = key;
    return e;
}
inline void post_key(IDirectFBEventBuffer *buffer, DFBInputDeviceKeySymbol key,
                     DFBWindowEventType type = DWET_KEYDOWN,
                     DFBWindowEventFlags flags = DWEF_NONE) {
    DFBEvent event{};
    event.window = key_event(key, type, flags), buffer->PostEvent(buffer, &event);
}
// A key press as the input driver delivers it to an input buffer.
inline DFBEvent input_key(DFBInputDeviceKeySymbol key, bool repeat = false) {
    DFBEvent event{};
    event.input.clazz = DFEC_INPUT, event.input.type = DIET_KEYPRESS, event.input.key_symbol = key;
    event.input.flags =
        static_cast<DFBInputEventFlags>(DIEF_KEYSYMBOL | (repeat ? DIEF_REPEAT : 0));
    return event;
}
// A cross build under qemu-user (scripts/qemu-run): no ptrace, no seccomp filters, and every
// fork and exec of a shell takes a tenth of a second or more.
inline bool emulated() { return getenv("KVN_EMULATOR") != nullptr; }

}  // namespace kvn_test

// Tests that touch fixed paths skip themselves outside kvn-sandbox.
#define KVN_REQUIRE_SANDBOX()                                     \
    do {                                                          \
        if (std::string("1") != (getenv("KVN_IN_SANDBOX") ?: "")) \
            GTEST_SKIP() << "needs kvn-sandbox";                  \
    } while (0)

#endif
