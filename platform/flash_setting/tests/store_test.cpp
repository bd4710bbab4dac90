// The settings store holds the user's choices: every process agrees on every value whatever is
// removed or planted beside the store, what is not the store is refused and left alone, and nobody
// waits on another's writer.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <regex>
#include <thread>

#include "flash_setting.h"
#include "kvn_trace.h"

namespace {

// AddressSanitizer's allocator is not ready for a fork: a child forked while another thread
// allocates may hang.
const bool kAsan = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr;

std::string slurp(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "<not a file>";
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string value_of(const char *key) {
    char *v = get_var_mem(key);
    std::string s = v ? v : "<null>";
    return free(v), s;
}

std::vector<std::string> trace() {
    std::vector<std::string> lines;
    for (char line[512]; kvn_trace_get(lines.size(), line, sizeof line) >= 0;)
        lines.push_back(line);
    return lines;
}

int wait_for(pid_t pid, int status = 0) {
    return waitpid(pid, &status, 0),
           WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Another process of the player: 0 when `body` held.
int in_process(const std::function<bool()> &body) {
    pid_t pid = fork();
    if (pid == 0) alarm(60), _exit(body() && !::testing::Test::HasFailure() ? 0 : 1);
    return wait_for(pid);
}

// The library reads the store path once per process, so each test runs in a child of its own with a
// fresh store /tmp/flash-setting-test/name/store.db; a child that hangs is ended by SIGALRM.
void in_child(const char *name, const std::function<void(const std::string &)> &body) {
    pid_t pid = fork();
    if (pid == 0) {
        alarm(120);
        std::string dir = std::string("/tmp/flash-setting-test/") + name;
        if (system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()) != 0) _exit(1);
        setenv("FLASH_SETTING_FILE", (dir + "/store.db").c_str(), 1);
        body(dir + "/store.db");
        _exit(fflush(stdout) || ::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(0, wait_for(pid)) << "the test's child failed";
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

int descriptors() { return int(entries("/proc/self/fd").size()); }

TEST(FlashSetting, RoundTripsTextAndNumbersAndRecordsEachCall) {
    in_child("roundtrip", [](const std::string &first) {
        // In folders that the first write makes; a read or a commit makes nothing.
        const std::string folder = first.substr(0, first.rfind('/')),
                          path = folder + "/new/deeper/store.db";
        setenv("FLASH_SETTING_FILE", path.c_str(), 1);
        EXPECT_EQ(path, flash_setting_path());
        EXPECT_TRUE(get_var_mem("never_written") == nullptr && save_commit() == 0);
        EXPECT_TRUE(entries(folder).empty());
        const std::vector<std::pair<int, const char *>> numbers = {
            {0, "0"}, {-17, "-17"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
        for (const auto &n : numbers) EXPECT_EQ(0, write_var(n.second, &n.first, 1));
        const std::vector<std::pair<const char *, const char *>> texts = {{"tv_system", "PAL"},
                                                                          {"empty", ""},
                                                                          {"spaced", " a=b = c "},
                                                                          {"lines", "two\nlines\r"},
                                                                          {"tv_system", "NTSC"}};
        kvn_trace_clear();
        for (const auto &t : texts) EXPECT_EQ(0, write_var(t.first, t.second, 0));
        EXPECT_EQ(0, save_commit());
        EXPECT_EQ(
            (std::vector<std::string>{"flash write_var tv_system=PAL",
                                      "flash write_var empty=", "flash write_var spaced= a=b = c ",
                                      "flash write_var lines=two\\nlines\\r",
                                      "flash write_var tv_system=NTSC", "flash save_commit"}),
            trace());
        EXPECT_EQ(0, in_process([&] {
                      for (const auto &n : numbers) EXPECT_EQ(n.second, value_of(n.second));
                      for (size_t i = 1; i < texts.size(); ++i)
                          EXPECT_EQ(texts[i].second, value_of(texts[i].first));
                      return value_of("never_written") == "<null>";
                  }))
            << "another process reads them, and a key never written has no value, not an empty one";
        struct stat st;
        for (const std::string &made : {folder + "/new", folder + "/new/deeper", path})
            EXPECT_TRUE(stat(made.c_str(), &st) == 0 &&
                        (st.st_mode & 07777) == (made == path ? 0644u : 0755u))
                << made;
    });
}

// Keys and values total 16 MiB at most: a key written again gives back its old value's bytes.
TEST(FlashSetting, RefusesWhatItCannotStoreAndKeepsWhatItHad) {
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
        } bad[] = {{nullptr, "x", 0},
                   {"", "x", 0},
                   {"lang", nullptr, 0},
                   {"lang", nullptr, 1},
                   {"lang", &n, 2},
                   {"lang", "x", -1},
                   {"big", too_big.c_str(), 0},
                   {"more", over.c_str(), 0}};
        kvn_trace_clear();
        testing::internal::CaptureStderr();
        for (const auto &b : bad)
            EXPECT_EQ(-1, write_var(b.key, b.value, b.kind)) << (b.key ? b.key : "null");
        std::string err = testing::internal::GetCapturedStderr();  // one line each, saying so
        EXPECT_TRUE(std::regex_match(
            err, std::regex("(flash_setting: write_var[^\n]*; nothing stored\n){8}")))
            << err;
        std::vector<std::string> calls = trace();
        ASSERT_EQ(std::size(bad), calls.size());
        EXPECT_TRUE(calls[0] == "flash write_var (null)=x failed" &&
                    calls[2] == "flash write_var lang=(null) failed")
            << calls[0];
        EXPECT_EQ("flash write_var big=" + std::string(200, 'x') + "... failed", calls[6]);
        EXPECT_TRUE(value_of("lang") == "english_lang" && value_of("more") == "<null>");
        EXPECT_EQ(0, write_var("more", fits.c_str(), 0)) << "exactly 16 MiB";
        EXPECT_EQ(-1, write_var("x", "", 0));
        EXPECT_EQ(0, write_var("half", "short", 0));
        EXPECT_EQ(0, write_var("x", "", 0));
    });
}

// A link, a FIFO, a folder or a file that is not this store's database at the store's path: every
// call fails with a message, and the thing is neither followed nor changed.
TEST(FlashSetting, RefusesAnythingButItsOwnDatabaseAndLeavesItAsItIs) {
    auto foreign = [](const std::string &path, const char *sql) {
        sqlite3 *db = nullptr;
        bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
        return sqlite3_close(db) == SQLITE_OK && ok;
    };
    const std::string elsewhere = "/tmp/flash-setting-test/elsewhere.db";
    struct Case {
        const char *what;
        std::function<bool(const std::string &)> make;
        const char *message;
        int commit;
    };
    const std::vector<Case> cases = {
        {"a link to a store",
         [&](const std::string &path) {
             return in_process([&] {
                        setenv("FLASH_SETTING_FILE", elsewhere.c_str(), 1);
                        return write_var("lang", "english_lang", 0) == 0 && save_commit() == 0;
                    }) == 0 &&
                    symlink(elsewhere.c_str(), path.c_str()) == 0;
         },
         "is a link, not a database: refused", -1},
        {"a link to nowhere",
         [](const std::string &path) { return symlink("missing/store.db", path.c_str()) == 0; },
         "is a link", -1},
        {"a FIFO", [](const std::string &path) { return mkfifo(path.c_str(), 0644) == 0; },
         "is a FIFO", -1},
        {"a folder", [](const std::string &path) { return mkdir(path.c_str(), 0755) == 0; },
         "is a folder", -1},
        {"a text file",
         [](const std::string &path) {
             return bool(std::ofstream(path) << "kvn-flash-setting 1\nlang=english_lang\n");
         },
         "is not a database: refused", -1},
        {"another program's database",
         [&](const std::string &path) {
             return foreign(
                 path,
                 "CREATE TABLE settings (key, value); INSERT INTO settings VALUES ('lang', 'x')");
         },
         "is a database of another program: refused", -1},
        {"a damaged store",
         [&](const std::string &path) {
             // Its table's page overwritten after a commit put everything in the database file.
             bool made = in_process([] {
                             return write_var("lang", "english_lang", 0) == 0 && save_commit() == 0;
                         }) == 0 &&
                         unlink((path + "-wal").c_str()) == 0;
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             return made && f.seekp(4096) && f.write(std::string(4096, '\x5a').data(), 4096);
         },
         "is damaged", 0},
    };
    for (const Case &c : cases) {
        in_child("refused", [&](const std::string &path) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(c.make(path));
            auto snapshot = [&] {
                struct stat st = {};
                char target[256] = {};
                lstat(path.c_str(), &st), (void)!readlink(path.c_str(), target, sizeof target - 1);
                return std::to_string(st.st_mode) + target + slurp(path) + slurp(elsewhere);
            };
            const std::string before = snapshot();
            testing::internal::CaptureStderr();
            EXPECT_EQ(nullptr, get_var_mem("lang"));
            EXPECT_EQ(-1, write_var("lang", "chinese_lang", 0));
            EXPECT_EQ(c.commit, save_commit());
            std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(std::string::npos, err.find(path + " " + c.message)) << err;
            EXPECT_TRUE(before == snapshot() &&
                        access("/tmp/flash-setting-test/refused/missing", F_OK) != 0);
            // Nothing beside it, but the working files of a damaged store of its own.
            EXPECT_EQ(c.commit == 0 ? 3u : 1u, entries("/tmp/flash-setting-test/refused").size());
        });
    }
}

// A cleaner that removes the store's files, or a neighbour who puts a link, a FIFO, a folder or a
// file of theirs in one's place: committed values stay, processes running and new ones agree on
// every write, nothing is written through a link or into what was planted, and what was planted is
// kept.
TEST(FlashSetting, EveryProcessAgreesWhateverIsRemovedOrPlantedBesideIt) {
    in_child("neighbours", [](const std::string &path) {
        const std::string dir = path.substr(0, path.rfind('/')),
                          target = "/tmp/flash-setting-test/target";
        std::ofstream(target) << "not the store's";
        ASSERT_TRUE(write_var("tv_system", "PAL", 0) == 0 && save_commit() == 0 &&
                    write_var("lang", "english_lang", 0) == 0);
        std::vector<std::string>
            names;  // every file the store keeps beside itself, and its rollback journal
        for (const std::string &name : entries(dir))
            if (name != path) names.push_back(name);
        names.push_back(path + "-journal");
        const std::vector<std::pair<const char *, std::function<bool(const std::string &)>>>
            plants = {
                {"removed", [](const std::string &) { return true; }},
                {"a link to a file",
                 [&](const std::string &at) { return symlink(target.c_str(), at.c_str()) == 0; }},
                {"a link into a missing folder",
                 [](const std::string &at) {
                     return symlink("/tmp/flash-setting-test/missing/x", at.c_str()) == 0;
                 }},
                {"a FIFO", [](const std::string &at) { return mkfifo(at.c_str(), 0644) == 0; }},
                {"a folder",
                 [](const std::string &at) {
                     return mkdir(at.c_str(), 0755) == 0 &&
                            bool(std::ofstream(at + "/inner") << "kept");
                 }},
                {"another user's file",
                 [](const std::string &at) {
                     return bool(std::ofstream(at) << "junk") && chown(at.c_str(), 1, 1) == 0;
                 }},
                {"another file's second name",
                 [&](const std::string &at) { return link(target.c_str(), at.c_str()) == 0; }},
            };
        const int open_before = descriptors();
        int round = 0;
        for (const std::string &name : names) {
            for (const auto &plant : plants) {
                SCOPED_TRACE(name + ": " + plant.first);
                ASSERT_EQ(0, system(("rm -rf '" + name + "'").c_str()));
                if (!plant.second(name)) {  // a user namespace maps no other user
                    EXPECT_EQ(std::string("another user's file"), plant.first);
                    continue;
                }
                const std::string lang = "lang-" + std::to_string(++round);
                EXPECT_EQ(0, in_process([&] { return write_var("lang", lang.c_str(), 0) == 0; }));
                EXPECT_EQ(lang, value_of("lang"));
                ASSERT_EQ(0, write_var("video_output", &round, 1));
                EXPECT_EQ(0, in_process([&] {
                              return value_of("video_output") == std::to_string(round) &&
                                     value_of("lang") == lang && value_of("tv_system") == "PAL";
                          }));
                EXPECT_EQ("not the store's", slurp(target));
                EXPECT_NE(0, access("/tmp/flash-setting-test/missing", F_OK));
            }
        }
        EXPECT_EQ(0, system(("test \"$(cat " + dir + "/*/inner)\" = keptkeptkept").c_str()))
            << "a planted folder was not kept";
        EXPECT_EQ(open_before, descriptors());
    });
}

// Three processes and three threads write their own keys at once; a child forked while a thread is
// inside the store still writes.
TEST(FlashSetting, ConcurrentWritersOfDifferentKeysLoseNothing) {
    in_child("concurrent", [](const std::string &) {
        const int kRounds = 100;
        auto writes = [](const std::string &who, bool check) {
            for (int i = 0; i < kRounds; ++i) {
                std::string key = who + "_" + std::to_string(i);
                if (write_var(key.c_str(), &i, 1) != 0 ||
                    (check && value_of(key.c_str()) != std::to_string(i)))
                    return false;
                if (i % 10 == 0 && save_commit() != 0) return false;
            }
            return true;
        };
        std::vector<std::thread> threads;
        std::vector<pid_t> children;
        auto spawn = [&] {
            for (const char *who : {"p0", "p1", "p2"})
                if (children.push_back(fork()), children.back() == 0)
                    _exit(writes(who, false) ? 0 : 1);
        };
        if (kAsan) spawn();
        for (const char *who : {"t0", "t1", "t2"})
            threads.emplace_back([&, who] { EXPECT_TRUE(writes(who, true)) << who; });
        if (!kAsan) spawn();
        for (auto &th : threads) th.join();
        for (pid_t pid : children) EXPECT_EQ(0, wait_for(pid));
        for (const char *who : {"p0", "p1", "p2", "t0", "t1", "t2"})
            for (int i = 0; i < kRounds; ++i)
                EXPECT_EQ(std::to_string(i),
                          value_of((std::string(who) + "_" + std::to_string(i)).c_str()))
                    << who << i;
    });
}

TEST(FlashSetting, ReadersNeverWaitForAnotherProcesssWriter) {
    in_child("nowait", [](const std::string &path) {
        int locked[2], release[2];
        ASSERT_TRUE(pipe(locked) == 0 && pipe(release) == 0);
        pid_t holder = fork();
        if (holder == 0) {  // another process's writer, slow to commit
            sqlite3 *db = nullptr;
            char c =
                write_var("video_output", "5", 0) == 0 &&
                        sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK
                    ? 'L'
                    : 'E';
            _exit(write(locked[1], &c, 1) != 1 || read(release[0], &c, 1) < 0);
        }
        char c = 0;
        ASSERT_TRUE(read(locked[0], &c, 1) == 1 && c == 'L');
        std::atomic<bool> written{false};
        std::thread writer([&] {
            EXPECT_EQ(0, write_var("video_output", "8", 0));
            written = true;
        });
        usleep(300000);  // the writer is waiting by now (on a slow day this test proves less)
        auto read_now = std::async(std::launch::async, [] { return value_of("video_output"); });
        bool answered = read_now.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        EXPECT_TRUE(answered && !written)
            << "a reader waited for another process's writer, or the writer did not wait";
        // A signal that interrupts the wait does not end it.
        struct sigaction interrupt = {};  // no SA_RESTART
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
            if (writer == 0) {
                for (int i = acknowledged + 1;; ++i) {
                    if (write_var("padding", (padding + std::to_string(i)).c_str(), 0) != 0 ||
                        write_var("n", &i, 1) != 0 || (i % 3 == 0 && save_commit() != 0) ||
                        write(acks[1], &i, sizeof i) != sizeof i)
                        _exit(1);
                }
            }
            close(acks[1]);
            usleep(random() % 30000);
            kill(writer, SIGKILL);
            ASSERT_EQ(128 + SIGKILL, wait_for(writer));
            for (int i; read(acks[0], &i, sizeof i) == sizeof i;) acknowledged = i;
            close(acks[0]);
            testing::internal::CaptureStderr();
            EXPECT_EQ(0, in_process([&] {
                          const std::string n = value_of("n"), p = value_of("padding");
                          const int number = atoi(n.c_str()),
                                    padded = p.compare(0, padding.size(), padding) == 0
                                                 ? atoi(p.c_str() + padding.size())
                                                 : 0;
                          return number >= acknowledged && number <= acknowledged + 1 &&
                                 padded >= number && padded <= acknowledged + 1;  // padding first
                      }))
                << "round " << round << ", " << acknowledged << " acknowledged";
            EXPECT_EQ("", testing::internal::GetCapturedStderr());
        }
        EXPECT_GT(acknowledged, 40) << "the writers were killed before they wrote";
    });
}

}  // namespace
