// A failing flash at any step of a write or a commit: the store stays whole
// and every key keeps its last committed value or a later one.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "flash_setting.h"
#include "kvn_test_support.h"

namespace {

int run_driver(const std::string &call, int n, bool forever, const char *value) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("LD_PRELOAD", KVN_FAULT_SHIM, 1);
        setenv("KVN_FAULT_CALL", call.c_str(), 1);
        setenv("KVN_FAULT_N", std::to_string(n).c_str(), 1);
        setenv("KVN_FAULT_FOREVER", forever ? "1" : "0", 1);
        execl(KVN_FAULT_DRIVER, KVN_FAULT_DRIVER, value, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    free(v);
    return s;
}

TEST(SettingsFaults, EveryFailingCallLeavesTheStoreWhole) {
    KVN_REQUIRE_SANDBOX();
#ifdef KVN_SANITIZED
    GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer runtime";
#endif
    setenv("FLASH_SETTING_FILE", "/tmp/faults/store.db", 1);
    ASSERT_EQ(0, run_driver("none", 0, false, "1")) << "the driver works without faults";
    int committed = 1;
    int runs = 0;
    for (const char *call : {"write", "fsync", "rename", "open"}) {
        for (bool forever : {false, true}) {
            for (int n = 1; n <= 12; ++n) {
                int next = committed + 1;
                int status = run_driver(call, n, forever, std::to_string(next).c_str());
                ++runs;
                ASSERT_NE(3, status) << call << " #" << n << ": a descriptor was left open";
                ASSERT_EQ(0, status) << call << " #" << n << ": the writer crashed";
                std::string a = value_of("a");
                ASSERT_TRUE(a == std::to_string(committed) || a == std::to_string(next))
                    << call << " #" << n << (forever ? " for ever" : " once") << ": a=" << a;
                std::string data = kvn_test::read_file("/tmp/faults/store.db");
                ASSERT_EQ(0u, data.rfind("kvn-flash-setting", 0)) << "torn committed store: " << data;
                bool has_old = data.find("a=" + std::to_string(committed) + "\n") != std::string::npos;
                bool has_new = data.find("a=" + std::to_string(next) + "\n") != std::string::npos;
                ASSERT_TRUE(has_old || has_new) << call << " #" << n << ": " << data;
                if (has_new) committed = next;
            }
        }
    }
    EXPECT_GT(runs, 90);
}

}  // namespace
