// The settings store's promises to the player's programs, one test each.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include "flash_setting.h"
#include "kvn_trace.h"

namespace {

const std::string g_root = "/tmp/flash-setting-test";  // $R in the commands run
const int g_r = setenv("R", g_root.c_str(), 1);

std::string value_of(const std::string &key) {
    char *v = get_var_mem(key.c_str());
    std::string s = v ? v : "<null>";
    free(v);
    return s;
}

// As another program of the player: KVN_STORE_DO="KEY=VALUE" writes and commits, "KEY" prints.
const int g_program = [] {
    const char *what = getenv("KVN_STORE_DO"), *is = what ? strchr(what, '=') : nullptr;
    if (is != nullptr)
        _exit(write_var(std::string(what, is).c_str(), is + 1, 0) || save_commit() ? 1 : 0);
    if (what != nullptr) _exit(printf("%s", value_of(what).c_str()) < 0 || fflush(stdout) != 0);
    return 0;
}();

// A shell command's output ("failed: " first if it failed), the path as $S, the tests' folder $R.
std::string run(const std::string &command, const std::string &path = "") {
    setenv("S", path.c_str(), 1);
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    for (int c; p != nullptr && (c = fgetc(p)) != EOF;) out += char(c);
    return p != nullptr && pclose(p) == 0 ? out : "failed: " + out;
}

// This test program run afresh with KVN_STORE_DO=what, its complaints too.
std::string program(const std::string &what) {
    const char *emulator = getenv("KVN_EMULATOR");
    return run("KVN_STORE_DO='" + what + "' " + (emulator ? emulator : "") + " " +
               program_invocation_name + " 2>&1");
}

// A fresh store for each test: CTest runs each in a process (which reads the path once) of its own.
class FlashSetting : public ::testing::Test {
    void SetUp() override {
        ASSERT_EQ("", run("rm -rf $R && mkdir -p $R"));
        setenv("FLASH_SETTING_FILE", (g_root + "/made/store.db").c_str(), 1);  // by the first write
    }
};

// Each write is read at once by every program, this one too after another's; keys and values are
// 16 MiB at most in all; only the settings group opens the files (a read lock would stall writes).
TEST_F(FlashSetting, EveryProcessReadsEachWriteUpTo16MiBInFilesOnlyItsGroupOpens) {
    umask(022);
    const size_t half = 8u << 20;
    ASSERT_EQ(0, write_var("half", std::string(half - 4, 'h').c_str(), 0));
    EXPECT_EQ(-1, write_var("more", std::string(half - 3, 'o').c_str(), 0));
    EXPECT_EQ(0, write_var("more", std::string(half - 4, 'f').c_str(), 0)) << "exactly 16 MiB";
    EXPECT_EQ(-1, write_var("x", "", 0));
    EXPECT_EQ(0, write_var("half", "", 0)) << "the old value's bytes given back";
    for (const char *system : {"PAL", "NTSC\r\n", "PAL"}) {
        EXPECT_EQ("", program(std::string("tv_system=") + system));
        EXPECT_EQ(system, value_of("tv_system"));
    }
    EXPECT_EQ(0, write_var("tv_system", "SECAM", 0));
    EXPECT_EQ("SECAM", program("tv_system"));
    EXPECT_EQ(0, save_commit());
    EXPECT_EQ("750 640 640 640\n", run("cd $R/made && stat -c %a . store.db* | paste -sd' '"));
}

// A key reaches the messages with its control bytes shown (a terminal obeys ESC, C1), cut if long.
TEST_F(FlashSetting, ControlBytesInKeysAndValuesAreShownEscaped) {
    const std::string o(20u << 20, 'o');
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, write_var(("a\x1b[2J\xc2\x9b\xc3\xa9\xc2\xa0" + o).c_str(), "", 0));
    const std::string err = testing::internal::GetCapturedStderr(), cut = o.substr(0, 180);
    EXPECT_NE(std::string::npos, err.find("(a\\x1b[2J\\xc2\\x9b\xc3\xa9\xc2\xa0" + cut + "...)"))
        << err;
}

// Not this store's database at its path or beside it: a read and a write fail naming it; nothing is
// followed, changed or made but SQLite's working files beside a WAL database (with a bad header).
TEST_F(FlashSetting, RefusesAnythingButItsOwnDatabase) {
    ASSERT_EQ("", program("lang=english_lang"));
    const std::string path = g_root + "/refused/store.db",
                      zero = " && dd if=/dev/zero of=$S count=1 conv=notrunc status=none";
    setenv("FLASH_SETTING_FILE", path.c_str(), 1);
    const std::string cases[][2] = {
        {"ln -s $R/made/store.db $S", " is not a regular file: refused"},
        {"cp $R/made/store.db $S && mkfifo $S-journal", "-journal is not a regular file"},
        {"echo lang=x >$S", ": file is not a database"},
        {"cp $R/made/store.db $S" + zero + " bs=4 seek=17", " is a database of another program"},
        {"cp $R/made/store.db $S" + zero + " bs=4K seek=1", ": database disk image is malformed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_EQ("", run("rm -rf $R/refused && mkdir $R/refused && " + c[0], path));
        // The entries (kinds, modes, link targets) and the regular files' sums.
        const std::string look =
            std::string("cd $R && find refused made -printf '%p %y %m %l\\n'") +
            " -type f -exec cksum {} \\; | grep -v -e " +
            (c[0].find(zero) == std::string::npos ? "^$" : "-wal -e -shm");
        const std::string before = run(look), got = program("lang"), put = program("lang=x");
        EXPECT_NE(std::string::npos, got.find(path + c[1])) << got;
        EXPECT_EQ(0u, put.find("failed: ")) << put;
        EXPECT_NE(std::string::npos, put.find(path + c[1])) << put;
        EXPECT_EQ(before, run(look));
    }
}

// A cleaner's copy put in the database's place during a fresh process's first write has the write
// done again in the new database, never acknowledged and lost; replaced under every attempt,
// refused.
TEST_F(FlashSetting, AWriteIntoReplacedFilesIsDoneAgainNeverLost) {
    ASSERT_EQ("", program("lang=english_lang"));
    static int replacements = 1;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(+[](sqlite3 *db, char **, void *) {
        static int (*const replace)(void *) = [](void *) {
            if (replacements-- > 0)
                run("cp $S $S.copy && mv $S.copy $S", getenv("FLASH_SETTING_FILE"));
            return 0;
        };
        sqlite3_commit_hook(db, replace, nullptr);
        return 0;
    }));
    EXPECT_EQ(0, write_var("lang", "chinese_lang", 0));
    EXPECT_EQ(0, save_commit());
    EXPECT_EQ("chinese_lang", program("lang"));
    replacements = 100;
    EXPECT_EQ(-1, write_var("tv_system", "PAL", 0));
}

// A writer killed at seeded random points (KVN_STORE_SEED replays a run) leaves a store another
// program reads without a complaint, holding the last acknowledged value or the one in flight.
TEST_F(FlashSetting, WritersKilledAtRandomPointsLeaveAStoreEveryProcessReads) {
    const char *seed = getenv("KVN_STORE_SEED");
    srandom(seed ? unsigned(atoi(seed)) : 1);
    int acked = 0;
    const std::string pad(50000, 'p');  // long writes, for kills inside them
    for (int round = 0; round < 40 && !::testing::Test::HasFailure(); ++round) {
        int acks[2];
        ASSERT_EQ(0, pipe(acks));
        pid_t writer = fork();
        for (int i = acked + 1; writer == 0; ++i)  // the writer, until it is killed
            if (write_var("n", (pad + std::to_string(i)).c_str(), 0) != 0 ||
                (i % 3 == 0 && save_commit() != 0) || write(acks[1], &i, sizeof i) != 4)
                _exit(1);
        close(acks[1]);
        // Odd rounds from the writer's first acknowledgement, even ones from its start.
        EXPECT_TRUE(round % 2 == 0 || read(acks[0], &acked, sizeof acked) == 4);
        usleep(random() % 30000);
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        for (int i; read(acks[0], &i, sizeof i) == sizeof i;) acked = i;
        close(acks[0]);
        const std::string n = program("n"), was = acked ? pad + std::to_string(acked) : "<null>";
        EXPECT_TRUE(n == pad + std::to_string(acked + 1) || n == was) << "KVN_STORE_SEED=" << seed;
    }
    EXPECT_GE(acked, 20);
}

}  // namespace
