// The keys during a standby: the two-key sequences that reboot or power the player off.
#include "keys/standby_keys.h"

#include "keys/standby.h"
#include "standby_harness.h"

namespace {

// Power then eject reboots, power then clear powers off, within 3 s of the power key by the
// clock's seconds; other keys between do not disturb, a third key does nothing. The power-off key
// powers off at once.
TEST(StandbyKeys, PowerKeySequencesWithinThreeSeconds) {
    KVN_REQUIRE_SANDBOX();
    kvn_set_time_divisor(10);
    const std::vector<std::string> none, reboot = {"reboot"}, off = {"/etc/shutdown.sh 1"};
    const struct {
        DFBInputDeviceKeySymbol key;
        int after_ms, result;  // after_ms: player time since the previous key
        std::vector<std::string> calls;
    } steps[] = {
        {DIKS_EJECT, 0, 0, none}, {DIKS_CLEAR, 0, 0, none},    {DIKS_POWER, 0, 0, none},
        {DIKS_OK, 0, 0, none},    {DIKS_EJECT, 0, 1, reboot},  {DIKS_CLEAR, 0, 0, none},
        {DIKS_POWER, 0, 0, none}, {DIKS_CLEAR, 1000, 1, off},  {DIKS_EJECT, 0, 0, none},
        {DIKS_POWER, 0, 0, none}, {DIKS_EJECT, 4100, 0, none}, {DIKS_REDIAL, 0, 0, off},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(std::to_string(&step - steps));
        std::this_thread::sleep_for(std::chrono::milliseconds(step.after_ms / 10));
        kvn_test::clear_fake_calls();
        kvn_test::remove_file("/tmp/wait_to_reboot");
        EXPECT_EQ(step.result, kvn::check_standby_power_keys(step.key));
        EXPECT_EQ(step.calls, standby_test::journal());
        EXPECT_EQ(step.calls == reboot, kvn_test::exists("/tmp/wait_to_reboot"));
    }
    kvn_set_time_divisor(1);
}

}  // namespace
