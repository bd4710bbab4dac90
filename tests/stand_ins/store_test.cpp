// The settings store holds the user's choices: every process agrees on every value, what is not
// the store is refused and left alone, no write is acknowledged and lost, and a writer killed at
// any point leaves a store that every process reads.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <atomic>
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

// The output of a shell command run with the path as $S and the tests' folder as $R, after
// "failed: " when it failed.
std::string run(const std::string &command, const std::string &path = "") {
    setenv("S", path.c_str(), 1);
    setenv("R", g_root.c_str(), 1);
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    for (int c; p != nullptr && (c = fgetc(p)) != EOF;) out += char(c);
    return p != nullptr && pclose(p) == 0 ? out : "failed: " + out;
}

// This test program run afresh with KVN_STORE_DO=what (under qemu-user through the emulator, which
// answers readlink with the program it runs).
std::string program(const std::string &what) {
    char self[4096] = {};
    const char *emulator = getenv("KVN_EMULATOR");
    EXPECT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    return run("KVN_STORE_DO='" + what + "' " + (emulator ? emulator : "") + " " + self);
}

std::string value_of(const std::string &key) {
    char *v = get_var_mem(key.c_str());
    std::string s = v ? v : "<null>";
    free(v);
    return s;
}

int wait_for(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The library reads the store path once per process, so each test runs in a child of its own with a
// fresh store g_root/name/store.db; a child that hangs is ended by SIGALRM.
void in_child(const char *name, const std::function<void(const std::string &)> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(getenv("KVN_EMULATOR") ? 280 : 120);  // under qemu-user a program started takes 0.2 s
        const std::string dir = g_root + "/" + name;
        if (run("rm -rf $S && mkdir -p $S", dir) != "") _exit(1);
        setenv("FLASH_SETTING_FILE", (dir + "/store.db").c_str(), 1);
        body(dir + "/store.db");
        _exit(fflush(stdout) || ::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(0, wait_for(pid)) << "the test's child failed";
}

// Every other program reads each write at once (a transaction each), the database file holds it
// from the commit on (a checkpoint), and only the owner and the group that reads settings open the
// files: another user could hold a read lock on the -shm and stall every write. Keys and values
// are 16 MiB at most in all (a key written again gives back its old value's bytes); each refusal
// is -1, a line of message and a failed record, and the store keeps what it had.
TEST(FlashSetting, EveryProcessReadsEachWriteUpTo16MiBInFilesOnlyItsGroupOpens) {
    in_child("roundtrip", [](const std::string &first) {
        const std::string folder = first.substr(0, first.rfind('/')) + "/new/deeper";
        setenv("FLASH_SETTING_FILE", (folder + "/store.db").c_str(), 1);  // made by the first write
        EXPECT_EQ("<null>", value_of("never_written")) << "no value, not an empty one";
        EXPECT_EQ(0, save_commit());
        EXPECT_EQ("failed: ", run("ls $S", folder)) << "a read or a commit made the store";
        umask(022);
        const std::pair<int, const char *> numbers[] = {
            {0, "0"}, {-17, "-17"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
        for (const auto &n : numbers) EXPECT_EQ(0, write_var(n.second, &n.first, 1));
        EXPECT_EQ(0, write_var("tv_system", "PAL", 0));
        EXPECT_EQ(0, write_var("empty", "", 0));
        EXPECT_EQ(0, write_var("lines", "two\nlines\r", 0));
        EXPECT_EQ(0, write_var("tv_system", "NTSC", 0));
        EXPECT_EQ("failed: ", run("grep -q NTSC $S/store.db", folder)) << "no commit yet";
        for (const auto &n : numbers) EXPECT_EQ(n.second, program(n.second));
        for (const char *kv : {"tv_system=NTSC", "empty=", "lines=two\nlines\r", "nothing=<null>"})
            EXPECT_EQ(strchr(kv, '=') + 1, program(std::string(kv, strchr(kv, '='))));
        EXPECT_EQ(0, save_commit());
        EXPECT_EQ("", run("grep -q NTSC $S/store.db", folder)) << "checkpointed";
        // What this process read is read anew once another has changed it.
        for (const char *system : {"NTSC", "PAL", "NTSC", "PAL"}) {
            EXPECT_EQ(system, value_of("tv_system"));
            EXPECT_EQ("", program(std::string("tv_system=") + (*system == 'P' ? "NTSC" : "PAL")));
        }
        EXPECT_EQ("750 640 640 640\n",
                  run("cd $S && stat -c %a . store.db* | paste -sd' '", folder));
    });
    in_child("limit", [](const std::string &) {
        const size_t half = 8u << 20;
        ASSERT_EQ(0, write_var("lang", "english_lang", 0));                      // 16 bytes
        ASSERT_EQ(0, write_var("half", std::string(half - 4, 'h').c_str(), 0));  // 8 MiB + 16
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, write_var("more", std::string(half - 19, 'o').c_str(), 0));
        EXPECT_EQ(-1, write_var(nullptr, "x", 0));
        EXPECT_EQ(-1, write_var("lang", nullptr, 1));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(3, std::count(err.begin(), err.end(), '\n')) << err;
        char line[512] = {};
        kvn_trace_get(2, line, sizeof line);
        EXPECT_EQ("flash write_var more=" + std::string(200, 'o') + "... failed", line);
        EXPECT_EQ("english_lang", value_of("lang"));
        EXPECT_EQ(0, write_var("more", std::string(half - 20, 'f').c_str(), 0)) << "exactly 16 MiB";
        EXPECT_EQ(-1, write_var("x", "", 0));
        EXPECT_EQ(0, write_var("half", "short", 0));
        EXPECT_EQ(0, write_var("x", "", 0));
        kvn_trace_clear();  // a terminal obeys ESC and the C1 controls: none reaches it
        EXPECT_EQ(0, write_var("a\x1b[2J\xc2\x9b\xc3\xa9\xc2\xa0", "\a\n", 0));
        kvn_trace_get(0, line, sizeof line);
        EXPECT_STREQ("flash write_var a\\x1b[2J\\xc2\\x9b\xc3\xa9\xc2\xa0=\\x07\\n", line);
    });
}

// A link, a FIFO, a folder or a file that is not this store's database at the store's path, or
// what SQLite would wait on beside it: every call fails with a message naming it, and nothing is
// followed, changed or made but SQLite's working files beside a damaged store of its own.
TEST(FlashSetting, RefusesAnythingButItsOwnDatabase) {
    setenv("FLASH_SETTING_FILE", (g_root + "/store.db").c_str(), 1);
    ASSERT_EQ("", run("rm -rf $R && mkdir -p $R"));
    ASSERT_EQ("", program("lang=english_lang"));
    sqlite3 *foreign = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((g_root + "/foreign.db").c_str(), &foreign));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(foreign, "CREATE TABLE settings (key, value)", 0, 0, 0));
    ASSERT_EQ(SQLITE_OK, sqlite3_close(foreign));
    unsetenv("FLASH_SETTING_FILE");
    const struct {
        const char *make, *message;
        int commit;  // what save_commit answers; 0: SQLite's working files may be made beside it
    } cases[] = {
        {"ln -s $R/store.db $S", " is not a regular file: refused", -1},
        {"ln -s missing/store.db $S", " is not a regular file", -1},
        {"mkfifo $S", " is not a regular file", -1},
        {"mkdir $S", " is not a regular file", -1},
        {"perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ENV{S})'", " is not a", -1},
        {"cp $R/store.db $S && mkfifo $S-journal", "-journal is not a regular file", -1},
        {"printf 'kvn-flash-setting 1\\nlang=x\\n' >$S", ": file is not a database", -1},
        {"cp $R/foreign.db $S", " is a database of another program: refused", -1},
        // A store with a page zeroed.
        {"cp $R/store.db $S && dd if=/dev/zero of=$S bs=4096 seek=1 count=1 conv=notrunc "
         "status=none",
         ": database disk image is malformed", 0},
    };
    for (const auto &c : cases) {
        in_child("refused", [&](const std::string &path) {
            SCOPED_TRACE(c.make);
            ASSERT_EQ("", run(c.make, path));
            // The entries (kinds, modes, link targets) and the regular files' sums.
            const std::string look =
                "cd $R && { find refused store.db -printf '%p %y %m %l\\n'; "
                "find refused store.db -type f -exec cksum {} +; } | sort | " +
                std::string(c.commit ? "cat" : "grep -v -e -wal -e -shm");
            const std::string before = run(look);
            kvn_trace_clear();
            testing::internal::CaptureStderr();
            EXPECT_EQ(nullptr, get_var_mem("lang"));
            EXPECT_EQ(-1, write_var("lang", "chinese_lang", 0));
            EXPECT_EQ(c.commit, save_commit());
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(std::string::npos, err.find(path + c.message)) << err;
            char line[64] = {};
            kvn_trace_get(1, line, sizeof line);
            EXPECT_EQ(std::string("flash save_commit") + (c.commit ? " failed" : ""), line);
            EXPECT_EQ(before, run(look));
        });
    }
}

// The files' identities are taken before a fresh process's first statement: a cleaner's copy put
// in the database's place during its first write has the write done again in the new database
// (in the old one it would be acknowledged and lost). Replaced under every attempt, it is refused.
TEST(FlashSetting, AWriteIntoReplacedFilesIsDoneAgainNeverLost) {
    in_child("replaced", [](const std::string &) {
        ASSERT_EQ("", program("lang=english_lang"));
        static int replacements = 1;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(+[](sqlite3 *db, char **, void *) {
            static int (*const replace)(void *) = [](void *) {
                if (replacements-- > 0)
                    run("cp $S $S.copy && mv $S.copy $S", getenv("FLASH_SETTING_FILE"));
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

// A writer killed at seeded random points of a write or a commit (KVN_STORE_SEED replays a run):
// every process then reads the store without a complaint, each key holding its last acknowledged
// value or the one in flight. Meanwhile a thread writes a key of its own, losing nothing, and
// each writer is forked while that thread may be inside the store (a race no planted fault shows).
TEST(FlashSetting, WritersKilledAtRandomPointsLeaveAStoreEveryProcessReads) {
    in_child("killed", [](const std::string &) {
        const char *given = getenv("KVN_STORE_SEED");
        SCOPED_TRACE("KVN_STORE_SEED=" + std::string(given ? given : "1"));
        std::mt19937 random(given ? unsigned(atoi(given)) : 1);
        // AddressSanitizer's allocator is not ready for a fork while another thread allocates.
        const bool asan = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;
        std::atomic<bool> stop{asan};
        int last = 0;
        std::thread other([&] {
            for (int i = 1; !stop; ++i) EXPECT_EQ(0, write_var("thread", &(last = i), 1));
        });
        const std::string padding(50000, 'p');  // long writes, for kills inside them
        int acknowledged = 0;
        for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
            int acks[2];
            ASSERT_EQ(0, pipe(acks));
            pid_t writer = fork();
            for (int i = acknowledged + 1; writer == 0; ++i)  // the writer, until it is killed
                if (write_var("n", (padding + std::to_string(i)).c_str(), 0) != 0 ||
                    (i % 3 == 0 && save_commit() != 0) || write(acks[1], &i, sizeof i) != 4)
                    _exit(1);
            close(acks[1]);
            // Odd rounds from the writer's first acknowledgement, even ones from its start.
            if (round % 2 == 1) {
                EXPECT_EQ(4, read(acks[0], &acknowledged, sizeof acknowledged));
            }
            usleep(random() % 30000);
            kill(writer, SIGKILL);
            ASSERT_EQ(128 + SIGKILL, wait_for(writer));
            for (int i; read(acks[0], &i, sizeof i) == sizeof i;) acknowledged = i;
            close(acks[0]);
            testing::internal::CaptureStderr();
            const std::string n = program("n");
            EXPECT_EQ("", testing::internal::GetCapturedStderr());
            const std::string was = padding + std::to_string(acknowledged);
            const std::string next = padding + std::to_string(acknowledged + 1);
            EXPECT_TRUE(n == next || n == (acknowledged ? was : "<null>")) << "round " << round;
        }
        EXPECT_GE(acknowledged, 20);
        stop = true;
        other.join();
        EXPECT_EQ(asan ? "<null>" : std::to_string(last), value_of("thread"));
    });
}

}  // namespace
