// The settings store: one SQLite database in WAL mode at the store's path.
//
// SQLite is what lets every process of the machine share the store: a write is
// a transaction that every process sees once it commits, readers never wait
// for a writer, and with synchronous=NORMAL a write does not wait for the disk
// while a power cut can only lose the writes since the last checkpoint, never
// damage the database.  save_commit is that checkpoint.  What a crash leaves
// (a hot journal, a -wal, an index that no process holds) SQLite mends itself.
//
// The database is made 0640 in a folder made 0750, and SQLite gives its -wal
// and -shm the database's mode: the group is for the peers that read settings,
// and no other user may open the -shm, whose read locks would stall every
// writer.  SQLite opens none of its files through a link, but it would wait
// for ever on a FIFO at the path or beside it: anything but a regular file
// there is refused and left as it is.
//
// A process keeps one connection.  Its files' identities are taken before its
// first statement, and compared with what is at the path before a write or a
// commit and again before it is acknowledged: one that landed in files
// replaced under it is done again on the new ones, never acknowledged and
// lost.  A read compares the database alone, with one stat.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "flash_setting.h"
#include "kvn_trace.h"

namespace {

constexpr sqlite3_int64 kMaxStoreBytes = 16 << 20;  // keys and values together
constexpr int kApplicationId = 0x4b564e53;          // "KVNS": a database of this store
constexpr int kBusyMs = 30000;                      // another process's write or checkpoint
constexpr int kAttempts = 3;  // a write or commit done again on files replaced under it
const char *const kFiles[] = {"", "-wal", "-shm", "-journal"};  // the database and beside it
constexpr size_t kHeader = 48;  // bytes of one copy of the WAL index's header
// 1: this store's database; 0: an empty one, which the first write makes the
// store's; -1: another program's.  One statement, so one read transaction.
const std::string kKind = "SELECT CASE WHEN application_id = " + std::to_string(kApplicationId) +
                          " THEN 1 WHEN application_id = 0 AND NOT EXISTS (SELECT 1 FROM "
                          "sqlite_schema) THEN 0 ELSE -1 END FROM pragma_application_id()";
const std::string kMake =
    "CREATE TABLE settings (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT "
    "NULL) WITHOUT ROWID; PRAGMA application_id=" +
    std::to_string(kApplicationId);
const char kOthers[] =
    "SELECT coalesce(sum(length(CAST(key AS BLOB)) + length(CAST(value AS "
    "BLOB))), 0) FROM settings WHERE key <> ?1";
const char kPut[] =
    "INSERT INTO settings (key, value) VALUES (?1, ?2) ON CONFLICT (key) DO "
    "UPDATE SET value = excluded.value";

// The process's connection and what it knows, used behind g_mutex alone.
struct Connection {
    sqlite3 *db = nullptr;
    int fd = -1;                   // the database's, opened before the connection
    sqlite3_stmt *read = nullptr;  // prepared once: preparing costs more than the read
    std::string path, error;
    struct stat ids[3] = {};             // the database, -wal and -shm before the first statement
    bool ours = false;                   // the database holds this store's table
    unsigned char header[kHeader] = {};  // the WAL index's header at the last read, if whole
    std::map<std::string, std::optional<std::string>> values;  // read since it last changed
};
Connection &g = *new Connection;  // never destroyed: callers may run during exit
std::mutex g_mutex;               // held by every call, and across a fork
bool g_forked = false;            // the connection is the parent's, and so are SQLite's locks on it
const int g_fork_guard = pthread_atfork([] { g_mutex.lock(); }, [] { g_mutex.unlock(); },
                                        [] { g_forked = true, g_mutex.unlock(); });

const std::string &configured_path() {
    static const std::string path = [] {
        const char *env = getenv("FLASH_SETTING_FILE");
        std::string p = env != nullptr && *env != '\0' ? env : "/opt/kvn/var/flash_setting.db";
        char cwd[PATH_MAX];
        if (p[0] != '/' && getcwd(cwd, sizeof cwd) != nullptr) p = std::string(cwd) + "/" + p;
        return p;
    }();
    return path;
}

// `once`: said the first time in this process only (a reader that cannot read
// says why once, not at every look).
void say(const std::string &text, bool once = false) {
    static std::mutex mutex;
    static auto *said = new std::set<std::string>;  // never destroyed: callers may run during exit
    if (once) {
        std::lock_guard<std::mutex> guard(mutex);
        if (said->size() >= 100 || !said->insert(text).second) return;
    }
    fprintf(stderr, "flash_setting: %s\n", text.c_str());
}

// Keys and values in the trace and messages: every control byte made
// visible (a key is any caller's text, and a terminal obeys ESC and the C1
// controls, U+0080 to U+009F), long ones cut.
std::string escaped(const char *text, size_t max = 200) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        if (out.size() >= max) return out + "...";
        if (*p == '\n') {
            out += "\\n";
        } else if (*p == '\r') {
            out += "\\r";
        } else if (*p < 0x20 || *p == 0x7f || (*p == 0xc2 && p[1] >= 0x80 && p[1] < 0xa0)) {
            char hex[9];
            bool c1 = *p == 0xc2;
            snprintf(hex, sizeof hex, c1 ? "\\x%02x\\x%02x" : "\\x%02x", p[0], p[1]);
            out += hex;
            p += c1;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out;
}

std::string parent_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

void sync_dir(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) fsync(fd), close(fd);
}

// mkdir -p, the store's own folder 0750; a folder made here is synced into
// its parent, or a power cut could take the store away with it.
void make_dirs(const std::string &dir) {
    for (size_t pos = 0; pos != std::string::npos;) {
        pos = dir.find('/', pos + 1);
        std::string partial = dir.substr(0, pos);
        if (mkdir(partial.c_str(), pos == std::string::npos ? 0750 : 0755) == 0)
            sync_dir(parent_of(partial));
    }
}

// The error from SQLite's last one; always false.
bool failed() {
    g.error = g.path + ": " + sqlite3_errmsg(g.db);
    return false;
}

// Statements with text parameters; the first column of the last row into *number.
bool exec(const char *sql, std::initializer_list<const char *> args = {},
          sqlite3_int64 *number = nullptr) {
    sqlite3_stmt *stmt = nullptr;
    int rc = SQLITE_OK;
    for (const char *rest = sql; rc == SQLITE_OK && *rest != '\0'; sqlite3_finalize(stmt)) {
        rc = sqlite3_prepare_v2(g.db, rest, -1, &stmt, &rest);
        int i = 0;
        for (const char *arg : args)
            if (rc == SQLITE_OK) rc = sqlite3_bind_text(stmt, ++i, arg, -1, SQLITE_STATIC);
        while (stmt != nullptr && (rc == SQLITE_OK || rc == SQLITE_ROW))
            if ((rc = sqlite3_step(stmt)) == SQLITE_ROW && number != nullptr)
                *number = sqlite3_column_int64(stmt, 0);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    return rc == SQLITE_OK || failed();
}

void close_connection() {
    sqlite3_finalize(g.read);
    sqlite3_close_v2(g.db);
    if (g.fd >= 0) close(g.fd);
    g.fd = -1, g.read = nullptr, g.db = nullptr, g.ours = false;
    g.values.clear();
}

// A side file missing at the first statement is recorded once it is there.
bool same_files() {
    for (int i = 0; i < 3; ++i) {
        struct stat now = {};
        if (lstat((g.path + kFiles[i]).c_str(), &now) != 0 && errno != ENOENT) return false;
        if (g.ids[i].st_ino == 0) g.ids[i] = now;
        if (now.st_ino != g.ids[i].st_ino || now.st_dev != g.ids[i].st_dev) return false;
    }
    return true;
}

enum Opened { kOpen, kNoStore, kFailed };

Opened fail(const std::string &text) { return g.error = text, kFailed; }

Opened open_store(bool create) {
    const std::string &configured = configured_path();
    const std::string name = configured.substr(configured.rfind('/') + 1),
                      parent = parent_of(configured);
    // With the links in the folder's path resolved: SQLite refuses a path with one.
    char folder[PATH_MAX];
    if (realpath(parent.c_str(), folder) == nullptr && errno == ENOENT && create) make_dirs(parent);
    if (realpath(parent.c_str(), folder) == nullptr)
        return errno == ENOENT && !create ? kNoStore
                                          : fail("cannot open " + parent + ": " + strerror(errno));
    g.path = folder + std::string(strcmp(folder, "/") == 0 ? "" : "/") + name;
    for (int i = 0; i < 4; ++i) {
        const std::string file = g.path + kFiles[i];
        struct stat st = {};
        if (lstat(file.c_str(), &st) != 0 && errno != ENOENT)
            return fail("cannot look at " + file + ": " + strerror(errno));
        if (st.st_ino != 0 && !S_ISREG(st.st_mode))
            return fail(file + " is not a regular file: refused");
        if (i < 3) g.ids[i] = st;
    }
    if (g.ids[0].st_ino == 0 && !create) return kNoStore;
    // Kept open with the connection, so that a read sees with one fstat whether
    // the database still has its name; closed after SQLite's, as closing a
    // descriptor of the database drops the process's locks on it.
    g.fd = open(g.path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
    if (g.ids[0].st_ino == 0) sync_dir(folder);  // its name, new here or in another process
    if (g.fd < 0 || fstat(g.fd, &g.ids[0]) != 0)
        return fail("cannot open " + g.path + ": " + strerror(errno));
    if (!S_ISREG(g.ids[0].st_mode)) return fail(g.path + " is not a regular file: refused");
    if (sqlite3_open_v2(g.path.c_str(), &g.db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        return failed(), kFailed;
    sqlite3_busy_timeout(g.db, kBusyMs);
    // Closing leaves the WAL to the other processes' connections: never
    // checkpointed into files that may have left the path, never removed.
    sqlite3_db_config(g.db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_int64 kind = 0;
    if (!exec(kKind.c_str(), {}, &kind)) return kFailed;
    if (kind < 0) return fail(g.path + " is a database of another program: refused");
    g.ours = kind == 1;
    // The WAL keeps its size between checkpoints, so that syncing it is a
    // flush of data alone; one grown by a large value is cut back.
    bool set = exec(
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
        "PRAGMA journal_size_limit=1048576");
    return set ? kOpen : kFailed;
}

// The connection when what it has open is at the path, else a new one.
// `all_files`: the three files compared, else whether the database has a name.
Opened ready(bool create, bool all_files) {
    g.error.clear();
    if (g_forked) g_forked = false, close_connection();
    struct stat st;
    if (g.db != nullptr && (all_files ? same_files() : fstat(g.fd, &st) == 0 && st.st_nlink > 0))
        return kOpen;
    close_connection();
    Opened opened = open_store(create);
    if (opened != kOpen) close_connection();
    return opened;
}

// The WAL index begins with a header that every commit of every process
// changes (frame count, checksums, salts), kept twice and written one copy
// after the other (SQLite's WAL format): while it reads whole and as at the
// last read, nothing was committed since, and a value read then still holds.
bool unchanged() {
    sqlite3_file *file = nullptr;
    volatile void *index = nullptr;
    sqlite3_file_control(g.db, "main", SQLITE_FCNTL_FILE_POINTER, &file);
    unsigned char now[2][kHeader] = {};
    if (file != nullptr && file->pMethods != nullptr && file->pMethods->iVersion >= 2 &&
        file->pMethods->xShmMap(file, 0, 32768, 0, &index) == SQLITE_OK && index != nullptr)
        for (size_t i = 0; i < sizeof now; ++i)  // each load before the ones after it
            now[i / kHeader][i % kHeader] =
                __atomic_load_n(static_cast<volatile unsigned char *>(index) + i, __ATOMIC_ACQUIRE);
    const bool whole = memcmp(now[0], now[1], sizeof now[0]) == 0 && now[0][12] != 0,
               same = whole && memcmp(now[0], g.header, sizeof g.header) == 0;
    memcpy(g.header, now[0], sizeof g.header);
    g.header[12] = whole;  // SQLite's "initialised" byte: no match while it is 0
    return same;
}

char *read_value(const char *key) {
    sqlite3_int64 kind = 0;
    if (ready(false, false) != kOpen ||
        (!g.ours && !(exec(kKind.c_str(), {}, &kind) && (g.ours = kind == 1))))
        return nullptr;  // no store, a refused one, or one that no write has made yet
    if (!unchanged()) g.values.clear();
    auto found = g.values.find(key);
    if (found != g.values.end()) return found->second ? strdup(found->second->c_str()) : nullptr;
    if (g.read == nullptr &&
        sqlite3_prepare_v3(g.db, "SELECT value FROM settings WHERE key = ?1", -1,
                           SQLITE_PREPARE_PERSISTENT, &g.read, nullptr) != SQLITE_OK)
        return failed(), nullptr;
    sqlite3_bind_text(g.read, 1, key, -1, SQLITE_STATIC);
    const int rc = sqlite3_step(g.read);
    std::optional<std::string> value;
    if (rc == SQLITE_ROW) value = reinterpret_cast<const char *>(sqlite3_column_text(g.read, 0));
    sqlite3_reset(g.read);  // ends the read transaction
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failed(), nullptr;
    // As of the header read before it, or newer: either way the next change is seen.
    if (g.header[12] != 0 && g.values.size() < 64) g.values[key] = value;
    return value ? strdup(value->c_str()) : nullptr;
}

// Does `body` on the files at the path, and again on new ones while they were
// replaced under it.  With no store, nothing is done.
template <class Body>
int on_files(bool create, const char *doing, Body body) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Opened opened = ready(create, true);
        if (opened != kOpen) return opened == kNoStore ? 0 : -1;
        if (!body()) return -1;
        if (same_files()) return 0;
        close_connection();
    }
    g.error = std::string("the store's files were replaced under every attempt to ") + doing;
    return -1;
}

int write_text(const char *key, const char *text) {
    const sqlite3_int64 bytes = sqlite3_int64(strlen(key) + strlen(text));
    return on_files(true, "write", [&] {
        sqlite3_int64 kind = 1, others = 0;
        // Looked at again once no other writer can make the table.
        bool ok = exec("BEGIN IMMEDIATE") && (g.ours || exec(kKind.c_str(), {}, &kind));
        if (ok && kind < 0)
            ok = false, g.error = g.path + " is a database of another program: refused";
        ok = ok && (kind != 0 || exec(kMake.c_str())) && exec(kOthers, {key}, &others);
        if (ok && others + bytes > kMaxStoreBytes)
            ok = false, g.error = "the store would hold " + std::to_string(others + bytes) +
                                  " bytes of keys and values, more than it holds (" +
                                  std::to_string(kMaxStoreBytes) + ")";
        ok = ok && exec(kPut, {key, text}) && exec("COMMIT");
        if (!sqlite3_get_autocommit(g.db))
            sqlite3_exec(g.db, "ROLLBACK", nullptr, nullptr, nullptr);
        return ok && (g.ours = true);
    });
}

// FULL waits for the other processes' writers and readers through SQLite's
// busy wait; another checkpoint makes it busy at once.
int commit() {
    return on_files(false, "commit", [] {
        int rc = SQLITE_BUSY;
        for (int ms = 0; rc == SQLITE_BUSY && ms < kBusyMs; ms += 5)
            if ((rc = sqlite3_wal_checkpoint_v2(g.db, nullptr, SQLITE_CHECKPOINT_FULL, nullptr,
                                                nullptr)) == SQLITE_BUSY)
                usleep(5000);
        return rc == SQLITE_OK || failed();
    });
}

}  // namespace

// The callers are C: nothing may be thrown across these.  Memory that runs
// out is a failure too, and the connection, maybe in a transaction, goes.

extern "C" char *get_var_mem(const char *key) {
    if (key == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(g_mutex);
    try {
        char *value = read_value(key);
        if (!g.error.empty()) say(g.error, true);
        return value;
    } catch (const std::exception &e) {
        return close_connection(), say(std::string("get_var_mem: ") + e.what()), nullptr;
    }
}

extern "C" int write_var(const char *key, const void *value, int kind) {
    char number[24];
    const char *text = kind == 0 ? static_cast<const char *>(value) : nullptr;
    if (kind == 1 && value != nullptr)
        text = number, snprintf(number, sizeof number, "%d", *static_cast<const int *>(value));
    int result = -1;
    std::lock_guard<std::mutex> guard(g_mutex);
    try {
        g.error = kind != 0 && kind != 1    ? "unknown kind " + std::to_string(kind)
                  : key == nullptr || !*key ? "no key"
                  : text == nullptr         ? "no value"
                                            : "";
        if (g.error.empty()) result = write_text(key, text);
        if (result != 0) say("write_var(" + escaped(key) + "): " + g.error + "; nothing stored");
    } catch (const std::exception &e) {
        close_connection(), say(std::string("write_var: ") + e.what());
    }
    kvn_trace("flash write_var %s=%s%s", escaped(key).c_str(), escaped(text).c_str(),
              result == 0 ? "" : " failed");
    return result;
}

extern "C" int save_commit(void) {
    int result = -1;
    std::lock_guard<std::mutex> guard(g_mutex);
    try {
        if ((result = commit()) != 0) say("save_commit: " + g.error);
    } catch (const std::exception &e) {
        close_connection(), say(std::string("save_commit: ") + e.what());
    }
    kvn_trace("flash save_commit%s", result == 0 ? "" : " failed");
    return result;
}

extern "C" const char *flash_setting_path(void) { return configured_path().c_str(); }
