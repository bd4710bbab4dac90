// Helpers shared by the framework's test programs.  Every test process runs
// inside kvn-sandbox: /tmp is private and the player programs are fakes.
#ifndef KVN_TEST_SUPPORT_H
#define KVN_TEST_SUPPORT_H

#include <string>
#include <vector>

#include "korvan_framework_lib.h"
#include "osd_service.h"

namespace kvn_test {

bool in_sandbox();  // tests that touch fixed paths skip themselves outside it
bool exists(const std::string &path);
std::string read_file(const std::string &path);  // "" when missing
void write_file(const std::string &path, const std::string &content);
void remove_file(const std::string &path);

// A settings value as text, "<null>" when the key has none.
std::string stored(const char *key);

// Command lines the recording fakes saw, in order ("NAME ARGS...").
std::vector<std::string> fake_calls();
void clear_fake_calls();
void set_torrent_daemon_running(bool running);

// What the platform stand-ins recorded.
std::vector<std::string> trace_lines();
std::vector<osd_call> osd_calls();

// kvn_dfb_init and kvn_layer_osd_init as an application starts, once per
// process (DirectFB is process-wide).
void start_display();

// A key event as DirectFB delivers it to a window (every other member 0).
DFBWindowEvent key_event(DFBInputDeviceKeySymbol key, DFBWindowEventType type = DWET_KEYDOWN);
// Posts that event into a window's buffer, as DirectFB does for the
// focused window.
void post_key(IDirectFBEventBuffer *buffer, DFBInputDeviceKeySymbol key,
              DFBWindowEventType type = DWET_KEYDOWN);
// Posts a key press as the input driver delivers it to an input buffer.
void post_input_key(IDirectFBEventBuffer *buffer, DFBInputDeviceKeySymbol key);

// Bytes the C heap has handed out and not had back (for leak checks on
// repeated calls; constant under the sanitizers' own allocators).
size_t heap_in_use();

// Writes a small PNG (solid colour) at `path`.
void write_png(const std::string &path, int width, int height, unsigned rgb);

}  // namespace kvn_test

// Skips the current test unless it runs inside kvn-sandbox.
#define KVN_REQUIRE_SANDBOX()                                                   \
    do {                                                                        \
        if (!kvn_test::in_sandbox()) GTEST_SKIP() << "needs kvn-sandbox";       \
    } while (0)

#endif
