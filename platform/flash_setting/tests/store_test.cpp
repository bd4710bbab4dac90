// The settings store holds the user's choices: nothing written may be lost across processes or damaged files,
// and nobody waits on another's writer.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include "flash_setting.h"
#include "kvn_trace.h"
#include "store_format.h"

namespace {

const std::string g_tmp = "/tmp/flash-setting-test";
std::string g_local;  // under the working directory: a real disk, where inodes are reused at once

// AddressSanitizer's allocator is not ready for a fork: a child forked while another thread allocates may hang.
const bool kAsan = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

std::string live() { return flash_setting_live_path() ? flash_setting_live_path() : "<none>"; }

std::vector<std::string> trace() {
    std::vector<std::string> lines;
    for (char line[512]; kvn_trace_get(lines.size(), line, sizeof line) >= 0;) lines.push_back(line);
    return lines;
}

int wait_for(pid_t pid, int status = 0) {
    return waitpid(pid, &status, 0), WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The library reads the store path once per process, so each test runs in a child of its own with a fresh
// store `root/name/store.db`; a child that hangs is ended by SIGALRM.
template <typename F>
void in_child(const std::string &root, const char *name, F body, const char *run_dir = nullptr) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(120);
        std::string dir = root + "/" + name;
        if (system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()) != 0) _exit(1);
        setenv("FLASH_SETTING_FILE", (dir + "/store.db").c_str(), 1);
        if (run_dir != nullptr) setenv("FLASH_SETTING_RUN_DIR", run_dir, 1);
        body(dir + "/store.db");
        _exit(fflush(stdout) || ::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(0, wait_for(pid)) << "the test's child failed";
}

class Env : public ::testing::Environment {
    void SetUp() override {
        char cwd[4096];
        g_local = std::string(getcwd(cwd, sizeof cwd) ? cwd : "/tmp/local") + "/flash-setting-test";
    }
    void TearDown() override { (void)!system(("rm -rf '" + g_local + "'").c_str()); }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Env);

TEST(FlashSetting, RoundTripsTextAndNumbersAndRecordsEachCall) {
    in_child(g_tmp, "roundtrip", [](const std::string &first) {
        // In folders that the first write makes.
        const std::string folder = first.substr(0, first.rfind('/')), path = folder + "/new/deeper/store.db";
        setenv("FLASH_SETTING_FILE", path.c_str(), 1);
        EXPECT_EQ(path, flash_setting_path());
        EXPECT_EQ(nullptr, get_var_mem("never_written"));
        const std::vector<std::pair<int, const char *>> numbers = {{0, "0"}, {-17, "-17"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
        for (const auto &n : numbers) EXPECT_EQ(0, write_var(n.second, &n.first, 1));
        const std::vector<std::pair<const char *, const char *>> texts = {{"tv_system", "PAL"}, {"empty", ""}, {"spaced", " a=b = c "}, {"tv_system", "NTSC"}};
        kvn_trace_clear();
        std::vector<std::string> recorded;
        for (const auto &t : texts) {
            recorded.push_back(std::string("flash write_var ") + t.first + "=" + t.second);
            EXPECT_EQ(0, write_var(t.first, t.second, 0));
        }
        EXPECT_EQ(0, save_commit());
        recorded.push_back("flash save_commit");
        EXPECT_EQ(recorded, trace());
        EXPECT_EQ(0, unlink(live().c_str()));  // a reboot: the committed file alone
        for (const auto &n : numbers) EXPECT_EQ(n.second, value_of(n.second));
        for (size_t i = 1; i < texts.size(); ++i) EXPECT_EQ(texts[i].second, value_of(texts[i].first));
        EXPECT_EQ(nullptr, get_var_mem("never_written"));
        struct stat st;
        for (const std::string &made : {folder + "/new", folder + "/new/deeper", path, path + ".lock"})
            EXPECT_TRUE(stat(made.c_str(), &st) == 0 && (st.st_mode & 07777) == (made.find(".db") != std::string::npos ? 0644u : 0755u)) << made;
        // A killed writer's temporaries are never read, and go at the next write.
        for (const std::string &t : {path + ".tmp", live() + ".tmp"})
            std::ofstream(t) << "kvn-flash-setting 1\ntv_system=junk\n";
        EXPECT_EQ("NTSC", value_of("tv_system"));
        EXPECT_EQ(0, write_var("after", "1", 0));
        for (const std::string &t : {path + ".tmp", live() + ".tmp"}) EXPECT_NE(0, access(t.c_str(), F_OK)) << t;
        // A live copy that others could have written is ignored, at every look, and nothing is left open.
        auto descriptors = [] { int n = 0; for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1; return n; };
        int open_before = descriptors();
        testing::internal::CaptureStderr();
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE((i == 1 && chown(live().c_str(), 1, 1) == 0) || chmod(live().c_str(), 0666) == 0);  // another's, or open to all
            struct timespec later[2] = {{0, UTIME_NOW}, {time(nullptr) + 5 + i, 0}};
            ASSERT_EQ(0, utimensat(AT_FDCWD, live().c_str(), later, 0));  // as another process's write would
            EXPECT_EQ("<null>", value_of("after"));
            ASSERT_TRUE(i > 0 || write_var("later", "1", 0) == 0);
        }
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("not written by the store's owner"));
        EXPECT_EQ(open_before, descriptors());
    });
}

TEST(FlashSetting, RefusesWhatTheFormatCannotHoldAndTouchesNothing) {
    in_child(g_tmp, "refuse", [](const std::string &path) {
        ASSERT_TRUE(write_var("lang", "english_lang", 0) == 0 && save_commit() == 0);
        std::string half(flash_setting::kMaxStoreBytes / 2, 'h'), too_big(flash_setting::kMaxStoreBytes, 'x');
        ASSERT_EQ(0, write_var("half", half.c_str(), 0));
        std::string before = slurp(path), live_before = slurp(live()), long_key = std::string(300, 'k') + "=";
        static const int n = 3;
        const struct { const char *key; const void *value; int kind; } bad[] = {
            {"bad\nkey", "x", 0}, {"bad\rkey", "x", 0}, {"a=b", "x", 0}, {"", "x", 0}, {nullptr, "x", 0},
            {"lang", "two\nlines", 0}, {"lang", "cr\r", 0}, {"lang", nullptr, 0}, {"lang", nullptr, 1}, {"lang", &n, 2}, {"lang", "x", -1},
            {"big", too_big.c_str(), 0}, {"other_half", half.c_str(), 0}, {long_key.c_str(), "x", 0}};  // more than readers take; not beside "half"
        kvn_trace_clear();
        testing::internal::CaptureStderr();
        for (const auto &b : bad) EXPECT_EQ(-1, write_var(b.key, b.value, b.kind)) << (b.key ? b.key : "null");
        std::string err = testing::internal::GetCapturedStderr();  // one line each, saying so
        EXPECT_TRUE(std::regex_match(err, std::regex("(flash_setting: write_var[^\n]*; nothing stored\n){14}"))) << err;
        EXPECT_TRUE(before == slurp(path) && live_before == slurp(live()) && value_of("lang") == "english_lang");
        std::vector<std::string> calls = trace();
        ASSERT_EQ(std::size(bad), calls.size());
        EXPECT_TRUE(calls[0] == "flash write_var bad\\nkey=x failed" && calls[1] == "flash write_var bad\\rkey=x failed") << calls[1];
        EXPECT_EQ("flash write_var big=" + std::string(200, 'x') + "... failed", calls[11]);
        EXPECT_EQ("flash write_var " + std::string(200, 'k') + "...=x failed", calls[13]);

        // A commit that cannot replace the file says so, in its result and the record.
        ASSERT_TRUE(unlink(path.c_str()) == 0 && mkdir(path.c_str(), 0755) == 0 && mkdir((path + "/in_the_way").c_str(), 0755) == 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, save_commit());
        EXPECT_EQ(0u, testing::internal::GetCapturedStderr().rfind("flash_setting: cannot rename onto " + path + ": ", 0));
        EXPECT_EQ("flash save_commit failed", trace().back());
    });
}

// Each damage is named once in one warning, and what still reads is kept.
TEST(FlashSetting, DamagedFilesKeepWhatStillReadsAndWarnOnce) {
    struct Case {  // kept "<null>": dropped; full: the kept entries fill a store, a write that adds is refused
        const char *what; std::string data; std::vector<std::pair<const char *, const char *>> kept; std::string warning; bool full = false;
    };
    const std::string h = "kvn-flash-setting 1\n", scan_limit_note = std::to_string(4 * flash_setting::kMaxStoreBytes);
    std::string over_long = h + "a=1\nbig=" + std::string(flash_setting::kMaxStoreBytes, 'x') + "\nz=2\n";
    // Exactly as much as a reader looks at: the last entry no longer fits.
    std::string overfull = h + "first=1\n";
    static const std::string v1k(1000, 'v');
    for (int i = 0; overfull.size() < (20u << 20); ++i) overfull += "k" + std::to_string(1000000 + i) + "=" + v1k + "\n";
    overfull += "zz_last=" + std::string(4 * flash_setting::kMaxStoreBytes - overfull.size() - 9, 'z') + "\n";
    const std::string beyond_scan = overfull + "more=1\n";
    const std::vector<Case> cases = {
        {"garbage lines", h + "a=1\nwhat is this\n=novalue\nb=2\n", {{"a", "1"}, {"b", "2"}}, "damaged: 2 damaged lines (first: line 3); keeping the 2 entries"},
        {"binary junk", h + "a=1\n\x01\x02\xff\xfe\x80\nb=2\n", {{"a", "1"}, {"b", "2"}}, "damaged: 1 damaged line (first: line 3); keeping the 2 entries"},
        {"NUL bytes", h + std::string("a=1\nn\0l=1\nm=x\0y\nb=2\n", 20),
         {{"a", "1"}, {"n", "<null>"}, {"m", "<null>"}, {"b", "2"}},
         "damaged: 2 damaged lines (first: line 3); keeping the 2 entries"},
        {"no marker, a first line as long as one", "abcdefghijklmnop=12\nb=2\n", {{"abcdefghijklmnop", "12"}, {"b", "2"}}, "damaged: no format marker on its first line; keeping the 2 entries"},
        {"cut last line", h + "a=1\nb=2", {{"a", "1"}, {"b", "<null>"}}, "damaged: 1 damaged line (first: line 3), the last line cut short; keeping the 1 entry "},
        {"DOS line ends", h + "a=1\r\nb=\r\n", {{"a", "1"}, {"b", ""}}, "damaged: 2 damaged lines (first: line 2); keeping the 2 entries"},
        {"repeated key", h + "a=1\nb=2\na=3\n", {{"a", "3"}, {"b", "2"}}, "damaged: 1 repeated key (first: line 4), the last one kept; keeping the 2 entries"},
        {"zero length", "", {{"a", "<null>"}}, "damaged: it is empty; keeping the 0 entries"},
        {"all NUL", std::string(100000, '\0'), {{"a", "<null>"}},
         "damaged: no format marker on its first line, 1 damaged line (first: line 1), the last line cut short; "
         "keeping the 0 entries"},
        {"a line longer than a store", over_long, {{"a", "1"}, {"big", "<null>"}, {"z", "2"}}, "damaged: 1 damaged line (first: line 3); keeping the 2 entries"},
        {"more than a store holds", overfull, {{"first", "1"}, {"k1000000", v1k.c_str()}, {"zz_last", "<null>"}},
         "entries beyond the 16777216 bytes a store holds; keeping the ", true},
        {"more than a reader looks at", beyond_scan, {{"first", "1"}, {"more", "<null>"}},
         std::to_string(beyond_scan.size()) + " bytes, of which only the first " + scan_limit_note + " are read", true},
        {"a FIFO", "fifo", {{"a", "<null>"}}, "not a regular file; read as missing"},
    };
    for (const Case &c : cases) {
        in_child(g_tmp, "damage", [&c](const std::string &path) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(c.data == "fifo" ? mkfifo(path.c_str(), 0644) == 0 : bool(std::ofstream(path, std::ios::binary) << c.data));
            testing::internal::CaptureStderr();
            for (int round = 0; round < 3; ++round)
                for (const auto &kv : c.kept) EXPECT_EQ(kv.second, value_of(kv.first)) << kv.first;
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_EQ(0u, err.rfind("flash_setting: warning: " + path + " is ", 0)) << err;
            EXPECT_EQ(err.size() - 1, err.find('\n')) << "one warning: " << err;
            EXPECT_NE(std::string::npos, err.find(c.warning)) << err;
            EXPECT_EQ(c.full, err.find("beyond") != std::string::npos) << "only a full store says so: " << err;
            EXPECT_EQ(c.warning.find(" are read") != std::string::npos, err.find(" are read") != std::string::npos) << err;
            // A write repairs the store and keeps what still read.
            const std::string added(100, 'n');
            testing::internal::CaptureStderr();
            ASSERT_TRUE(write_var("new", added.c_str(), 0) == (c.full ? -1 : 0) && save_commit() == 0);
            testing::internal::GetCapturedStderr();
            std::string data = slurp(path);
            flash_setting::ParseResult r = flash_setting::parse(data.data(), data.size());
            EXPECT_FALSE(r.damaged());
            for (const auto &kv : c.kept)
                EXPECT_EQ(kv.second, r.values.count(kv.first) ? r.values[kv.first] : "<null>") << kv.first;
            EXPECT_EQ(c.full ? "" : added, r.values["new"]);
        });
    }
}

TEST(FlashSetting, OtherProcessesSeeAWriteAtOnce) {
    // With the live copy in memory, and beside the store on a real disk, where inodes are reused at once.
    for (const char *run_dir : {(const char *)nullptr, ""}) {
        SCOPED_TRACE(run_dir ? "live copy beside the store" : "live copy in the run dir");
        in_child(g_local, "visible", [](const std::string &) {
            ASSERT_EQ(0, write_var("video_output", "5", 0));
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ("5", value_of("video_output"));  // cached now
                struct stat cached;
                ASSERT_EQ(0, stat(live().c_str(), &cached));
                pid_t pid = fork();
                if (pid == 0) {
                    // Two writes within one timestamp tick: the second file may get the cached one's inode, size and mtime.
                    int ok = write_var("video_output", "8", 0) == 0 && write_var("video_output", "9", 0) == 0;
                    struct timespec times[2] = {cached.st_mtim, cached.st_mtim};
                    utimensat(AT_FDCWD, live().c_str(), times, 0);
                    _exit(ok ? 0 : 1);
                }
                ASSERT_EQ(0, wait_for(pid));
                ASSERT_EQ("9", value_of("video_output")) << "round " << i;  // no commit in between
                ASSERT_EQ(0, write_var("video_output", "5", 0));
            }
        }, run_dir);
        // A store made anew in its place never meets the old one's live copy.
        in_child(g_local, "visible", [](const std::string &) { EXPECT_EQ("<null>", value_of("video_output")); }, run_dir);
    }
}

// An entry is kept while the store stays within its limit, to the byte; a repeated key gives back its old value's bytes.
TEST(FlashSetting, ParserKeepsEntriesUpToTheLimitToTheByte) {
    const struct { size_t limit; const char *body, *kept; } rows[] = {
        {28, "a=12345\n", "a=12345 "}, {27, "a=12345\n", ""}, {32, "a=12345\nb=1\n", "a=12345 b=1 "},
        {31, "a=12345\nb=1\n", "a=12345 "}, {28, "a=1\na=12345\n", "a=12345 "}};
    for (const auto &row : rows) {
        flash_setting::Parser parser(row.limit);
        std::string data = std::string("kvn-flash-setting 1\n") + row.body;  // a marker of 20 bytes
        parser.feed(data.data(), data.size());
        std::string kept;  // "key=value " each
        for (const auto &kv : parser.finish().values) kept += kv.first + "=" + kv.second + " ";
        EXPECT_EQ(row.kept, kept) << row.limit << " bytes for " << row.body;
    }
}

// The first writer names the live copy in the lock file, whatever a damaged lock file says: in the run dir
// under a random name, or beside the store when there is no run dir, or one that others could write in.
TEST(FlashSetting, TheLiveCopyLiesInTheRunDirOrBesideTheStore) {
    const std::string names = g_tmp + "/names";  // the random ones, from every child
    for (std::string run_dir : {"none", "", "/tmp/open-run", "/tmp/foreign-run"}) {
        // A user namespace maps no other user: there the foreign owner is not tried.
        if (run_dir[0] == '/' && (mkdir(run_dir.c_str(), 0755) != 0 || (run_dir == "/tmp/open-run"
                                  ? chmod(run_dir.c_str(), 0777) : chown(run_dir.c_str(), 1, 1)) != 0))
            continue;
        const bool beside = run_dir != "none";
        for (const std::string &lock : {std::string(), std::string("relative/x.live\n"), std::string("/no-line-end"),
                                        std::string("/nul\0x\n", 7)}) {
            in_child(g_tmp, "live", [&](const std::string &path) {
                std::ofstream(path + ".lock") << lock;
                pid_t writer = fork();  // this process learns the name from the lock file
                if (writer == 0) _exit(write_var("a", "1", 0) == 0 ? 0 : 1);
                ASSERT_EQ(0, wait_for(writer));
                std::string name = live(), expected = beside ? std::regex_replace(path, std::regex("[.]"), "[.]") + "[.]live"
                                              : "/run/kvn-flash-setting/[0-9a-f]{24}-store[.]db[.]live";
                EXPECT_TRUE(std::regex_match(name, std::regex(expected))) << name << " after a lock file of " << lock;
                EXPECT_EQ(flash_setting::serialise({{"a", "1"}}), slurp(name));
                if (!beside) std::ofstream(names, std::ios::app) << name.substr(23, 24);
            }, run_dir == "none" ? nullptr : run_dir.c_str());
        }
    }
    // A lock file that names a live copy in a folder others can write in is not followed: nothing is stored.
    in_child(g_tmp, "planted", [](const std::string &path) {
        std::ofstream(path + ".lock") << "/tmp/open-run/planted.live\n";
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, write_var("a", "1", 0));
        EXPECT_EQ("flash_setting: cannot keep the live copy in /tmp/open-run; nothing stored\n", testing::internal::GetCapturedStderr());
        EXPECT_FALSE(std::ifstream("/tmp/open-run/planted.live").good());
    });
    std::string hex = slurp(names), low_halves;
    for (size_t i = 1; i < hex.size(); i += 2) low_halves += hex[i];
    EXPECT_NE(std::string::npos, low_halves.find_first_of("13579bdf")) << "every byte's low half even: " << hex;
}

// Three processes and three threads write their own keys at once; a child forked while a thread holds a lock still writes.
TEST(FlashSetting, ConcurrentWritersOfDifferentKeysLoseNothing) {
    in_child(g_tmp, "concurrent", [](const std::string &) {
        const int kRounds = 100;
        auto writes = [](const std::string &who, bool check) {
            for (int i = 0; i < kRounds; ++i) {
                std::string key = who + "_" + std::to_string(i);
                if (write_var(key.c_str(), &i, 1) != 0 || (check && value_of(key.c_str()) != std::to_string(i)))
                    return false;
                if (i % 10 == 0 && save_commit() != 0) return false;
            }
            return true;
        };
        std::vector<std::thread> threads;
        std::vector<pid_t> children;
        auto spawn = [&] { for (const char *who : {"p0", "p1", "p2"}) if (children.push_back(fork()), children.back() == 0) _exit(writes(who, false) ? 0 : 1); };
        if (kAsan) spawn();
        for (const char *who : {"t0", "t1", "t2"}) threads.emplace_back([&, who] { EXPECT_TRUE(writes(who, true)) << who; });
        if (!kAsan) spawn();
        for (auto &th : threads) th.join();
        for (pid_t pid : children) EXPECT_EQ(0, wait_for(pid));
        for (const char *who : {"p0", "p1", "p2", "t0", "t1", "t2"})
            for (int i = 0; i < kRounds; ++i)
                EXPECT_EQ(std::to_string(i), value_of((std::string(who) + "_" + std::to_string(i)).c_str())) << who << i;
    });
}

TEST(FlashSetting, ReadersNeverWaitForAnotherProcesssWriter) {
    in_child(g_tmp, "nowait", [](const std::string &path) {
        ASSERT_EQ(0, write_var("video_output", "5", 0));
        int locked[2], release[2];
        ASSERT_TRUE(pipe(locked) == 0 && pipe(release) == 0);
        pid_t holder = fork();
        if (holder == 0) {  // another process's writer, slow to commit
            int fd = open((path + ".lock").c_str(), O_RDWR);
            char c = flock(fd, LOCK_EX) == 0 ? 'L' : 'E';
            _exit(write(locked[1], &c, 1) != 1 || read(release[0], &c, 1) < 0);
        }
        char c = 0;
        ASSERT_TRUE(read(locked[0], &c, 1) == 1 && c == 'L');
        std::atomic<bool> written{false};
        std::thread writer([&] { EXPECT_EQ(0, write_var("video_output", "8", 0)); written = true; });
        usleep(300000);  // the writer is at the lock by now (on a slow day this test proves less)
        auto read_now = std::async(std::launch::async, [] { return value_of("video_output"); });
        bool answered = read_now.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        EXPECT_TRUE(answered && !written) << "a reader waited for another process's writer, or the writer not for the lock";
        // A signal that interrupts the wait does not end it.
        struct sigaction interrupt = {};  // no SA_RESTART: the wait returns EINTR
        interrupt.sa_handler = [](int) {};
        sigaction(SIGUSR1, &interrupt, nullptr);
        pthread_kill(writer.native_handle(), SIGUSR1);
        usleep(50000);
        EXPECT_FALSE(written) << "the writer gave up its wait";
        ASSERT_EQ(1, write(release[1], "x", 1));
        writer.join();
        EXPECT_EQ(answered ? "5" : "", answered ? read_now.get() : "");
        EXPECT_TRUE(wait_for(holder) == 0 && value_of("video_output") == "8");
    });
}

}  // namespace
