// The standby as the keys tests reach it: keys pressed into its input buffer as the input driver
// does, and the fakes' command lines with the stand-ins' trace as one journal.
#ifndef KVN_KEYS_STANDBY_HARNESS_H
#define KVN_KEYS_STANDBY_HARNESS_H

#include <algorithm>

#include "input_driver.h"
#include "kvn_app_harness.h"
#include "kvn_trace.h"

namespace standby_test {

using kvn_test::App;
using kvn_test::eventually;

inline bool in_standby() {
    return kvn_input_driver::has_reader() && kvn_test::exists("/tmp/goingstandby");
}
inline void press_in_standby(DFBInputDeviceKeySymbol key, bool repeat = false) {
    ASSERT_TRUE(kvn_input_driver::post(kvn_test::input_key(key, repeat))) << "no standby";
}
inline void wake(DFBInputDeviceKeySymbol key = DIKS_POWER) {
    press_in_standby(key);
    ASSERT_TRUE(eventually([] { return kvn_get_standby_mode() == 0 && !in_standby(); }));
}
// A power key in the application's window; true once a standby runs.
inline bool power(App &app) {
    app.press(DIKS_POWER);
    return eventually(in_standby);
}
inline int handle(App &app, DFBInputDeviceKeySymbol key) {
    DFBWindowEvent e = kvn_test::key_event(key);
    return kvn_default_event_handling(&app.record, &e);
}
inline size_t count_calls(const std::string &line) {
    std::vector<std::string> calls = kvn_test::fake_calls();
    return std::count(calls.begin(), calls.end(), line);
}
inline void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

// After journal_on, the stand-ins' trace goes among the fakes' lines. journal() leaves out the
// power-off light, which runs in the background and so has no fixed place, and the dialogs'
// connection numbers; unless asked, also the dialogs and window switches that follow the focus.
inline std::string without_connection(std::string line) {  // " conn=N" left out
    const size_t at = line.find(" conn=");
    if (at == std::string::npos) return line;
    const size_t end = line.find_first_not_of("0123456789", at + 6);
    return line.erase(at, end == std::string::npos ? std::string::npos : end - at);
}
inline void journal_on() { kvn_trace_set_file("/run/kvn-fakes/calls.log"); }
inline std::vector<std::string> journal(bool dialogs = false) {
    std::vector<std::string> lines;
    for (const std::string &line : kvn_test::fake_calls())
        if (line != "power_led -standby 2" &&
            (dialogs || (line.rfind("osd ", 0) != 0 && line != "scsvr window_switch")))
            lines.push_back(without_connection(line));
    return lines;
}
// Runs both at the same instant, each in a thread of its own.
inline void at_once(const std::function<void()> &first, const std::function<void()> &second) {
    std::atomic<bool> go{false};
    auto when_told = [&go](const std::function<void()> &run) {
        return std::thread([&go, &run] {
            while (!go) {
            }
            run();
        });
    };
    std::thread a = when_told(first), b = when_told(second);
    go = true;
    a.join();
    b.join();
}

class StandbyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        KVN_REQUIRE_SANDBOX();
        kvn_set_time_divisor(kvn_test::emulated() ? 5 : 20);  // qemu-user starts programs slowly
        kvn_test::write_file("/tmp/tvmode", "5\n");
        kvn_test::clear_fake_calls();
    }
    void TearDown() override { kvn_set_time_divisor(1); }
};

}  // namespace standby_test

#endif
