// File handling of the settings store.
//
// Three files live side by side: the committed store (durable), a live copy
// "<store>.live" (every write lands there at once, so other processes see
// it) and a lock file "<store>.lock".  The values in force are the committed
// ones overlaid by the live ones; the live copy is always written from that
// overlay, so it holds everything, and a live copy lost or emptied by a
// power cut only falls back to the last commit.  Both files are only ever
// replaced by rename from "<store>.tmp.<pid>.<n>", so no reader sees a torn
// file; a temporary left by a killed writer is never read and goes at the
// next commit.
//
// Readers keep the parsed values and an open descriptor on each file they
// parsed.  The descriptor pins the inode: on ext4 a replaced file's inode is
// reused at once, and two replacements within one timestamp tick would
// otherwise give a new file the very identity (inode, size, mtime) of the
// cached one.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "flash_setting.h"
#include "store_format.h"

namespace {

using Values = std::map<std::string, std::string>;

// No real store comes near this; a bigger file is junk, and reading all of
// it could take the memory of a small box.
constexpr size_t kMaxStoreBytes = 16u << 20;

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

    void reset(int new_fd, const Identity &new_id) {
        if (fd >= 0) close(fd);
        fd = new_fd;
        id = new_id;
    }
};

struct Store {
    std::mutex mutex;  // guards everything below; one operation at a time in this process
    std::string path, live, lock, dir, temp_prefix;
    Pinned committed_pin, live_pin;
    bool cache_valid = false;
    Values cached;
    std::set<std::string> warned;
    unsigned temp_counter = 0;

    Store() {
        const char *env = getenv("FLASH_SETTING_FILE");
        path = (env != nullptr && *env != '\0') ? env : "/opt/kvn/var/flash_setting.db";
        live = path + ".live";
        lock = path + ".lock";
        temp_prefix = path + ".tmp.";
        size_t slash = path.rfind('/');
        dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    }
};

Store &store();

// A child forked while another thread is inside the store would inherit a
// locked mutex and hang at its first call; forking waits for that call.
void before_fork() { store().mutex.lock(); }
void after_fork() { store().mutex.unlock(); }

Store &store() {
    static Store *instance = [] {
        Store *s = new Store();  // never destroyed: callers may run during exit
        pthread_atfork(before_fork, after_fork, after_fork);
        return s;
    }();
    return *instance;
}

// Keys and values in messages, with line ends made visible.
std::string printable(const char *text) {
    if (text == nullptr) return "(null)";
    std::string out = "\"";
    for (const char *p = text; *p; ++p) {
        if (*p == '\n') out += "\\n";
        else if (*p == '\r') out += "\\r";
        else out += *p;
    }
    return out + "\"";
}

Identity identify(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return Identity::of(st);
    return Identity();
}

void sync_dir(const std::string &dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// mkdir -p; a directory made here is synced into its parent, or a power cut
// could take the store away with it.
void make_dirs(const std::string &dir) {
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        std::string partial = dir.substr(0, pos);
        if (mkdir(partial.c_str(), 0755) == 0) {
            size_t slash = partial.rfind('/');
            sync_dir(slash == std::string::npos ? "." : (slash == 0 ? "/" : partial.substr(0, slash)));
        }
    }
}

// Parses one file into `values` (overlaying) and pins it.  Warns once per
// damaged version of the file.
void load(Store &s, const std::string &path, Pinned *pin, Values *values) {
    pin->reset(-1, Identity());
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;  // absent, or replaced this instant: the next look finds the new one
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return;
    }
    Identity id = Identity::of(st);
    std::string tag = path + "@" + std::to_string(id.ino) + ":" + std::to_string(id.size) + ":" +
                      std::to_string(id.mtime.tv_sec) + "." + std::to_string(id.mtime.tv_nsec);
    std::string data;
    data.resize(st.st_size > 0 ? std::min(static_cast<size_t>(st.st_size), kMaxStoreBytes) : 0);
    size_t got = 0;
    int read_errno = 0;
    while (got < data.size()) {
        ssize_t n = read(fd, &data[got], data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) read_errno = errno;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    pin->reset(fd, id);

    flash_setting::ParseResult parsed = flash_setting::parse(data.data(), data.size());
    std::string what;
    auto note = [&what](const std::string &problem) { what += (what.empty() ? "" : ", ") + problem; };
    if (read_errno != 0) note(std::string("reading failed (") + strerror(read_errno) + ")");
    if (static_cast<size_t>(st.st_size) > kMaxStoreBytes)
        note(std::to_string(st.st_size) + " bytes, of which only the first " +
             std::to_string(kMaxStoreBytes) + " are read");
    if (parsed.damaged(data.size())) {
        if (data.empty()) note("it is empty");
        if (!data.empty() && !parsed.header_ok) note("no format marker on its first line");
        if (parsed.damaged_lines > 0)
            note(std::to_string(parsed.damaged_lines) + " damaged line" +
                 (parsed.damaged_lines == 1 ? "" : "s") + " (first: line " +
                 std::to_string(parsed.first_damaged_line) + ")");
        if (parsed.truncated) note("the last line cut short");
    }
    if (!what.empty() && s.warned.insert(tag).second) {
        size_t kept = parsed.values.size();
        fprintf(stderr, "flash_setting: warning: %s is damaged: %s; keeping the %zu entr%s that still read\n",
                path.c_str(), what.c_str(), kept, kept == 1 ? "y" : "ies");
    }
    for (auto &kv : parsed.values) (*values)[kv.first].swap(kv.second);
}

// The values in force; caller holds s.mutex.
const Values &current(Store &s) {
    if (s.cache_valid && identify(s.path) == s.committed_pin.id && identify(s.live) == s.live_pin.id)
        return s.cached;
    s.cache_valid = false;
    Values values;
    load(s, s.path, &s.committed_pin, &values);
    load(s, s.live, &s.live_pin, &values);
    s.cached.swap(values);
    s.cache_valid = true;
    return s.cached;
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

// Replaces `target` by `data` through a temporary file and rename; with
// `durable`, the data reaches the disk before the rename and the rename
// before the return.  On success the new file is pinned in `pin`.
bool replace_file(Store &s, const std::string &target, const std::string &data, bool durable,
                  Pinned *pin) {
    std::string temp = s.temp_prefix + std::to_string(getpid()) + "." + std::to_string(s.temp_counter++);
    int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "flash_setting: cannot create %s: %s\n", temp.c_str(), strerror(errno));
        return false;
    }
    const char *step = "write";
    bool ok = write_all(fd, data);
    if (ok && durable && fsync(fd) != 0) ok = false, step = "sync";
    if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false, step = "rename onto";
    if (!ok) {
        fprintf(stderr, "flash_setting: cannot %s %s: %s; it keeps its former values\n", step,
                target.c_str(), strerror(errno));
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) == 0) {
        pin->reset(fd, Identity::of(st));
    } else {
        close(fd);
        pin->reset(-1, Identity());
    }
    if (durable) {
        int dfd = open(s.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd < 0 || fsync(dfd) != 0) {
            fprintf(stderr, "flash_setting: cannot sync %s: %s\n", s.dir.c_str(), strerror(errno));
            ok = false;
        }
        if (dfd >= 0) close(dfd);
    }
    return ok;
}

// Across processes; the mutex already keeps this process's threads apart.
class FileLock {
public:
    explicit FileLock(Store &s) {
        fd_ = open(s.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno == ENOENT) {
            make_dirs(s.dir);
            fd_ = open(s.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        }
        if (fd_ < 0) {
            fprintf(stderr, "flash_setting: cannot open the lock %s: %s; nothing stored\n",
                    s.lock.c_str(), strerror(errno));
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

private:
    int fd_ = -1;
};

// Temporaries left by writers that were killed mid-way; only called with
// the file lock held, when no live writer can be making one.
void remove_stale_temporaries(Store &s) {
    std::string prefix = s.temp_prefix.substr(s.temp_prefix.rfind('/') + 1);
    DIR *d = opendir(s.dir.c_str());
    if (d == nullptr) return;
    while (struct dirent *e = readdir(d)) {
        if (strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
            std::string full = s.dir + "/" + e->d_name;
            unlink(full.c_str());
        }
    }
    closedir(d);
}

int write_text(const char *key, const char *text) {
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.mutex);
    FileLock lock(s);
    if (!lock.held()) return -1;
    // Read again under the lock: another process may have written since.
    Values values = current(s);
    auto it = values.find(key);
    if (it != values.end() && it->second == text && s.live_pin.id.present) return 0;
    values[key] = text;
    if (!replace_file(s, s.live, flash_setting::serialise(values), false, &s.live_pin)) return -1;
    s.cached.swap(values);
    return 0;
}

int commit() {
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.mutex);
    FileLock lock(s);
    if (!lock.held()) return -1;
    remove_stale_temporaries(s);
    const Values &values = current(s);
    return replace_file(s, s.path, flash_setting::serialise(values), true, &s.committed_pin) ? 0 : -1;
}

}  // namespace

// The callers are C: nothing may be thrown across these.

extern "C" char *get_var_mem(const char *key) {
    if (key == nullptr) return nullptr;
    try {
        Store &s = store();
        std::lock_guard<std::mutex> guard(s.mutex);
        const Values &values = current(s);
        auto it = values.find(key);
        if (it == values.end()) return nullptr;
        return strdup(it->second.c_str());
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: get_var_mem(%s): %s\n", printable(key).c_str(), e.what());
        return nullptr;
    }
}

extern "C" int write_var(const char *key, const void *value, int kind) {
    char number[24];
    const char *text = nullptr;
    if (kind == 1) {
        if (value != nullptr) {
            snprintf(number, sizeof number, "%d", *static_cast<const int *>(value));
            text = number;
        }
    } else if (kind == 0) {
        text = static_cast<const char *>(value);
    } else {
        fprintf(stderr, "flash_setting: write_var(%s): unknown kind %d; nothing stored\n",
                printable(key).c_str(), kind);
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
                key, printable(text).c_str());
        return -1;
    }
    try {
        return write_text(key, text);
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: write_var(%s): %s; nothing stored\n", key, e.what());
        return -1;
    }
}

extern "C" int save_commit(void) {
    try {
        return commit();
    } catch (const std::exception &e) {
        fprintf(stderr, "flash_setting: save_commit: %s\n", e.what());
        return -1;
    }
}

extern "C" const char *flash_setting_path(void) { return store().path.c_str(); }
