// The settings store holds the user's choices: every process agrees on every value, what is not
// the store is refused and left alone, no write is acknowledged and lost, and a writer killed at
// any point leaves a store that every process reads.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "flash_setting.h"
#include "kvn_trace.h"

namespace {

const std::string g_root = "/tmp/flash-setting-test";

// Run as another program of the player, started afresh: KVN_STORE_DO="KEY=VALUE" writes and commits
// (exit status 0 when both succeeded), "KEY" prints the value.
const int g_program = [] {
    const char *what = getenv("KVN_STORE_DO"), *is = what ? strchr(what, '=') : nullptr;
    if (is != nullptr)
        _exit(write_var(std::string(what, is).c_str(), is + 1, 0) || save_commit() ? 1 : 0);
    char *value = what ? get_var_mem(what) : nullptr;
    if (what != nullptr) _exit(printf("%s", value ? value : "<null>") < 0 || fflush(stdout) != 0);
    return 0;
}();

// What the program printed, or "exit " when it failed. Under qemu-user this process's executable is
// the emulator, which answers readlink with the program it runs: that goes after the emulator.
std::string program(const std::string &what) {
    char path[4096] = {};
    const char *emulator = getenv("KVN_EMULATOR");
    std::string self = emulator != nullptr && readlink("/proc/self/exe", path, sizeof path - 1) > 0
                           ? emulator + std::string(" ") + path
                           : "/proc/" + std::to_string(getpid()) + "/exe",
                out = "exit ";
    FILE *p = popen(("KVN_STORE_DO='" + what + "' " + self).c_str(), "r");
    for (int c; p != nullptr && (c = fgetc(p)) != EOF;) out += char(c);
    return p != nullptr && pclose(p) == 0 ? out.substr(5) : out;
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

// Runs a shell command with the path as $S and the tests' folder as $R.
int shell(const std::string &command, const std::string &path = "") {
    setenv("S", path.c_str(), 1), setenv("R", g_root.c_str(), 1);
    return system(command.c_str());
}

std::string slurp(const std::string &path) {  // never blocks on a FIFO
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "<not a file>";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int wait_for(pid_t pid, int status = 0) {
    return waitpid(pid, &status, 0),
           WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The library reads the store path once per process, so each test runs in a child of its own with a
// fresh store g_root/name/store.db; a child that hangs is ended by SIGALRM.
void in_child(const char *name, const std::function<void(const std::string &)> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(getenv("KVN_EMULATOR") ? 280 : 120);  // under qemu-user a program started takes 0.2 s
        std::string dir = g_root + "/" + name;
        if (shell("rm -rf $S && mkdir -p $S", dir) != 0) _exit(1);
        setenv("FLASH_SETTING_FILE", (dir + "/store.db").c_str(), 1);
        body(dir + "/store.db");
        _exit(fflush(stdout) || ::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(0, wait_for(pid)) << "the test's child failed";
}

// Every other program reads the values back, from files that no user but the owner and the group
// that reads settings may open: another could hold a read lock on the -shm and stall every write.
TEST(FlashSetting, RoundTripsTextAndNumbersInFilesOnlyItsGroupOpens) {
    in_child("roundtrip", [](const std::string &first) {
        const std::string folder = first.substr(0, first.rfind('/')) + "/new/deeper";
        setenv("FLASH_SETTING_FILE", (folder + "/store.db").c_str(), 1);  // made by the first write
        EXPECT_EQ(folder + "/store.db", flash_setting_path());
        EXPECT_TRUE(get_var_mem("never_written") == nullptr && save_commit() == 0 &&
                    access(folder.c_str(), F_OK) != 0)
            << "a read or a commit made the store";
        const std::pair<int, const char *> numbers[] = {
            {0, "0"}, {-17, "-17"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
        umask(022);
        for (const auto &n : numbers) EXPECT_EQ(0, write_var(n.second, &n.first, 1));
        EXPECT_TRUE(write_var("tv_system", "PAL", 0) == 0 && write_var("empty", "", 0) == 0 &&
                    write_var("lines", "two\nlines\r", 0) == 0 &&
                    write_var("tv_system", "NTSC", 0) == 0 && save_commit() == 0);
        // A key never written has no value, not an empty one.
        for (const auto &n : numbers) EXPECT_EQ(n.second, program(n.second));
        // What this process read is read anew once another has changed it.
        for (const char *system : {"NTSC", "PAL", "NTSC", "PAL"})
            EXPECT_TRUE(value_of("tv_system") == system &&
                        program(std::string("tv_system=") + (*system == 'P' ? "NTSC" : "PAL")) ==
                            "");
        for (const char *kv :
             {"tv_system=NTSC", "empty=", "lines=two\nlines\r", "never_written=<null>"})
            EXPECT_EQ(strchr(kv, '=') + 1, program(std::string(kv, strchr(kv, '='))));
        for (const char *name : {"", "/store.db", "/store.db-wal", "/store.db-shm"}) {
            struct stat st = {};
            EXPECT_EQ(*name ? 0640 : 0750,
                      stat((folder + name).c_str(), &st) ? -1 : int(st.st_mode & 0777))
                << folder + name;
        }
    });
}

// Refused with -1, one line of message and a failed record each: bad arguments, and keys and values
// over 16 MiB in all (a key written again gives back its old value's bytes). The store keeps what
// it had.
TEST(FlashSetting, RefusesWhatItCannotStore) {
    in_child("refuse", [](const std::string &) {
        const size_t half = 8u << 20;
        const std::string big(half - 4, 'h'), fits(half - 20, 'f'), over(half - 19, 'o'),
            too_big(2 * half, 'x');
        ASSERT_TRUE(write_var("lang", "english_lang", 0) == 0 &&  // 16 bytes
                    write_var("half", big.c_str(), 0) == 0);      // 8 MiB + 16 bytes now
        static const int n = 3;
        const struct {
            const char *key;
            const void *value;
            int kind;
        } bad[] = {{nullptr, "x", 0},        {"", "x", 0},    {"lang", nullptr, 0},
                   {"lang", nullptr, 1},     {"lang", &n, 2}, {"big", too_big.c_str(), 0},
                   {"more", over.c_str(), 0}};
        kvn_trace_clear();
        testing::internal::CaptureStderr();
        for (const auto &b : bad) EXPECT_EQ(-1, write_var(b.key, b.value, b.kind));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::size(bad), size_t(std::count(err.begin(), err.end(), '\n'))) << err;
        char line[512];
        EXPECT_TRUE(kvn_trace_get(2, line, sizeof line) >= 0 &&
                    std::string(line) == "flash write_var lang=(null) failed")
            << line;
        EXPECT_TRUE(kvn_trace_get(5, line, sizeof line) >= 0 &&
                    line == "flash write_var big=" + std::string(200, 'x') + "... failed");
        EXPECT_TRUE(value_of("lang") == "english_lang" && value_of("more") == "<null>");
        EXPECT_EQ(0, write_var("more", fits.c_str(), 0)) << "exactly 16 MiB";
        EXPECT_EQ(-1, write_var("x", "", 0));
        EXPECT_TRUE(write_var("half", "short", 0) == 0 && write_var("x", "", 0) == 0);
    });
}

// A link, a FIFO, a folder or a file that is not this store's database at the store's path, or
// what SQLite would wait on beside it: every call fails with a message naming it, and nothing is
// followed, changed or made but SQLite's working files beside a damaged store of its own.
TEST(FlashSetting, RefusesAnythingButItsOwnDatabase) {
    sqlite3 *foreign = nullptr;
    ASSERT_EQ(0, shell("mkdir -p $R"));
    setenv("FLASH_SETTING_FILE", (g_root + "/store.db").c_str(), 1);
    ASSERT_TRUE(program("lang=english_lang").empty() &&
                sqlite3_open((g_root + "/foreign.db").c_str(), &foreign) == SQLITE_OK &&
                sqlite3_exec(foreign, "CREATE TABLE settings (key, value)", nullptr, nullptr,
                             nullptr) == SQLITE_OK &&
                sqlite3_close(foreign) == SQLITE_OK);
    ASSERT_EQ(0, shell("cd $R && cp store.db damaged.db && dd if=/dev/zero of=damaged.db bs=4096 "
                       "seek=1 count=1 conv=notrunc status=none"));  // a page zeroed
    unsetenv("FLASH_SETTING_FILE");
    const struct {
        const char *what, *make, *message;
        int commit, made;  // what save_commit answers, the files SQLite makes beside it
    } cases[] = {
        {"a link to a store", "ln -s $R/store.db $S", " is not a regular file: refused", -1, 0},
        {"a link to nowhere", "ln -s missing/store.db $S", " is not a regular file", -1, 0},
        {"a FIFO", "mkfifo $S", " is not a regular file", -1, 0},
        {"a folder", "mkdir $S", " is not a regular file", -1, 0},
        {"a socket", "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ENV{S})'",
         " is not a regular file", -1, 0},
        {"a FIFO beside a store", "cp $R/store.db $S && mkfifo $S-journal",
         "-journal is not a regular file", -1, 0},
        {"a text file", "printf 'kvn-flash-setting 1\\nlang=x\\n' >$S", ": file is not a database",
         -1, 0},
        {"another program's database", "cp $R/foreign.db $S",
         " is a database of another program: refused", -1, 0},
        {"a damaged store", "cp $R/damaged.db $S", ": database disk image is malformed", 0, 2},
    };
    for (const auto &c : cases) {
        in_child("refused", [&](const std::string &path) {
            SCOPED_TRACE(c.what);
            ASSERT_EQ(0, shell(c.make, path));
            auto snapshot = [&](int made) {
                struct stat st = {};
                char target[256] = {};
                lstat(path.c_str(), &st), (void)!readlink(path.c_str(), target, sizeof target - 1);
                return std::to_string(st.st_mode) + target + slurp(path) +
                       slurp(g_root + "/store.db") +
                       std::to_string(
                           std::distance(std::filesystem::directory_iterator(g_root + "/refused"),
                                         {}) -
                           made);
            };
            const std::string before = snapshot(0);
            kvn_trace_clear();
            testing::internal::CaptureStderr();
            EXPECT_EQ(nullptr, get_var_mem("lang"));
            EXPECT_EQ(-1, write_var("lang", "chinese_lang", 0));
            EXPECT_EQ(c.commit, save_commit());
            const std::string err = testing::internal::GetCapturedStderr();
            size_t said = 0;  // by the read and the write at least
            for (size_t at = 0; (at = err.find(path + c.message, at)) != std::string::npos; ++at)
                ++said;
            char line[64];
            EXPECT_TRUE(said >= 2 && kvn_trace_get(1, line, sizeof line) >= 0 &&
                        line == std::string("flash save_commit") + (c.commit ? " failed" : ""))
                << err;
            EXPECT_EQ(before, snapshot(c.made));
        });
    }
}

// A cleaner puts a copy in the database's place during a fresh process's first write: the write is
// done again in the new database, and committed there (in the old one it would be acknowledged and
// lost). Replaced under every attempt, it is not acknowledged.
TEST(FlashSetting, AWriteIntoReplacedFilesIsDoneAgainNeverLost) {
    in_child("replaced", [](const std::string &) {
        ASSERT_EQ("", program("lang=english_lang"));
        static int replacements = 1;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(+[](sqlite3 *db, char **, void *) {
            static int (*const replace)(void *) = [](void *) {
                if (replacements-- > 0)
                    shell("cp $S $S.copy && mv $S.copy $S", getenv("FLASH_SETTING_FILE"));
                return 0;
            };
            return sqlite3_commit_hook(db, replace, nullptr), 0;
        }));
        EXPECT_EQ(0, write_var("lang", "chinese_lang", 0));
        EXPECT_EQ(0, save_commit());
        EXPECT_EQ("chinese_lang", program("lang"));
        replacements = 100;
        EXPECT_EQ(-1, write_var("tv_system", "PAL", 0));
        sqlite3_reset_auto_extension();
    });
}

// Three processes and three threads write their own keys at once; a child forked while a thread is
// inside the store still writes.
TEST(FlashSetting, ConcurrentWritersOfDifferentKeysLoseNothing) {
    in_child("concurrent", [](const std::string &) {
        auto writes = [](const std::string &who, bool check) {
            for (int i = 0; i < 100; ++i) {
                std::string key = who + std::to_string(i);
                if (write_var(key.c_str(), &i, 1) != 0 ||
                    (check && value_of(key.c_str()) != std::to_string(i)) ||
                    (i % 10 == 0 && save_commit() != 0))
                    return false;
            }
            return true;
        };
        // AddressSanitizer's allocator is not ready for a fork while another thread allocates.
        const bool asan = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;
        std::vector<std::thread> threads;
        std::vector<pid_t> children;
        auto spawn = [&] {
            for (const char *who : {"p0_", "p1_", "p2_"})
                if (children.push_back(fork()), children.back() == 0)
                    _exit(writes(who, false) ? 0 : 1);
        };
        if (asan) spawn();
        for (const char *who : {"t0_", "t1_", "t2_"})
            threads.emplace_back([&, who] { EXPECT_TRUE(writes(who, true)) << who; });
        if (!asan) spawn();
        for (auto &th : threads) th.join();
        for (pid_t pid : children) EXPECT_EQ(0, wait_for(pid));
        for (const char *who : {"p0_", "p1_", "p2_", "t0_", "t1_", "t2_"})
            for (int i = 0; i < 100; ++i)
                EXPECT_EQ(std::to_string(i), value_of((who + std::to_string(i)).c_str()))
                    << who << i;
    });
}

// A writer killed at any point of a write or a commit (KVN_STORE_SEED replays a run): every process
// then reads the store without a complaint, each key holding its last acknowledged value or the one
// in flight.
TEST(FlashSetting, WritersKilledAtRandomPointsLeaveAStoreEveryProcessReads) {
    in_child("killed", [](const std::string &) {
        const unsigned seed =
            getenv("KVN_STORE_SEED") ? unsigned(atoi(getenv("KVN_STORE_SEED"))) : 1;
        SCOPED_TRACE("KVN_STORE_SEED=" + std::to_string(seed));
        std::mt19937 random(seed);
        const std::string padding(50000, 'p');  // long writes, for kills inside them
        int acknowledged = 0;
        for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
            int acks[2];
            ASSERT_EQ(0, pipe(acks));
            pid_t writer = fork();
            for (int i = acknowledged + 1; writer == 0; ++i)  // the writer, until it is killed
                if (write_var("padding", (padding + std::to_string(i)).c_str(), 0) != 0 ||
                    write_var("n", &i, 1) != 0 || (i % 3 == 0 && save_commit() != 0) ||
                    write(acks[1], &i, sizeof i) != sizeof i)
                    _exit(1);
            close(acks[1]);
            // Odd rounds from the writer's first acknowledgement, even ones from its start (opening
            // the store).
            ASSERT_TRUE(round % 2 == 0 ||
                        read(acks[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged);
            usleep(random() % 30000);
            kill(writer, SIGKILL);
            ASSERT_EQ(128 + SIGKILL, wait_for(writer));
            for (int i; read(acks[0], &i, sizeof i) == sizeof i;) acknowledged = i;
            close(acks[0]);
            testing::internal::CaptureStderr();
            const std::string padded_value = program("padding");
            const int n = atoi(program("n").c_str()),
                      padded = padded_value.rfind(padding, 0) == 0
                                   ? atoi(padded_value.c_str() + padding.size())
                                   : 0;
            EXPECT_TRUE(n >= acknowledged && n <= acknowledged + 1 && padded >= n &&
                        padded <= acknowledged + 1)  // padding first
                << "round " << round << ": n " << n << ", padding " << padded << ", "
                << acknowledged << " acknowledged";
            EXPECT_EQ("", testing::internal::GetCapturedStderr());
        }
        EXPECT_GE(acknowledged, 20);
    });
}

}  // namespace
