// Power-off: the shutdown script, and the commit and dark screen before it when asked.
#include <gtest/gtest.h>

#include <algorithm>

#include "kvn_app_harness.h"
#include "kvn_trace.h"
#include "smpoutd_api.h"

namespace {

using kvn_test::fake_calls;

TEST(PowerOff, MachineOffCommitsAndBlanksOnlyWhenTold) {
    KVN_REQUIRE_SANDBOX();
    kvn_trace_set_file("/run/kvn-fakes/calls.log");  // the stand-ins' trace among the fakes' lines
    for (int commit : {0, 1}) {
        kvn_test::clear_fake_calls(), smpoutd_stub_clear();
        EXPECT_LT(0, machine_off(commit, 0)) << "the script's process, waited for";
        kvn_test::eventually([&] { return fake_calls().size() >= 2u + 2 * commit; }, 2000);
        std::vector<std::string> calls = fake_calls(), want = {"/etc/shutdown.sh"};
        if (commit) want = {"flash save_commit", "smpoutd code=28 (picture off)", want[0]};
        auto led = std::find(calls.begin(), calls.end(), "power_led -standby 2");
        ASSERT_NE(calls.end(), led);
        calls.erase(led);
        EXPECT_EQ(want, calls);
    }
}

}  // namespace
