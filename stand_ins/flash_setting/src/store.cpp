// The settings store: one SQLite database at the store's path, in WAL mode.
//
// SQLite is the store that every process of a machine can share: a write is
// a transaction that every process sees once it commits, readers never wait
// for a writer, and with synchronous=NORMAL a write does not wait for the
// disk while a power cut can only lose the writes since the last checkpoint,
// never damage the database.  save_commit is that checkpoint: the WAL is
// synced, copied into the database, and the database synced.
//
// A call takes its process's idle connection, or opens one, and gives it
// back after; a thread never shares one.  The idle one is kept only while the
// files it has open are the ones at the path, which each call checks by their
// identities first.  A forked child drops its parent's unused: SQLite's POSIX
// locks stay with the parent, and a child using the copy could damage the
// database.
//
// SQLite keeps working files beside the database by name: "-wal" and "-shm"
// in WAL mode, "-journal" in rollback mode.  It opens them without following
// links, but a link, FIFO or folder planted at one stops or blocks it, a file
// planted there is taken for its own, and a -wal or -shm replaced while a
// connection has it open splits the processes in two.  So a call looks at
// them before it uses the database:
// - each must be absent or a regular file with one name, owned by the
//   database's owner or root (SQLite gives its files the database's owner);
//   anything else, and a -journal beside a WAL, was planted, and is moved
//   aside as "<name>.refused-<hex>" with a message: never followed, opened or
//   deleted;
// - connections never checkpoint on close, so the -wal and -shm stay from
//   the first connection on, both made by it.  Anything but that pair (one of
//   them alone, neither, a -journal) means a new store, a crash or a removal;
// - a new connection checks that the -shm indexes the -wal at the path.
// Every call holds a shared flock on the store's folder while it uses its
// connection; a call that finds the files other than a whole pair takes the
// flock exclusive, so that leftovers are cleared and the pair made anew only
// while no process has a call in flight on the old files (the idle
// connections on them go at their process's next call).  The folder and not
// a file: closing a descriptor of the database would drop the POSIX locks
// that SQLite holds on it for this process's connections, and a lock file
// would be one more name to remove or plant.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <mutex>
#include <set>
#include <string>

#include "flash_setting.h"
#include "kvn_trace.h"

namespace {

constexpr sqlite3_int64 kMaxStoreBytes = 16 << 20;  // keys and values together
constexpr int kApplicationId = 0x4b564e53;          // "KVNS": a database of this store
constexpr int kBusyMs = 30000;        // SQLite's locks: another writer, a checkpoint's readers
constexpr int kFolderLockMs = 10000;  // the folder's flock: another process's call or mend
// The first connection after every process closed theirs indexes the WAL
// afresh, reading it whole; a writer checkpoints a WAL this long itself.
constexpr int kCheckpointFrames = 64;

// A fork waits for the calls in flight: the child must not inherit a mutex of
// SQLite's held by a thread it does not have.
std::mutex g_gate;  // held across a fork
int g_in_flight = 0;
bool g_forking = false;
const int g_fork_guard = pthread_atfork(
    [] {
        g_gate.lock();
        g_forking = true;
        while (g_in_flight > 0) {
            g_gate.unlock();
            usleep(1000);
            g_gate.lock();
        }
    },
    [] { g_forking = false, g_gate.unlock(); }, [] { g_forking = false, g_gate.unlock(); });

struct InFlight {
    InFlight() {
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(g_gate);
                if (!g_forking) {
                    ++g_in_flight;
                    return;
                }
            }
            usleep(1000);
        }
    }
    ~InFlight() {
        std::lock_guard<std::mutex> guard(g_gate);
        --g_in_flight;
    }
};

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

// Keys and values in the trace and messages: line ends made visible, long
// ones cut.
std::string escaped(const char *text, size_t max = std::string::npos) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (out.size() >= max) return out + "...";
        if (*p == '\n')
            out += "\\n";
        else if (*p == '\r')
            out += "\\r";
        else
            out += *p;
    }
    return out;
}

std::string parent_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool sync_dir(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

// mkdir -p; a folder made here is synced into its parent, or a power cut
// could take the store away with it.
void make_dirs(const std::string &dir) {
    for (size_t pos = 0; pos != std::string::npos;) {
        pos = dir.find('/', pos + 1);
        std::string partial = dir.substr(0, pos);
        if (mkdir(partial.c_str(), 0755) == 0) sync_dir(parent_of(partial));
    }
}

std::string what_is(const struct stat &st) {
    if (S_ISLNK(st.st_mode)) return "a link";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (!S_ISREG(st.st_mode)) return "a special file";
    if (st.st_nlink != 1) return "a file with " + std::to_string(st.st_nlink) + " names";
    return "a file of user " + std::to_string(st.st_uid);
}

std::string random_hex() {
    unsigned int bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits)
        bits =
            static_cast<unsigned int>(getpid()) * 2654435761u ^ static_cast<unsigned int>(clock());
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", bits);
    return hex;
}

// Moves what was planted at `path` out of SQLite's way, keeping it.
bool move_aside(const std::string &path, const std::string &what) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string to = path + ".refused-" + random_hex();
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
            say("warning: " + path + " was " + what + ", not the store's: moved aside to " + to);
            return true;
        }
        if (errno == ENOENT) return true;
        if (errno != EEXIST) break;
    }
    say("cannot move aside " + path + " (" + what + "): " + strerror(errno));
    return false;
}

class Statement {
  public:
    Statement(sqlite3 *db, const char *sql, std::initializer_list<const char *> args) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
        int i = 0;
        for (const char *arg : args)
            if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_text(stmt_, ++i, arg, -1, SQLITE_STATIC);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    // True with a row; false at the end or on an error (then ok() is false).
    bool step() {
        if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return false;
        rc_ = sqlite3_step(stmt_);
        return rc_ == SQLITE_ROW;
    }
    bool run() {
        while (step()) {
        }
        return ok();
    }
    bool ok() const { return rc_ == SQLITE_OK || rc_ == SQLITE_ROW || rc_ == SQLITE_DONE; }
    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt *stmt_ = nullptr;
    int rc_;
};

// A connection, kept between calls while the files it has open are the ones
// at the path.
struct Connection {
    sqlite3 *db = nullptr;
    pid_t pid = getpid();
    std::string path;
    dev_t dev[3] = {};  // the database, -wal and -shm
    ino_t ino[3] = {};
    bool ours = false;  // the database is known to be this store's
    int wal_frames = 0;
    sqlite3_stmt *read = nullptr;  // prepared once: preparing costs more than the read

    Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() {
        sqlite3_finalize(read);
        sqlite3_close(db);
    }
};

// One idle connection a process; more at once are closed after their call.
std::mutex g_idle_mutex;
Connection *g_idle = nullptr;
pid_t g_idle_pid = 0;

Connection *take_idle() {
    std::lock_guard<std::mutex> guard(g_idle_mutex);
    if (g_idle_pid != getpid()) {
        // A forked child: the parent's connection is idle (forks wait for
        // calls) and holds none of the locks SQLite thinks it holds, so it
        // goes, before SQLite would share its state with a new one.
        delete g_idle;
        g_idle = nullptr;
        g_idle_pid = getpid();
    }
    Connection *c = g_idle;
    g_idle = nullptr;
    return c;
}

void keep_idle(Connection *c) {
    {
        std::lock_guard<std::mutex> guard(g_idle_mutex);
        if (g_idle == nullptr && c->pid == g_idle_pid) return void(g_idle = c);
    }
    delete c;
}

const char *const kSides[3] = {"-wal", "-shm", "-journal"};

// One call's hold on the store: the folder's flock and a connection.
class Session {
  public:
    enum Opened { kOpened, kNoStore, kFailed };
    enum Kind { kOurs, kEmpty, kNotOurs };

    Session() = default;
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    ~Session() {
        if (conn_ != nullptr && conn_->db != nullptr && !sqlite3_get_autocommit(conn_->db) &&
            !run("ROLLBACK"))
            clean_ = false;
        // A new connection is kept once the files it opened are known.
        if (conn_ != nullptr) clean_ && (!fresh_ || same_files()) ? keep_idle(conn_) : delete conn_;
        if (folder_ >= 0) close(folder_);  // after the connection is idle or closed
    }

    // `create`: make the folders and the database when they are missing.
    Opened open(bool create);
    Kind kind();
    bool run(const char *sql, std::initializer_list<const char *> args = {}) {
        Statement s(db(), sql, args);
        return s.run() || failed(sql);
    }
    // The first column of the first row, its statement done with.
    bool query(const char *sql, std::initializer_list<const char *> args, sqlite3_int64 *number) {
        Statement s(db(), sql, args);
        if (!s.step()) return failed("reading");
        *number = s.integer(0);
        return true;
    }
    // FULL waits for the other processes' writers and readers to be done with
    // what it copies; PASSIVE copies what it can at once.
    // Another connection's checkpoint makes this one busy at once, without
    // SQLite's wait; it is tried again for as long as that wait would last.
    bool checkpoint(int mode) {
        int rc = sqlite3_wal_checkpoint_v2(db(), nullptr, mode, nullptr, nullptr);
        for (int ms = 0; rc == SQLITE_BUSY && mode != SQLITE_CHECKPOINT_PASSIVE && ms < kBusyMs;
             ms += 5) {
            usleep(5000);
            rc = sqlite3_wal_checkpoint_v2(db(), nullptr, mode, nullptr, nullptr);
        }
        return rc == SQLITE_OK || failed("the checkpoint");
    }
    // False when the database, -wal or -shm at the path are no longer the
    // ones the connection has open (a write may then be lost with them).
    bool same_files();
    sqlite3 *db() const { return conn_->db; }
    Connection *connection() const { return conn_; }
    int wal_frames() const { return conn_->wal_frames; }
    dev_t dev() const { return st_[0].st_dev; }
    ino_t ino() const { return st_[0].st_ino; }
    const std::string &folder() const { return folder_path_; }
    const std::string &error() const { return error_; }
    // Sets the error from SQLite's last one; always false.
    bool failed(const char *doing) {
        clean_ = false;
        int rc = sqlite3_errcode(db());
        if (rc == SQLITE_NOTADB)
            error_ = path_ + " is not a database: refused";
        else if ((rc & 0xff) == SQLITE_CORRUPT)
            error_ = path_ + " is damaged (" + sqlite3_errmsg(db()) + ")";
        else
            error_ = std::string(doing) + " on " + path_ + " failed: " + sqlite3_errmsg(db());
        return false;
    }

  private:
    enum Side { kAbsent, kTheirs, kPlanted };
    Opened fail(const std::string &text) {
        error_ = text;
        return kFailed;
    }
    bool lock_folder(int how);
    Side look(const std::string &path, uid_t owner, std::string *what, struct stat *st);
    Opened mend(bool present, Side sides[3], const std::string what[3]);
    Opened connect();
    bool index_fits_wal();

    int folder_ = -1;
    Connection *conn_ = nullptr;
    bool clean_ = true;  // no error that could leave the connection in doubt
    bool fresh_ = false;
    bool alone_ = false;  // the folder's flock held exclusive
    std::string folder_path_, path_, error_;
    struct stat st_[3] = {};  // the database, -wal and -shm as the call found them
};

// Bounded: anyone who can read the folder can flock it.
bool Session::lock_folder(int how) {
    for (int waited_ms = 0;; waited_ms += 2) {
        if (flock(folder_, how | LOCK_NB) == 0) return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited_ms >= kFolderLockMs) return false;
        usleep(2000);
    }
}

Session::Side Session::look(const std::string &path, uid_t owner, std::string *what,
                            struct stat *st) {
    if (lstat(path.c_str(), st) != 0) {
        *what = strerror(errno);
        return errno == ENOENT ? kAbsent : kPlanted;
    }
    *what = what_is(*st);
    bool sqlites =
        S_ISREG(st->st_mode) && st->st_nlink == 1 && (st->st_uid == owner || st->st_uid == 0);
    return sqlites ? kTheirs : kPlanted;
}

Session::Opened Session::open(bool create) {
    const std::string &configured = configured_path();
    const std::string name = configured.substr(configured.rfind('/') + 1);
    if (name.empty() || name == "." || name == "..") return fail(configured + " names no file");
    // The folder with the links in its path resolved, once a process: SQLite
    // refuses a path with a link in it.  Made when a write finds it missing.
    static std::mutex mutex;
    static std::string resolved;
    const std::string parent = parent_of(configured);
    for (bool made = false; folder_ < 0; made = true) {
        {
            std::lock_guard<std::mutex> guard(mutex);
            char real[PATH_MAX];
            if (resolved.empty() || made) resolved = realpath(parent.c_str(), real) ? real : "";
            folder_path_ = resolved;
        }
        folder_ = folder_path_.empty()
                      ? -1
                      : ::open(folder_path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0 && (errno != ENOENT || !create || made))
            return errno == ENOENT && !create
                       ? kNoStore
                       : fail("cannot open " + parent + ": " + strerror(errno));
        if (folder_ < 0) make_dirs(parent);
    }
    path_ = folder_path_ + (folder_path_ == "/" ? "" : "/") + name;
    if (!lock_folder(LOCK_SH))
        say("warning: " + folder_path_ + " stayed locked by another program; going on", true);

    Side sides[3];
    std::string what[3];
    for (;; alone_ = true) {
        bool present = lstat(path_.c_str(), &st_[0]) == 0;
        if (!present && errno != ENOENT)
            return fail("cannot look at " + path_ + ": " + strerror(errno));
        if (present && !S_ISREG(st_[0].st_mode))
            return fail(path_ + " is " + what_is(st_[0]) + ", not a database: refused");
        if (!present && !create) return kNoStore;
        struct stat journal;
        for (int i = 0; i < 3; ++i)
            sides[i] = look(path_ + kSides[i], present ? st_[0].st_uid : geteuid(), &what[i],
                            i < 2 ? &st_[i + 1] : &journal);
        // SQLite makes no rollback journal in WAL mode: its rollback would wait
        // for every connection to close.
        if (sides[2] == kTheirs && (sides[0] != kAbsent || sides[1] != kAbsent))
            sides[2] = kPlanted, what[2] = "a rollback journal beside a WAL";
        if (present && sides[0] == kTheirs && sides[1] == kTheirs && sides[2] == kAbsent) break;
        if (alone_) {
            Opened mended = mend(present, sides, what);
            if (mended != kOpened) return mended;
            fresh_ = true;  // whatever a kept connection has open is gone or stale
            break;
        }
        if (!lock_folder(LOCK_EX))
            return fail(folder_path_ + " stayed locked by another program: its store not mended");
    }
    Opened opened = connect();
    if (opened != kOpened || !fresh_) return opened;
    kind();  // reads through the index, which may fail
    if (index_fits_wal()) return opened;
    if (!alone_ && !lock_folder(LOCK_EX))
        return fail(folder_path_ + " stayed locked by another program: its store not mended");
    // Alone, and so with no writer starting the WAL afresh in between.
    if ((alone_ = true, index_fits_wal())) return clean_ = true, error_.clear(), opened;
    delete conn_;
    conn_ = nullptr;
    const std::string shm = path_ + kSides[1];
    if (unlink(shm.c_str()) != 0 && errno != ENOENT)
        return fail("cannot remove " + shm + ": " + strerror(errno));
    say("warning: " + shm + " indexed another -wal than " + path_ +
        "-wal: made anew, and the values written after the last commit are lost");
    clean_ = true;
    error_.clear();
    return connect();
}

// The -shm indexes the frames of the -wal whose header salts it copied (SQLite's
// WAL format).  A -wal put in the place of the one it indexes, while another
// process's connection keeps the index, must not be read through it.  Read
// through the connection's own files: a descriptor of the -shm opened and
// closed here would drop the locks SQLite holds on it for this process.
bool Session::index_fits_wal() {
    sqlite3_file *database = nullptr, *wal = nullptr;
    volatile void *index = nullptr;
    sqlite3_file_control(db(), "main", SQLITE_FCNTL_FILE_POINTER, &database);
    sqlite3_file_control(db(), "main", SQLITE_FCNTL_JOURNAL_POINTER, &wal);
    if (database == nullptr || database->pMethods == nullptr || database->pMethods->iVersion < 2 ||
        wal == nullptr || wal->pMethods == nullptr ||
        database->pMethods->xShmMap(database, 0, 32768, 0, &index) != SQLITE_OK || index == nullptr)
        return true;  // not in WAL mode, or nothing indexed yet
    unsigned char header[48], wal_header[32];
    for (size_t i = 0; i < sizeof header; ++i)
        header[i] = static_cast<volatile unsigned char *>(index)[i];
    uint32_t frames = 0;
    memcpy(&frames, header + 16, sizeof frames);
    if (header[12] == 0 || frames == 0) return true;  // the index is empty, or not made yet
    return wal->pMethods->xRead(wal, wal_header, sizeof wal_header, 0) == SQLITE_OK &&
           memcmp(wal_header + 16, header + 32, 8) == 0;
}

// Alone on the store (the folder's flock held exclusive): no process has a
// call in flight on the files seen.
Session::Opened Session::mend(bool present, Side sides[3], const std::string what[3]) {
    for (int i = 0; i < 3; ++i) {
        std::string side = path_ + kSides[i];
        if (sides[i] == kPlanted && !move_aside(side, what[i]))
            return fail(side + " is " + what[i] +
                        " and cannot be moved aside: the store not opened");
        // What is left of a database that is gone would be applied to the new one.
        if (!present && sides[i] == kTheirs) {
            if (unlink(side.c_str()) != 0 && errno != ENOENT)
                return fail("cannot remove " + side + ": " + strerror(errno));
            say("warning: removed " + side + ", left by a database that is gone");
        }
    }
    if (present && sides[0] != kTheirs && sides[1] == kTheirs) {
        // The index of a WAL that is gone.
        std::string shm = path_ + kSides[1];
        if (unlink(shm.c_str()) != 0 && errno != ENOENT)
            return fail("cannot remove " + shm + ": " + strerror(errno));
        say("warning: " + path_ +
            "-wal is gone, and with it the values written after the last commit");
    }
    if (!present) {
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 || fstat(fd, &st_[0]) != 0) {
            if (fd >= 0) close(fd);
            return fail("cannot create " + path_ + ": " + strerror(errno));
        }
        close(fd);
    }
    return kOpened;
}

// The kept connection when it has the files found open, else a new one.
Session::Opened Session::connect() {
    conn_ = take_idle();
    if (conn_ != nullptr && !fresh_ && conn_->path == path_) {
        bool same = true;
        for (int i = 0; i < 3; ++i)
            same = same && conn_->dev[i] == st_[i].st_dev && conn_->ino[i] == st_[i].st_ino;
        if (same) return kOpened;
    }
    delete conn_;
    conn_ = new Connection;
    conn_->path = path_;
    fresh_ = true;
    int rc = sqlite3_open_v2(path_.c_str(), &conn_->db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        clean_ = false;
        return fail("cannot open " + path_ + ": " + sqlite3_errmsg(conn_->db));
    }
    sqlite3_extended_result_codes(conn_->db, 1);
    sqlite3_busy_timeout(conn_->db, kBusyMs);
    sqlite3_db_config(conn_->db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_db_config(conn_->db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_wal_hook(
        conn_->db,
        [](void *frames, sqlite3 *, const char *, int n) {
            *static_cast<int *>(frames) = n;
            return SQLITE_OK;
        },
        &conn_->wal_frames);
    // The WAL keeps its size between checkpoints, so that syncing it is a
    // flush of data alone; one grown by a large value is cut back.
    bool set = run("PRAGMA synchronous=NORMAL") && run("PRAGMA journal_size_limit=1048576");
    return set ? kOpened : kFailed;
}

bool Session::same_files() {
    struct stat now[3];
    for (int i = 0; i < 3; ++i) {
        std::string file = path_ + (i == 0 ? "" : kSides[i - 1]);
        if (lstat(file.c_str(), &now[i]) != 0 || !S_ISREG(now[i].st_mode)) return false;
        if (!fresh_ && (now[i].st_dev != conn_->dev[i] || now[i].st_ino != conn_->ino[i]))
            return false;
    }
    for (int i = 0; i < 3; ++i) conn_->dev[i] = now[i].st_dev, conn_->ino[i] = now[i].st_ino;
    fresh_ = false;
    return true;
}

Session::Kind Session::kind() {
    if (conn_->ours) return kOurs;
    sqlite3_int64 id = 0, objects = 0;
    if (!query("PRAGMA application_id", {}, &id)) return kNotOurs;
    if (id == kApplicationId) return conn_->ours = true, kOurs;
    if (!query("SELECT count(*) FROM sqlite_schema", {}, &objects)) return kNotOurs;
    if (id == 0 && objects == 0) return kEmpty;
    error_ = path_ + " is a database of another program: refused";
    return kNotOurs;
}

char *read_value(const char *key, std::string *error) {
    Session s;
    Session::Opened opened = s.open(false);
    Session::Kind kind = opened == Session::kOpened ? s.kind() : Session::kEmpty;
    if (opened == Session::kFailed || kind == Session::kNotOurs) {
        *error = s.error();
        return nullptr;
    }
    if (opened == Session::kNoStore || kind == Session::kEmpty) return nullptr;
    sqlite3_stmt *&read = s.connection()->read;
    if (read == nullptr &&
        sqlite3_prepare_v3(s.db(), "SELECT value FROM settings WHERE key = ?1", -1,
                           SQLITE_PREPARE_PERSISTENT, &read, nullptr) != SQLITE_OK)
        return s.failed("reading"), *error = s.error(), nullptr;
    sqlite3_bind_text(read, 1, key, -1, SQLITE_STATIC);
    int rc = sqlite3_step(read);
    const unsigned char *text = rc == SQLITE_ROW ? sqlite3_column_text(read, 0) : nullptr;
    char *value = text != nullptr ? strdup(reinterpret_cast<const char *>(text)) : nullptr;
    sqlite3_reset(read);  // ends the read transaction
    sqlite3_clear_bindings(read);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) s.failed("reading"), *error = s.error();
    return value;
}

int write_text(const char *key, const char *text, std::string *error) {
    const sqlite3_int64 bytes = static_cast<sqlite3_int64>(strlen(key) + strlen(text));
    if (bytes > kMaxStoreBytes) {
        *error = std::to_string(bytes) + " bytes of key and value, more than a store holds (" +
                 std::to_string(kMaxStoreBytes) + ")";
        return -1;
    }
    Session s;
    if (s.open(true) != Session::kOpened) return *error = s.error(), -1;
    // A new store, or ours put back in rollback mode by hand, goes to WAL mode (for one in it
    // already, nothing is done); another program's database is left as it is.
    if (s.kind() == Session::kNotOurs || !s.run("PRAGMA journal_mode=WAL") ||
        !s.run("BEGIN IMMEDIATE"))
        return *error = s.error(), -1;
    Session::Kind kind = s.kind();  // again, now that no other writer can make it
    if (kind == Session::kNotOurs) return *error = s.error(), -1;
    if (kind == Session::kEmpty &&
        !(s.run("CREATE TABLE settings (key TEXT PRIMARY KEY NOT NULL, value TEXT NOT NULL) "
                "WITHOUT ROWID") &&
          s.run(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str())))
        return *error = s.error(), -1;
    sqlite3_int64 others = 0;
    if (!s.query("SELECT coalesce(sum(length(CAST(key AS BLOB)) + length(CAST(value AS BLOB))), 0) "
                 "FROM settings WHERE key <> ?1",
                 {key}, &others))
        return *error = s.error(), -1;
    if (others + bytes > kMaxStoreBytes) {
        *error = "the store would hold " + std::to_string(others + bytes) +
                 " bytes of keys and values, more than it holds (" +
                 std::to_string(kMaxStoreBytes) + ")";
        return -1;
    }
    if (!s.run("INSERT INTO settings (key, value) VALUES (?1, ?2) "
               "ON CONFLICT (key) DO UPDATE SET value = excluded.value",
               {key, text}) ||
        !s.run("COMMIT"))
        return *error = s.error(), -1;
    if (!s.same_files()) {
        *error = "the store's files were replaced during the write";
        return -1;
    }
    // Written already: the checkpoint's result does not count.
    if (s.wal_frames() >= kCheckpointFrames) s.checkpoint(SQLITE_CHECKPOINT_PASSIVE);
    return 0;
}

int commit(std::string *error) {
    Session s;
    Session::Opened opened = s.open(false);
    if (opened == Session::kNoStore) return 0;
    if (opened == Session::kFailed || s.kind() == Session::kNotOurs ||
        !s.checkpoint(SQLITE_CHECKPOINT_FULL))
        return *error = s.error(), -1;
    // The database's own name, made by an earlier call, reaches the disk once.
    static std::mutex mutex;
    static dev_t synced_dev = 0;
    static ino_t synced_ino = 0;
    std::lock_guard<std::mutex> guard(mutex);
    if (synced_dev == s.dev() && synced_ino == s.ino()) return 0;
    if (!sync_dir(s.folder()))
        return *error = "cannot sync " + s.folder() + ": " + strerror(errno), -1;
    synced_dev = s.dev(), synced_ino = s.ino();
    return 0;
}

}  // namespace

// The callers are C: nothing may be thrown across these.

extern "C" char *get_var_mem(const char *key) {
    if (key == nullptr) return nullptr;
    InFlight in_flight;
    try {
        std::string error;
        char *value = read_value(key, &error);
        if (!error.empty()) say(error, true);
        return value;
    } catch (const std::exception &e) {
        say("get_var_mem(" + escaped(key, 200) + "): " + e.what());
        return nullptr;
    }
}

extern "C" int write_var(const char *key, const void *value, int kind) {
    char number[24];
    const char *text = nullptr;
    if (kind == 1 && value != nullptr) {
        snprintf(number, sizeof number, "%d", *static_cast<const int *>(value));
        text = number;
    } else if (kind == 0) {
        text = static_cast<const char *>(value);
    }
    std::string error;
    if (kind != 0 && kind != 1)
        error = "unknown kind " + std::to_string(kind);
    else if (key == nullptr || *key == '\0')
        error = "no key";
    else if (text == nullptr)
        error = "no value";
    int result = -1;
    if (error.empty()) {
        InFlight in_flight;
        try {
            result = write_text(key, text, &error);
        } catch (const std::exception &e) {
            error = e.what();
        }
    }
    if (result != 0) say("write_var(" + escaped(key, 200) + "): " + error + "; nothing stored");
    kvn_trace("flash write_var %s=%s%s", escaped(key, 200).c_str(), escaped(text, 200).c_str(),
              result == 0 ? "" : " failed");
    return result;
}

extern "C" int save_commit(void) {
    std::string error;
    int result = -1;
    {
        InFlight in_flight;
        try {
            result = commit(&error);
        } catch (const std::exception &e) {
            error = e.what();
        }
    }
    if (result != 0) say("save_commit: " + error);
    kvn_trace("flash save_commit%s", result == 0 ? "" : " failed");
    return result;
}

extern "C" const char *flash_setting_path(void) {
    InFlight in_flight;
    return configured_path().c_str();
}
