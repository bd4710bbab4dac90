// Helpers shared by the test programs, which run inside kvn-sandbox: /tmp is private, the player's
// programs fakes.
#ifndef KVN_TEST_SUPPORT_H
#define KVN_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "input_driver.h"
#include "korvan_framework_dev.h"
#include "korvan_framework_lib.h"
#include "kvn_trace.h"
#include "osd_service.h"
#include "platform/imports.h"

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
inline std::string stored(const char *key) {  // "<null>" when the key has none
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

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
inline int open_descriptors() {  // of this process, less the one that lists them
    std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds))) - 1;
}

// Command lines the recording fakes saw, in order ("NAME ARGS...").
inline std::vector<std::string> fake_calls() {
    std::vector<std::string> lines;
    std::ifstream in("/run/kvn-fakes/calls.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
inline void clear_fake_calls() { write_file("/run/kvn-fakes/calls.log", ""); }
inline void set_torrent_daemon_running(bool on) {
    write_file("/run/kvn-fakes/pidof.status", on ? "0\n" : "1\n");
}
// A /etc/shutdown.sh that takes a while and logs "OVERLAP" when another copy still runs; made
// beside the target first, so that a copy of the script still running is not rewritten under it.
inline bool install_overlap_detecting_shutdown() {
    write_file("/etc/shutdown.sh.new",
               "#!/bin/sh\nlog=/run/kvn-fakes/calls.log\n"
               "if [ $# -gt 0 ]; then echo \"/etc/shutdown.sh $*\" >> $log; else echo "
               "/etc/shutdown.sh >> $log; fi\n"
               "mkdir /tmp/kvn-shutdown-running 2>/dev/null || echo OVERLAP >> $log\n"
               "sleep 0.03\nrmdir /tmp/kvn-shutdown-running 2>/dev/null\nexit 0\n");
    return chmod("/etc/shutdown.sh.new", 0755) == 0 &&
           rename("/etc/shutdown.sh.new", "/etc/shutdown.sh") == 0;
}

inline std::vector<std::string> trace_lines() {
    std::vector<std::string> lines;
    std::vector<char> line(1 << 16);
    for (size_t i = 0, n = kvn_trace_count();
         i < n && kvn_trace_get(i, line.data(), line.size()) >= 0; ++i)
        lines.push_back(line.data());
    return lines;
}
inline std::vector<osd_call> osd_calls() {
    std::vector<osd_call> calls(static_cast<size_t>(osd_service_count()));
    for (size_t i = 0; i < calls.size(); ++i) osd_service_get(static_cast<int>(i), &calls[i]);
    return calls;
}
// kvn_dfb_init alone on the display context, with DirectFB options such as "--dfb:mode=800x600"
// (kept: DirectFB may hold on to them).
inline int init_display(const std::vector<std::string> &options = {}) {
    static std::vector<std::string> args;
    static std::vector<char *> argv;
    args.assign(1, "kvn-test");
    args.insert(args.end(), options.begin(), options.end());
    argv.clear();
    for (std::string &s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    char **argv_p = argv.data();
    return kvn_dfb_init(&argc, &argv_p, &kvn_dfb_global_context.kvn_dfb,
                        &kvn_dfb_global_context.kvn_screen);
}
// kvn_dfb_init and kvn_layer_osd_init, once per process (DirectFB is process-wide).
inline void start_display() {
    static std::once_flag once;
    std::call_once(once, [] {
        init_display();
        kvn_dfb_context &g = kvn_dfb_global_context;
        kvn_input_driver::attach(g.kvn_dfb);
        kvn_layer_osd_init(g.kvn_dfb, &g.kvn_layer_osd, &g.kvn_layer_osd_config, nullptr, nullptr);
    });
}

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
// A cross build under qemu-user: no ptrace, no seccomp filters, each shell a tenth of a second.
inline bool emulated() { return getenv("KVN_EMULATOR") != nullptr; }

}  // namespace kvn_test

// Tests that touch fixed paths skip themselves outside kvn-sandbox.
#define KVN_REQUIRE_SANDBOX() \
    if (std::string("1") != (getenv("KVN_IN_SANDBOX") ?: "")) GTEST_SKIP() << "needs kvn-sandbox"

#endif
