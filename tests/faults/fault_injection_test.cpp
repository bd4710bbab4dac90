// A failing flash at any step of a write or a commit: the store stays whole, every key keeps its last committed
// value or a later one, and what the store acknowledged (as its record of calls shows) is never lost.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "flash_setting.h"
#include "kvn_test_support.h"

namespace {

const char kTrace[] = "/tmp/faults/trace.log";

int run_driver(const std::string &call, int n, bool forever, const char *value, const std::string &more = "") {
    kvn_test::write_file(kTrace, "");
    std::string env = "KVN_TRACE_FILE=" + std::string(kTrace) + " KVN_FAULT_CALL=" + call + " KVN_FAULT_N=" +
                      std::to_string(n) + " KVN_FAULT_FOREVER=" + (forever ? "1 " : "0 ") + more + " ";
    const char *emulator = getenv("KVN_EMULATOR");  // a cross build's, which starts the driver
    if (emulator != nullptr) env += std::string(emulator) + " ";
    int status = system((env + KVN_FAULT_DRIVER + " " + value + " 2>/tmp/fault-stderr").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

size_t count(const std::string &what, const std::string &text) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool acknowledged(const std::string &call) {  // the driver's last such call returned 0
    std::string trace = "\n" + kvn_test::read_file(kTrace);
    size_t at = trace.rfind("\nflash " + call);
    return at != std::string::npos && trace.substr(at + 1, trace.find('\n', at + 1) - at - 1).find(" failed") == std::string::npos;
}

TEST(SettingsFaults, EveryFailingCallLeavesTheStoreWholeAndKeepsWhatItAcknowledged) {
    KVN_REQUIRE_SANDBOX();
    setenv("FLASH_SETTING_FILE", "/tmp/faults/store.db", 1);
    ASSERT_EQ(0, run_driver("none", 0, false, "1", "KVN_SYNC_LOG=/tmp/syncs")) << "the driver works without faults";
    // A commit syncs the new file before it takes the store's name, and the folder after.
    std::string syncs = kvn_test::read_file("/tmp/syncs");
    size_t file = syncs.find("/tmp/faults/store.db.tmp\n");
    EXPECT_TRUE(file != std::string::npos && syncs.find("/tmp/faults\n", file) != std::string::npos) << syncs;
    // A read that a signal interrupts is tried again.
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(0, run_driver("read", n, false, "1", "KVN_FAULT_ERRNO=4"));
        EXPECT_EQ(0u, count(" failed", kvn_test::read_file(kTrace))) << "read #" << n << " interrupted";
    }
    ASSERT_TRUE(write_var("kept", "precious", 0) == 0 && save_commit() == 0);  // a key the driver never writes
    int committed = 1, runs = 0, failed_commits = 0;
    for (const char *call : {"write", "read", "pread", "fsync", "rename", "open"}) {
        for (bool forever : {false, true}) {
            for (int n = 1; n <= 12; ++n) {
                SCOPED_TRACE(std::string(call) + " #" + std::to_string(n) + (forever ? " for ever" : " once"));
                int next = committed + 1;
                if (n % 2 == 1) {  // after a reboot: the committed file alone
                    std::string lock = kvn_test::read_file("/tmp/faults/store.db.lock");
                    unlink(lock.substr(0, lock.find('\n')).c_str());
                }
                int status = run_driver(call, n, forever, std::to_string(next).c_str());
                ++runs;
                ASSERT_EQ(0, status) << "3: a descriptor left open, 4: a result neither 0 nor -1, else a crash";
                std::string a = kvn_test::stored("a");
                ASSERT_TRUE(a == std::to_string(committed) || a == std::to_string(next)) << "a=" << a;
                ASSERT_EQ("precious", kvn_test::stored("kept")) << "a value the writer never touched was lost";
                EXPECT_TRUE(!acknowledged("write_var a=") || a == std::to_string(next)) << "an acknowledged write was lost";
                std::string data = kvn_test::read_file("/tmp/faults/store.db");
                ASSERT_EQ(0u, data.rfind("kvn-flash-setting 1\n", 0)) << "torn committed store: " << data;
                bool has_old = data.find("a=" + std::to_string(committed) + "\n") != std::string::npos;
                bool has_new = data.find("a=" + std::to_string(next) + "\n") != std::string::npos;
                ASSERT_TRUE(has_old || has_new) << data;
                // A commit whose folder could not be synced is not acknowledged.
                EXPECT_LE(count("cannot sync", kvn_test::read_file("/tmp/fault-stderr")),
                          count("flash save_commit failed", kvn_test::read_file(kTrace)));
                EXPECT_TRUE(!acknowledged("save_commit") || acknowledged("write_var a=") == has_new) << "an acknowledged commit is not on the flash";
                failed_commits += !acknowledged("save_commit");
                if (has_new) committed = next;
            }
        }
    }
    EXPECT_EQ(144, runs);
    EXPECT_GT(failed_commits, 20) << "the faults hardly ever reached a commit";
}

}  // namespace
