// The settings store holds the user's choices: every process agrees on every value whatever is
// removed or planted beside the store, what is not the store is refused and left alone, and a
// writer killed at any point leaves a store that every process reads.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
    const char *what = getenv("KVN_STORE_DO");
    if (what == nullptr) return 0;
    if (const char *is = strchr(what, '='))
        _exit(write_var(std::string(what, is).c_str(), is + 1, 0) == 0 && save_commit() == 0 ? 0
                                                                                             : 1);
    char *value = get_var_mem(what);
    _exit(printf("%s", value ? value : "<null>") < 0 || fflush(stdout) != 0);
}();

// This test program, for a shell to start again. Under qemu-user this process's executable is the
// emulator, which answers readlink with the program it runs: that goes after the emulator's words.
std::string self() {
    char path[4096] = {};
    if (const char *emulator = getenv("KVN_EMULATOR");
        emulator != nullptr && readlink("/proc/self/exe", path, sizeof path - 1) > 0)
        return emulator + std::string(" ") + path;
    return "/proc/" + std::to_string(getpid()) + "/exe";
}

std::string program(const std::string &what) {  // what it printed, or "exit " when it failed
    std::string out = "exit ";
    FILE *p = popen(("KVN_STORE_DO='" + what + "' " + self()).c_str(), "r");
    for (int c; p != nullptr && (c = fgetc(p)) != EOF;) out += char(c);
    return p != nullptr && pclose(p) == 0 ? out.substr(5) : out;
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

std::string slurp(const std::string &path) {  // never blocks on a FIFO
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "<not a file>";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    return names;
}

// Runs a shell command with the path as $S and the tests' folder as $R.
int shell(const std::string &command, const std::string &path = "") {
    setenv("S", path.c_str(), 1), setenv("R", g_root.c_str(), 1);
    return system(command.c_str());
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

TEST(FlashSetting, RoundTripsTextAndNumbers) {
    in_child("roundtrip", [](const std::string &first) {
        const std::string folder = first.substr(0, first.rfind('/')),
                          path = folder + "/new/deeper/store.db";
        setenv("FLASH_SETTING_FILE", path.c_str(), 1);  // in folders that the first write makes
        EXPECT_EQ(path, flash_setting_path());
        EXPECT_TRUE(get_var_mem("never_written") == nullptr && save_commit() == 0 &&
                    entries(folder).empty())
            << "a read or a commit made the store";
        const std::pair<int, const char *> numbers[] = {
            {0, "0"}, {-17, "-17"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
        for (const auto &n : numbers) EXPECT_EQ(0, write_var(n.second, &n.first, 1));
        EXPECT_TRUE(write_var("tv_system", "PAL", 0) == 0 && write_var("empty", "", 0) == 0 &&
                    write_var("lines", "two\nlines\r", 0) == 0 &&
                    write_var("tv_system", "NTSC", 0) == 0 && save_commit() == 0);
        // Another program reads them; a key never written has no value, not an empty one.
        for (const auto &n : numbers) EXPECT_EQ(n.second, program(n.second));
        for (const char *kv :
             {"tv_system=NTSC", "empty=", "lines=two\nlines\r", "never_written=<null>"})
            EXPECT_EQ(strchr(kv, '=') + 1, program(std::string(kv, strchr(kv, '='))));
    });
}

// Keys and values total 16 MiB at most: a key written again gives back its old value's bytes.
TEST(FlashSetting, RefusesWhatItCannotStore) {
    in_child("refuse", [](const std::string &) {
        ASSERT_TRUE(write_var("lang", "english_lang", 0) == 0 && save_commit() == 0);  // 16 bytes
        const size_t half = 8u << 20;
        const std::string big(half - 4, 'h'), fits(half - 20, 'f'), over(half - 19, 'o'),
            too_big(2 * half, 'x');
        ASSERT_EQ(0, write_var("half", big.c_str(), 0));  // 8 MiB + 16 bytes now
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
        for (const auto &b : bad)
            EXPECT_EQ(-1, write_var(b.key, b.value, b.kind)) << (b.key ? b.key : "null");
        const std::string err = testing::internal::GetCapturedStderr();  // one line each, saying so
        size_t said = 0;
        for (size_t at = 0; (at = err.find("; nothing stored\n", at)) != std::string::npos; ++at)
            ++said;
        EXPECT_TRUE(said == std::size(bad) &&
                    size_t(std::count(err.begin(), err.end(), '\n')) == said &&
                    err.rfind("flash_setting: write_var", 0) == 0)
            << err;
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

// A link, a FIFO, a folder or a file that is not this store's database at the store's path: every
// call fails with a message, and the thing is neither followed nor changed.
TEST(FlashSetting, RefusesAnythingButItsOwnDatabase) {
    // Beside the tests' folders: a store, another program's database, and a store with a page
    // zeroed.
    sqlite3 *foreign = nullptr;
    ASSERT_EQ(0, shell("mkdir -p $R"));
    setenv("FLASH_SETTING_FILE", (g_root + "/store.db").c_str(), 1);
    ASSERT_TRUE(program("lang=english_lang").empty() &&
                sqlite3_open((g_root + "/foreign.db").c_str(), &foreign) == SQLITE_OK &&
                sqlite3_exec(foreign, "CREATE TABLE settings (key, value)", nullptr, nullptr,
                             nullptr) == SQLITE_OK &&
                sqlite3_close(foreign) == SQLITE_OK);
    ASSERT_EQ(0, shell("cd $R && cp store.db damaged.db && dd if=/dev/zero of=damaged.db bs=4096 "
                       "seek=1 count=1 conv=notrunc status=none"));
    unsetenv("FLASH_SETTING_FILE");
    const struct {
        const char *what, *make, *message;
        int commit;
    } cases[] = {
        {"a link to a store", "ln -s $R/store.db $S", "is a link, not a database: refused", -1},
        {"a link to nowhere", "ln -s missing/store.db $S", "is a link", -1},
        {"a FIFO", "mkfifo $S", "is a FIFO", -1},
        {"a folder", "mkdir $S", "is a folder", -1},
        {"a socket", "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ENV{S})'",
         "is a special file", -1},
        {"a text file", "printf 'kvn-flash-setting 1\\nlang=x\\n' >$S",
         "is not a database: refused", -1},
        {"another program's database", "cp $R/foreign.db $S",
         "is a database of another program: refused", -1},
        {"a damaged store", "cp $R/damaged.db $S", "is damaged", 0},  // nothing to commit
    };
    for (const auto &c : cases) {
        in_child("refused", [&](const std::string &path) {
            SCOPED_TRACE(c.what);
            ASSERT_EQ(0, shell(c.make, path));
            auto snapshot = [&] {
                struct stat st = {};
                char target[256] = {};
                lstat(path.c_str(), &st), (void)!readlink(path.c_str(), target, sizeof target - 1);
                return std::to_string(st.st_mode) + target + slurp(path) +
                       slurp(g_root + "/store.db");
            };
            const std::string before = snapshot();
            testing::internal::CaptureStderr();
            EXPECT_EQ(nullptr, get_var_mem("lang"));
            EXPECT_EQ(-1, write_var("lang", "chinese_lang", 0));
            EXPECT_EQ(c.commit, save_commit());
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(std::string::npos, err.find(path + " " + c.message)) << err;
            EXPECT_EQ(before, snapshot());
            // Nothing made beside it or through it, but the working files of a damaged store of its
            // own.
            EXPECT_EQ(c.commit == 0 ? 3u : 1u, entries(g_root + "/refused").size());
        });
    }
}

// A cleaner that removes the store's files, or a neighbour who puts a link, a FIFO, a folder or a
// file of theirs in one's place: committed values stay, processes running and new ones agree on
// every write, nothing is written through a link or into what was planted, and what was planted is
// kept.
TEST(FlashSetting, EveryProcessAgreesWhateverIsRemovedOrPlantedBesideIt) {
    in_child("neighbours", [](const std::string &path) {
        ASSERT_EQ(0, shell("echo theirs >$R/target"));
        // A writer of the store put back in rollback mode, ended with its journal hot and its
        // change spilled into the database: the change is rolled back.
        ASSERT_EQ("", program("tv_system=PAL"));
        const pid_t writer = fork();
        if (writer == 0) {
            sqlite3 *db = nullptr;
            sqlite3_open(path.c_str(), &db);
            _exit(sqlite3_exec(
                db,
                "PRAGMA journal_mode=DELETE; PRAGMA cache_size=2; BEGIN; "
                "UPDATE settings SET value = 'NTSC'; CREATE TABLE t AS SELECT hex(zeroblob(1e5))",
                nullptr, nullptr, nullptr));
        }
        ASSERT_TRUE(wait_for(writer) == 0 && access((path + "-journal").c_str(), F_OK) == 0);
        EXPECT_EQ("PAL", value_of("tv_system"));
        ASSERT_EQ(0, write_var("lang", "english_lang", 0));
        // Another process's call in flight holds the folder shared: a call goes on beside it.
        const int folder = open((g_root + "/neighbours").c_str(), O_RDONLY | O_DIRECTORY);
        EXPECT_TRUE(flock(folder, LOCK_SH) == 0 && save_commit() == 0);
        close(folder);
        // A cleaner puts a copy in the database's place while each write is in flight: the first
        // write opens the store anew, the second, on the files it kept, is not acknowledged.
        static int (*const replace)(void *) = [](void *) {
            return shell("cp $S $S.copy && mv $S.copy $S", getenv("FLASH_SETTING_FILE"));
        };
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(+[](sqlite3 *db, char **, void *) {
            return sqlite3_commit_hook(db, replace, nullptr), 0;
        }));
        ASSERT_EQ(0, replace(nullptr));
        EXPECT_TRUE(write_var("lang", "english_lang", 0) == 0 && write_var("lang", "x", 0) == -1);
        sqlite3_reset_auto_extension();
        std::vector<std::string>
            names;  // every file the store keeps beside itself, and its rollback journal
        for (const std::string &name : entries(g_root + "/neighbours"))
            if (name != path) names.push_back(name);
        names.push_back(path + "-journal");
        const struct {
            const char *what, *make;
        } plants[] = {
            {"removed", "true"},
            {"a file naming another", "echo $R/target >$S"},
            {"a link to a file", "ln -s $R/target $S"},
            {"a link into a missing folder", "ln -s $R/missing/x $S"},
            {"a FIFO", "mkfifo $S"},
            {"a folder", "mkdir $S && echo kept >$S/inner"},
            {"another file's second name", "ln $R/target $S"},
            {"another user's file",
             "echo junk >$S && chown 1:1 $S 2>/dev/null"}};  // a user namespace maps no other user
        const size_t open_before = entries("/proc/self/fd").size();
        int round = 0;
        for (const std::string &name : names) {
            for (const auto &plant : plants) {
                SCOPED_TRACE(name + ": " + plant.what);
                if (shell(std::string("rm -rf $S && ") + plant.make, name) != 0) {
                    EXPECT_EQ(std::string("another user's file"), plant.what) << "not planted";
                    continue;
                }
                const std::string lang = "lang-" + std::to_string(++round);
                EXPECT_EQ("", program("lang=" + lang));
                EXPECT_EQ(lang,
                          value_of("lang"));  // this process kept its connection and the index
                ASSERT_EQ(0, write_var("video_output", &round, 1));
                EXPECT_EQ(std::to_string(round) + lang + "PAL",
                          program("video_output") + program("lang") + program("tv_system"));
                EXPECT_TRUE(slurp(g_root + "/target") == "theirs\n" &&
                            access((g_root + "/missing").c_str(), F_OK) != 0);
            }
        }
        EXPECT_EQ(0, shell("test \"$(cat $S/*/inner)\" = \"$(printf 'kept\\nkept\\nkept')\"",
                           g_root + "/neighbours"));
        EXPECT_EQ(open_before, entries("/proc/self/fd").size()) << "connections left open";
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
