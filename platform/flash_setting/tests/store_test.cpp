// The settings store holds the user's choices: these tests check that
// nothing written is lost across processes, kills and damaged files.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "flash_setting.h"
#include "store_format.h"

namespace {

std::string g_dir;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void spit(const std::string &path, const std::string &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    free(v);
    return s;
}

// Each test gets a store of its own; the library reads the path once per
// process, so every test that needs a fresh store forks a child for it.
template <typename F>
int in_child(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string fresh_store(const char *name) {
    std::string dir = g_dir + "/" + name;
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) abort();
    setenv("FLASH_SETTING_FILE", (dir + "/store.db").c_str(), 1);
    return dir + "/store.db";
}

class Env : public ::testing::Environment {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/flash-setting-test.XXXXXX";
        g_dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + g_dir + "'";
        if (system(cmd.c_str()) != 0) fprintf(stderr, "cleanup failed\n");
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Env);

TEST(FlashSetting, RoundTripsTextAndNumbers) {
    EXPECT_EQ(0, in_child([] {
        fresh_store("roundtrip");
        EXPECT_EQ(nullptr, get_var_mem("never_written"));
        EXPECT_EQ(0, write_var("tv_system", "PAL", 0));
        int zero = 0, negative = -17, big = 2147483647;
        EXPECT_EQ(0, write_var("zero", &zero, 1));
        EXPECT_EQ(0, write_var("negative", &negative, 1));
        EXPECT_EQ(0, write_var("big", &big, 1));
        EXPECT_EQ(0, write_var("empty", "", 0));
        EXPECT_EQ(0, write_var("tv_system", "NTSC", 0));
        EXPECT_EQ("NTSC", value_of("tv_system"));
        EXPECT_EQ("0", value_of("zero"));
        EXPECT_EQ("-17", value_of("negative"));
        EXPECT_EQ("2147483647", value_of("big"));
        EXPECT_EQ("", value_of("empty"));
        EXPECT_EQ(0, save_commit());
        EXPECT_EQ("NTSC", value_of("tv_system"));
    }));
}

TEST(FlashSetting, RefusesWhatTheFormatCannotHoldAndTouchesNothing) {
    EXPECT_EQ(0, in_child([] {
        std::string path = fresh_store("refuse");
        ASSERT_EQ(0, write_var("lang", "english_lang", 0));
        ASSERT_EQ(0, save_commit());
        std::string before = slurp(path), live_before = slurp(path + ".live");
        EXPECT_EQ(-1, write_var("bad\nkey", "x", 0));
        EXPECT_EQ(-1, write_var("a=b", "x", 0));
        EXPECT_EQ(-1, write_var("", "x", 0));
        EXPECT_EQ(-1, write_var(nullptr, "x", 0));
        EXPECT_EQ(-1, write_var("lang", "two\nlines", 0));
        EXPECT_EQ(-1, write_var("lang", "cr\r", 0));
        EXPECT_EQ(-1, write_var("lang", nullptr, 0));
        EXPECT_EQ(-1, write_var("lang", "x", 7));
        EXPECT_EQ(before, slurp(path));
        EXPECT_EQ(live_before, slurp(path + ".live"));
        EXPECT_EQ("english_lang", value_of("lang"));
    }));
}

TEST(FlashSetting, DamagedFilesKeepWhatStillReadsAndWarnOnce) {
    EXPECT_EQ(0, in_child([] {
        std::string path = fresh_store("damage");
        ASSERT_EQ(0, write_var("seed", "1", 0));  // makes the directory
        unlink((path + ".live").c_str());
        std::string junk = "video_output=7\ngarbage line\n=novalue\n\x01\x02\xff\n";
        junk += std::string("nul\0key=1\n", 10);
        junk += "lang=french_lang\ntruncated=ha";
        spit(path, junk);
        testing::internal::CaptureStderr();
        EXPECT_EQ("7", value_of("video_output"));
        EXPECT_EQ("french_lang", value_of("lang"));
        EXPECT_EQ("<null>", value_of("truncated"));  // a cut last line is not trusted
        EXPECT_EQ("<null>", value_of("garbage line"));
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, err.find("damaged")) << err;
        EXPECT_EQ(err.find("damaged"), err.rfind("damaged")) << "warned more than once: " << err;
        // Writing repairs the file and keeps the good entries.
        ASSERT_EQ(0, write_var("tv_system", "PAL", 0));
        ASSERT_EQ(0, save_commit());
        flash_setting::ParseResult r = flash_setting::parse(slurp(path).data(), slurp(path).size());
        EXPECT_TRUE(r.header_ok);
        EXPECT_EQ(0u, r.damaged_lines);
        EXPECT_EQ("7", r.values["video_output"]);
        EXPECT_EQ("PAL", r.values["tv_system"]);
        // Zero-length and pure-garbage stores read as empty, without a crash.
        unlink((path + ".live").c_str());
        spit(path, "");
        EXPECT_EQ("<null>", value_of("video_output"));
        spit(path, std::string(100000, '\0'));
        EXPECT_EQ("<null>", value_of("video_output"));
    }));
}

TEST(FlashSetting, OtherProcessesSeeAWriteAtOnce) {
    EXPECT_EQ(0, in_child([] {
        fresh_store("visible");
        ASSERT_EQ(0, write_var("video_output", "5", 0));
        EXPECT_EQ("5", value_of("video_output"));  // caches the file
        pid_t pid = fork();
        if (pid == 0) _exit(write_var("video_output", "9", 0) == 0 ? 0 : 1);
        int status;
        waitpid(pid, &status, 0);
        ASSERT_EQ(0, WEXITSTATUS(status));
        EXPECT_EQ("9", value_of("video_output"));  // no commit in between
    }));
}

TEST(FlashSetting, ConcurrentWritersOfDifferentKeysLoseNothing) {
    EXPECT_EQ(0, in_child([] {
        fresh_store("concurrent");
        const int kRounds = 100;
        std::vector<pid_t> children;
        for (int p = 0; p < 3; ++p) {
            pid_t pid = fork();
            if (pid == 0) {
                for (int i = 0; i < kRounds; ++i) {
                    std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
                    if (write_var(key.c_str(), &i, 1) != 0) _exit(1);
                    if (i % 10 == 0 && save_commit() != 0) _exit(1);
                }
                _exit(0);
            }
            children.push_back(pid);
        }
        // Threads of this process write at the same time.
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kRounds; ++i) {
                    std::string key = "t" + std::to_string(t) + "_" + std::to_string(i);
                    write_var(key.c_str(), &i, 1);
                }
            });
        }
        for (auto &th : threads) th.join();
        for (pid_t pid : children) {
            int status;
            waitpid(pid, &status, 0);
            EXPECT_EQ(0, WEXITSTATUS(status));
        }
        for (const char *who : {"p0", "p1", "p2", "t0", "t1"}) {
            for (int i = 0; i < kRounds; ++i) {
                std::string key = std::string(who) + "_" + std::to_string(i);
                EXPECT_EQ(std::to_string(i), value_of(key.c_str())) << key;
            }
        }
    }));
}

// Kills a writer with SIGKILL at random moments of write_var/save_commit and
// checks after each kill that every key holds its last committed value or a
// later one, both as a reader sees the store and from the committed file
// alone (a power cut that loses the live copy).
TEST(FlashSetting, SurvivesWritersKilledAtAnyInstant) {
    EXPECT_EQ(0, in_child([] {
        std::string path = fresh_store("crash");
        const int kKeys = 4;
        const int kIterations = 200;
        std::mt19937 rng(12345);
        int pipe_fd[2];
        ASSERT_EQ(0, pipe(pipe_fd));
        int committed[kKeys] = {0, 0, 0, 0};  // last value known committed
        int next = 1;
        for (int iter = 0; iter < kIterations; ++iter) {
            int start = next;
            pid_t pid = fork();
            if (pid == 0) {
                close(pipe_fd[0]);
                // Values only grow, so "a later one" is "a larger one".
                for (int v = start;; ++v) {
                    for (int k = 0; k < kKeys; ++k) {
                        std::string key = "key" + std::to_string(k);
                        write_var(key.c_str(), &v, 1);
                    }
                    if (save_commit() == 0) {
                        if (write(pipe_fd[1], &v, sizeof v) != sizeof v) _exit(1);
                    }
                }
            }
            usleep(std::uniform_int_distribution<int>(0, 15000)(rng));
            kill(pid, SIGKILL);
            int status;
            waitpid(pid, &status, 0);
            // Drain the commits that were acknowledged.
            int v;
            fd_set set;
            struct timeval zero = {0, 0};
            for (;;) {
                FD_ZERO(&set);
                FD_SET(pipe_fd[0], &set);
                if (select(pipe_fd[0] + 1, &set, nullptr, nullptr, &zero) <= 0) break;
                if (read(pipe_fd[0], &v, sizeof v) != sizeof v) break;
                for (int k = 0; k < kKeys; ++k) committed[k] = v;
                next = v + 1;
            }
            next += 1000;  // the killed writer may have got further than it said
            for (int k = 0; k < kKeys; ++k) {
                std::string key = "key" + std::to_string(k);
                std::string seen = value_of(key.c_str());
                if (committed[k] > 0) {
                    ASSERT_NE("<null>", seen) << "iteration " << iter;
                    ASSERT_GE(atoi(seen.c_str()), committed[k]) << "iteration " << iter;
                }
            }
            std::string data = slurp(path);
            flash_setting::ParseResult r = flash_setting::parse(data.data(), data.size());
            if (committed[0] > 0) {
                ASSERT_TRUE(r.header_ok) << "torn committed store at iteration " << iter;
                ASSERT_EQ(0u, r.damaged_lines) << "iteration " << iter;
                for (int k = 0; k < kKeys; ++k) {
                    std::string key = "key" + std::to_string(k);
                    ASSERT_EQ(1u, r.values.count(key)) << "iteration " << iter;
                    ASSERT_GE(atoi(r.values[key].c_str()), committed[k]) << "iteration " << iter;
                }
            }
        }
        EXPECT_GT(committed[0], 0) << "no commit ever completed";
        // The temporaries of killed writers are cleaned at the next commit.
        ASSERT_EQ(0, save_commit());
        std::string cmd = "ls '" + path + "'.tmp.* >/dev/null 2>&1";
        EXPECT_NE(0, system(cmd.c_str())) << "stale temporary files left behind";
    }));
}

TEST(FlashSetting, StaleTemporaryFileIsNeverReadAsTheStore) {
    EXPECT_EQ(0, in_child([] {
        std::string path = fresh_store("stale");
        ASSERT_EQ(0, write_var("video_output", "5", 0));
        ASSERT_EQ(0, save_commit());
        spit(path + ".tmp.99999.0", "kvn-flash-setting 1\nvideo_output=11\n");
        EXPECT_EQ("5", value_of("video_output"));
        ASSERT_EQ(0, save_commit());
        EXPECT_NE(0, access((path + ".tmp.99999.0").c_str(), F_OK));
    }));
}

}  // namespace
