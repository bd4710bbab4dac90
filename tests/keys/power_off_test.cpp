// Power-off: the shutdown script, and the commit and dark screen before it when asked.
#include <fcntl.h>
#include <sys/stat.h>

#include "smpoutd_api.h"
#include "standby_harness.h"

namespace {

using namespace standby_test;

// The script, after a commit and a dark screen only when told; the script runs in the root with the
// standard streams only.
TEST(PowerOff, MachineOffCommitsAndBlanksOnlyWhenTold) {
    KVN_REQUIRE_SANDBOX();
    journal_on();
    for (int commit : {0, 1}) {
        kvn_test::clear_fake_calls();
        smpoutd_stub_clear();
        EXPECT_LT(0, machine_off(commit, 0)) << "the script's process, waited for";
        std::vector<std::string> want = {"/etc/shutdown.sh"};
        if (commit) want = {"flash save_commit", "smpoutd code=28 (picture off)", want[0]};
        EXPECT_EQ(want, journal());
        EXPECT_TRUE(eventually([] { return count_calls("power_led -standby 2") == 1; }));
    }
    // In / with the descriptors 0 to 2 only, whatever the application holds open (ls adds the one
    // it reads).
    kvn_test::start_display();                // DirectFB's descriptors and the framework's pipes
    int plain = open("/dev/null", O_RDONLY);  // and one of the application's own
    kvn_test::write_file(
        "/etc/shutdown.sh",
        "#!/bin/sh\npwd > /tmp/child.cwd\nexec ls /proc/self/fd > /tmp/child.fds\n");
    chmod("/etc/shutdown.sh", 0755);
    machine_off(0, 1);
    EXPECT_EQ("0\n1\n2\n3\n", kvn_test::read_file("/tmp/child.fds"));
    EXPECT_EQ("/\n", kvn_test::read_file("/tmp/child.cwd"));
    close(plain);
}

// A race: power-off keys in two applications at the same instant run the script one after the
// other.
TEST(PowerOff, TwoAtTheSameInstantRunTheScriptInTurn) {
    KVN_REQUIRE_SANDBOX();
    ASSERT_TRUE(kvn_test::install_overlap_detecting_shutdown());
    kvn_test::clear_fake_calls();
    at_once([] { machine_off(0, 0); }, [] { machine_off(0, 0); });
    std::vector<std::string> calls = kvn_test::fake_calls();
    EXPECT_EQ(2, std::count(calls.begin(), calls.end(), "/etc/shutdown.sh"));
    EXPECT_EQ(0, std::count(calls.begin(), calls.end(), "OVERLAP"));
}

}  // namespace
