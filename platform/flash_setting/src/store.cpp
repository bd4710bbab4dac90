// File handling of the settings store.
//
// The committed store "<store>" is the only file that must survive a power
// cut; a commit replaces it through "<store>.tmp", synced before and after
// the rename.  The values written since the last commit must reach every
// process at once, but need not survive, so they go to a live copy in
// memory: "<run dir>/<random>-<name>.live", the run dir being
// /run/kvn-flash-setting ($FLASH_SETTING_RUN_DIR; empty or unusable: the
// live copy lies beside the store as "<store>.live").  The first writer
// names the live copy on the first line of the lock file "<store>.lock",
// and that name stays for the life of the lock file: every process finds
// the same copy, and a store made anew never meets the live copy of one
// that was deleted.
//
// The live copy, when there is one, holds every value in force (writers
// always write all of them); without it the committed file holds them.
// Both are only ever replaced by rename, so no reader sees a torn file.
// Writers take the lock file's flock, so temporaries have fixed names:
// one left by a killed writer is replaced, or removed, at the next write.
//
// Readers never take the flock nor wait for this process's writer: they
// keep the values in force and an open descriptor on the file they came
// from, and look again when one stat shows another file there.  The
// descriptor pins the inode: on ext4 a replaced file's inode is reused at
// once, and two replacements within one timestamp tick would otherwise give
// a new file the very identity (inode, size, mtime) of the cached one.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "flash_setting.h"
#include "kvn_trace.h"
#include "store_format.h"

namespace {

using Values = std::map<std::string, std::string>;
using flash_setting::kMaxStoreBytes;

// Readers keep what fits in a store and look this far into a bigger file;
// all of a huge one would take the time and memory of a small box.
constexpr size_t kMaxScanBytes = 4 * kMaxStoreBytes;

struct Identity {
    bool present = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {0, 0};

    static Identity of(const struct stat &st) {
        Identity id;
        id.present = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.mtime = st.st_mtim;
        return id;
    }
    bool operator==(const Identity &o) const {
        return present == o.present && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

// A file as last parsed, held open.
struct Pinned {
    int fd = -1;
    Identity id;

    Pinned() = default;
    Pinned(const Pinned &) = delete;
    Pinned &operator=(const Pinned &) = delete;
    ~Pinned() { reset(); }
    void reset(int new_fd = -1, const Identity &new_id = Identity()) {
        if (fd >= 0) close(fd);
        fd = new_fd;
        id = new_id;
    }
    void take(Pinned &other) {
        reset(other.fd, other.id);
        other.fd = -1;
        other.id = Identity();
    }
};

// What readers see; its mutex is held for a stat, or for reading a file
// that changed, never across a writer's lock or disk writes.
struct View {
    std::mutex mutex;
    std::string live;  // the live copy's path, once a writer has named it
    uid_t owner = 0;   // the lock file's owner: who alone may have written the live copy
    Pinned live_pin, committed_pin;  // live_pin present: the values came from the live copy
    bool valid = false;
    Values values;
    std::set<std::string> warned;
};

struct Store {
    std::mutex writer;  // one writer at a time in this process; readers never take it
    View view;
    std::string path, lock, dir, commit_temp, run_dir;
    std::string live;  // as the writers of this process know it
    bool live_ready = false;  // its folder checked

    Store() {
        const char *env = getenv("FLASH_SETTING_FILE");
        path = (env != nullptr && *env != '\0') ? env : "/opt/kvn/var/flash_setting.db";
        char cwd[4096];
        if (path[0] != '/' && getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
        lock = path + ".lock";
        commit_temp = path + ".tmp";
        size_t slash = path.rfind('/');
        dir = slash == 0 ? "/" : path.substr(0, slash);
        const char *run = getenv("FLASH_SETTING_RUN_DIR");
        run_dir = run != nullptr ? run : "/run/kvn-flash-setting";
    }
};

Store &store();

// A child forked while another thread is inside the store, or making it,
// would inherit a locked mutex (or a half-made store) and hang at its first
// call; forking waits for that call.  The store itself is made at first use,
// so that a process may choose its path until then.
std::mutex g_making;
std::atomic<Store *> g_store{nullptr};

void before_fork() {
    g_making.lock();
    if (Store *s = g_store.load()) {
        s->writer.lock();
        s->view.mutex.lock();
    }
}
void after_fork() {
    if (Store *s = g_store.load()) {
        s->view.mutex.unlock();
        s->writer.unlock();
    }
    g_making.unlock();
}
const int g_fork_guard = pthread_atfork(before_fork, after_fork, after_fork);

Store &store() {
    if (Store *s = g_store.load(std::memory_order_acquire)) return *s;
    std::lock_guard<std::mutex> making(g_making);
    if (g_store.load() == nullptr) g_store.store(new Store());  // never destroyed: callers may run during exit
    return *g_store.load();
}

// Keys and values in messages and the trace, with line ends made visible
// and long values cut.
std::string escaped(const char *text, size_t max = std::string::npos) {
    if (text == nullptr) return "(null)";
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (out.size() >= max) return out + "...";
        if (*p == '\n') out += "\\n";
        else if (*p == '\r') out += "\\r";
        else out += *p;
    }
    return out;
}
std::string printable(const char *text, size_t max = std::string::npos) {
    return text == nullptr ? "(null)" : "\"" + escaped(text, max) + "\"";
}

Identity identify(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Identity::of(st);
    return Identity();
}

std::string parent_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool sync_dir(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

// mkdir -p; a directory made here is synced into its parent, or a power cut
// could take the store away with it.
void make_dirs(const std::string &dir) {
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        std::string partial = dir.substr(0, pos);
        if (mkdir(partial.c_str(), 0755) == 0) sync_dir(parent_of(partial));
    }
}

// A directory only this user (or root) can write in, so that nobody else
// can have put a live copy there.
bool private_dir(const std::string &dir) {
    make_dirs(dir);
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 022) == 0 &&
           (st.st_uid == geteuid() || st.st_uid == 0) && access(dir.c_str(), W_OK) == 0;
}

// Parses one file into `values` and pins it: 1.  0 when it is missing or
// not a regular file (a FIFO there must not block the reader); -1 when
// reading it failed, with `values` untouched: a part of a store taken for
// the whole would lose the rest at the next write.  Warns once per damaged
// version of the file.  `owner`: the file is only trusted when that user
// made it and nobody else can write it.
int load(View &v, const std::string &path, Pinned *pin, Values *values, const uid_t *owner) {
    pin->reset();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;  // absent, or replaced this instant: the next look finds the new one
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 0;
    }
    Identity id = Identity::of(st);
    std::string tag = path + "@" + std::to_string(id.ino) + ":" + std::to_string(id.size) + ":" +
                      std::to_string(id.mtime.tv_sec) + "." + std::to_string(id.mtime.tv_nsec);
    if (!S_ISREG(st.st_mode)) {
        if (v.warned.insert(tag).second)
            fprintf(stderr, "flash_setting: warning: %s is not a regular file; read as missing\n", path.c_str());
        close(fd);
        return 0;
    }
    if (owner != nullptr && ((st.st_uid != *owner && st.st_uid != 0) || (st.st_mode & 022) != 0)) {
        if (v.warned.insert(tag).second)
            fprintf(stderr, "flash_setting: warning: %s was not written by the store's owner; ignored\n",
                    path.c_str());
        close(fd);
        return 0;
    }
    flash_setting::Parser parser;
    char buffer[65536];
    size_t scanned = 0;
    int read_errno = 0;
    while (scanned < kMaxScanBytes) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) read_errno = errno;
        if (n <= 0) break;
        parser.feed(buffer, static_cast<size_t>(n));
        scanned += static_cast<size_t>(n);
    }
    if (read_errno != 0) {
        fprintf(stderr, "flash_setting: cannot read %s: %s\n", path.c_str(), strerror(read_errno));
        close(fd);
        return -1;
    }
    pin->reset(fd, id);

    flash_setting::ParseResult parsed = parser.finish();
    std::string what;
    auto note = [&what](const std::string &problem) { what += (what.empty() ? "" : ", ") + problem; };
    auto lines = [](size_t n, const char *what, size_t first) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s") + " (first: line " + std::to_string(first) + ")";
    };
    if (scanned >= kMaxScanBytes && static_cast<size_t>(st.st_size) > scanned)
        note(std::to_string(st.st_size) + " bytes, of which only the first " + std::to_string(scanned) +
             " are read");
    if (parsed.damaged()) {
        if (parsed.bytes == 0) note("it is empty");
        if (parsed.bytes > 0 && !parsed.header_ok) note("no format marker on its first line");
        if (parsed.damaged_lines > 0) note(lines(parsed.damaged_lines, "damaged line", parsed.first_damaged_line));
        if (parsed.duplicate_keys > 0)
            note(lines(parsed.duplicate_keys, "repeated key", parsed.first_duplicate_line) + ", the last one kept");
        if (parsed.over_limit > 0)
            note(std::to_string(parsed.over_limit) + " entries beyond the " + std::to_string(kMaxStoreBytes) +
                 " bytes a store holds");
        if (parsed.truncated) note("the last line cut short");
    }
    if (!what.empty() && v.warned.insert(tag).second) {
        size_t kept = parsed.values.size();
        fprintf(stderr, "flash_setting: warning: %s is damaged: %s; keeping the %zu entr%s that still read\n",
                path.c_str(), what.c_str(), kept, kept == 1 ? "y" : "ies");
    }
    values->swap(parsed.values);
    return 1;
}

// The live copy's name on the lock file's first line: 1 when found, 0 when
// the file names none (yet), -1 when it cannot be read.
int read_record(int fd, std::string *live, uid_t *owner) {
    struct stat st;
    char line[4096];
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    ssize_t n = pread(fd, line, sizeof line - 1, 0);
    if (n < 0) return -1;
    char *end = static_cast<char *>(memchr(line, '\n', static_cast<size_t>(n)));
    if (n < 2 || line[0] != '/' || end == nullptr || memchr(line, '\0', static_cast<size_t>(end - line)) != nullptr)
        return 0;
    live->assign(line, static_cast<size_t>(end - line));
    *owner = st.st_uid;
    return 1;
}

void learn_live_path(const Store &s, View &v) {
    int fd = open(s.lock.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    read_record(fd, &v.live, &v.owner);
    close(fd);
}

// Brings the view up to date with the files; caller holds v.mutex.  False
// when the file in force could not be read: the view stays as it was, and
// no writer may build on it.
bool refresh(const Store &s, View &v) {
    if (v.live.empty()) learn_live_path(s, v);
    if (!v.live.empty()) {
        Identity live = identify(v.live);
        if (live.present) {
            if (v.valid && live == v.live_pin.id) return true;
            Values values;
            int loaded = load(v, v.live, &v.live_pin, &values, &v.owner);
            if (loaded < 0) return false;
            if (loaded > 0) {
                v.values.swap(values);
                v.committed_pin.reset();
                v.valid = true;
                return true;
            }
        }
    }
    // No live copy: the committed file alone (none yet this boot, or lost).
    if (v.valid && !v.live_pin.id.present && identify(s.path) == v.committed_pin.id) return true;
    v.live_pin.reset();
    Values values;
    if (load(v, s.path, &v.committed_pin, &values, nullptr) < 0) return false;
    v.values.swap(values);
    v.valid = true;
    return true;
}

bool write_all(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces `target` by `data` through `temp` and rename; with `durable`, the
// data reaches the disk before the rename and the rename before the return.
// Caller holds the file lock, so that `temp` is its own.  On success the
// new file is pinned in `pin`.
bool replace_file(const std::string &temp, const std::string &target, const std::string &data, bool durable,
                  Pinned *pin) {
    unlink(temp.c_str());  // a killed writer's
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "flash_setting: cannot create %s: %s\n", temp.c_str(), strerror(errno));
        return false;
    }
    const char *step = "write";
    bool ok = write_all(fd, data);
    if (ok && durable && fsync(fd) != 0) ok = false, step = "sync";
    if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false, step = "rename onto";
    if (!ok) {
        fprintf(stderr, "flash_setting: cannot %s %s: %s; it keeps its former values\n", step, target.c_str(),
                strerror(errno));
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) == 0) {
        pin->reset(fd, Identity::of(st));
    } else {
        close(fd);
        pin->reset();
    }
    if (durable && !sync_dir(parent_of(target))) {
        fprintf(stderr, "flash_setting: cannot sync %s: %s\n", parent_of(target).c_str(), strerror(errno));
        return false;
    }
    return true;
}

// Across processes; the writer mutex already keeps this process's threads
// apart.
class FileLock {
public:
    explicit FileLock(Store &s) {
        const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        fd_ = open(s.lock.c_str(), flags, 0644);
        if (fd_ < 0 && errno == ENOENT) {
            make_dirs(s.dir);
            fd_ = open(s.lock.c_str(), flags, 0644);
        }
        struct stat st;
        if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            close(fd_);
            fd_ = -1;
            errno = EINVAL;
        }
        if (fd_ < 0) {
            fprintf(stderr, "flash_setting: cannot open the lock %s: %s; nothing stored\n", s.lock.c_str(),
                    strerror(errno));
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                fprintf(stderr, "flash_setting: cannot lock %s: %s; nothing stored\n", s.lock.c_str(),
                        strerror(errno));
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);  // drops the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool held() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::string random_name() {
    unsigned char bytes[12];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long mix = static_cast<unsigned long long>(now.tv_nsec) ^ (static_cast<unsigned long long>(getpid()) << 32);
        memcpy(bytes, &mix, sizeof mix);
        memcpy(bytes + sizeof mix, &now.tv_sec, sizeof bytes - sizeof mix);
    }
    std::string out;
    for (unsigned char b : bytes) {
        out += "0123456789abcdef"[b >> 4];
        out += "0123456789abcdef"[b & 15];
    }
    return out;
}

// The live copy's path for a writer holding the lock: as the lock file
// names it, or chosen now and named there for good.  Empty when it cannot
// be used.
const std::string &live_path(Store &s, const FileLock &lock) {
    static const std::string none;
    if (s.live_ready) return s.live;
    uid_t owner = 0;
    int found = read_record(lock.fd(), &s.live, &owner);
    if (found < 0) {
        fprintf(stderr, "flash_setting: cannot read %s: %s; nothing stored\n", s.lock.c_str(), strerror(errno));
        return none;
    }
    if (found == 0) {
        std::string live = s.path + ".live";
        if (!s.run_dir.empty() && s.run_dir[0] == '/' && private_dir(s.run_dir))
            live = s.run_dir + "/" + random_name() + "-" + s.path.substr(s.path.rfind('/') + 1) + ".live";
        std::string line = live + "\n";
        if (ftruncate(lock.fd(), 0) != 0 ||
            pwrite(lock.fd(), line.data(), line.size(), 0) != static_cast<ssize_t>(line.size())) {
            fprintf(stderr, "flash_setting: cannot name the live copy in %s: %s; nothing stored\n",
                    s.lock.c_str(), strerror(errno));
            return none;
        }
        if (read_record(lock.fd(), &s.live, &owner) != 1) return none;
    }
    {
        // Set once: flash_setting_live_path() hands out its characters.
        std::lock_guard<std::mutex> guard(s.view.mutex);
        if (s.view.live.empty()) s.view.live = s.live;
        s.view.owner = owner;
    }
    std::string parent = parent_of(s.live);
    if (parent != s.dir && !private_dir(parent)) {
        fprintf(stderr, "flash_setting: cannot keep the live copy in %s; nothing stored\n", parent.c_str());
        return none;
    }
    s.live_ready = true;
    return s.live;
}

int write_text(const char *key, const char *text) {
    Store &s = store();
    if (flash_setting::header_bytes() + strlen(key) + strlen(text) + 2 > kMaxStoreBytes) {
        fprintf(stderr, "flash_setting: write_var(%s): a value of %zu bytes is more than a store holds (%zu); "
                "nothing stored\n", key, strlen(text), kMaxStoreBytes);
        return -1;
    }
    std::lock_guard<std::mutex> guard(s.writer);
    FileLock lock(s);
    if (!lock.held()) return -1;
    const std::string &live = live_path(s, lock);
    if (live.empty()) return -1;
    unlink(s.commit_temp.c_str());  // left by a committer that was killed
    Values values;
    {
        // Read again under the lock: another process may have written since.
        std::lock_guard<std::mutex> view_guard(s.view.mutex);
        if (!refresh(s, s.view)) {
            fprintf(stderr, "flash_setting: write_var(%s): the store cannot be read; nothing stored\n", key);
            return -1;
        }
        auto it = s.view.values.find(key);
        if (it != s.view.values.end() && it->second == text && s.view.live_pin.id.present) return 0;
        values = s.view.values;
    }
    values[key] = text;
    std::string data = flash_setting::serialise(values);
    if (data.size() > kMaxStoreBytes) {
        fprintf(stderr, "flash_setting: write_var(%s): the store would grow to %zu bytes, more than it holds "
                "(%zu); nothing stored\n", key, data.size(), kMaxStoreBytes);
        return -1;
    }
    Pinned pin;
    std::string temp = live + ".tmp";
    if (!replace_file(temp, live, data, false, &pin)) {
        s.live_ready = false;  // check its folder again next time
        return -1;
    }
    std::lock_guard<std::mutex> view_guard(s.view.mutex);
    s.view.values.swap(values);
    s.view.live_pin.take(pin);
    s.view.committed_pin.reset();
    s.view.valid = true;
    return 0;
}

int commit() {
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.writer);
    FileLock lock(s);
    if (!lock.held()) return -1;
    std::string data;
    {
        std::lock_guard<std::mutex> view_guard(s.view.mutex);
        if (!refresh(s, s.view)) {
            fprintf(stderr, "flash_setting: save_commit: the store cannot be read; nothing committed\n");
            return -1;
        }
        data = flash_setting::serialise(s.view.values);
    }
    Pinned pin;
    if (!replace_file(s.commit_temp, s.path, data, true, &pin)) return -1;
    std::lock_guard<std::mutex> view_guard(s.view.mutex);
    if (!s.view.live_pin.id.present) s.view.committed_pin.take(pin);
    return 0;
}

}  // namespace

// The callers are C: nothing may be thrown across these.

extern "C" char *get_var_mem(const char *key) {
    if (key == nullptr) return nullptr;
    try {
        View &v = store().view;
        std::lock_guard<std::mutex> guard(v.mutex);
        (void)refresh(store(), v);  // unreadable now: the values last read
        auto it = v.values.find(key);
        if (it == v.values.end()) return nullptr;
        return strdup(it->second.c_str());
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: get_var_mem(%s): %s\n", printable(key).c_str(), e.what());
        return nullptr;
    }
}

namespace {

int write_checked(const char *key, const char *text, int kind) {
    if (kind != 0 && kind != 1) {
        fprintf(stderr, "flash_setting: write_var(%s): unknown kind %d; nothing stored\n", printable(key).c_str(),
                kind);
        return -1;
    }
    if (!flash_setting::key_is_storable(key)) {
        fprintf(stderr,
                "flash_setting: write_var: the key %s cannot be stored (missing, empty, or holding "
                "'=' or a line end); nothing stored\n",
                printable(key).c_str());
        return -1;
    }
    if (!flash_setting::value_is_storable(text)) {
        fprintf(stderr,
                "flash_setting: write_var(%s): the value %s cannot be stored (missing, or holding a "
                "line end); nothing stored\n",
                key, printable(text, 200).c_str());
        return -1;
    }
    try {
        return write_text(key, text);
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: write_var(%s): %s; nothing stored\n", key, e.what());
        return -1;
    }
}

}  // namespace

extern "C" int write_var(const char *key, const void *value, int kind) {
    char number[24];
    const char *text = nullptr;
    if (kind == 1 && value != nullptr) {
        snprintf(number, sizeof number, "%d", *static_cast<const int *>(value));
        text = number;
    } else if (kind == 0) {
        text = static_cast<const char *>(value);
    }
    int result = write_checked(key, text, kind);
    kvn_trace("flash write_var %s=%s%s", escaped(key, 200).c_str(), escaped(text, 200).c_str(),
              result == 0 ? "" : " failed");
    return result;
}

extern "C" int save_commit(void) {
    int result;
    try {
        result = commit();
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: save_commit: %s\n", e.what());
        result = -1;
    }
    kvn_trace("flash save_commit%s", result == 0 ? "" : " failed");
    return result;
}

extern "C" const char *flash_setting_path(void) { return store().path.c_str(); }

extern "C" const char *flash_setting_live_path(void) {
    View &v = store().view;
    std::lock_guard<std::mutex> guard(v.mutex);
    if (v.live.empty()) learn_live_path(store(), v);
    return v.live.empty() ? nullptr : v.live.c_str();
}
