// File handling of the settings store.
//
// Three files live side by side: the committed store (durable), a live copy
// (every write lands there at once, so other processes see it), and a lock
// file.  The values in force are the committed ones overlaid by the live
// ones; the live copy is always written from that overlay, so it holds
// everything, and a live copy lost or emptied by a power cut only falls
// back to the last commit.  Both files are replaced by rename, so no
// reader ever sees a torn file.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>

#include "flash_setting.h"
#include "store_format.h"

namespace {

using Values = std::map<std::string, std::string>;

struct Identity {
    bool present = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {0, 0};
    bool operator==(const Identity &o) const {
        return present == o.present && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

struct Store {
    std::mutex mutex;  // one writer or cache update at a time in this process
    std::string path, live, lock, dir;
    Identity cached_committed, cached_live;
    bool cache_valid = false;
    Values cached;
    std::set<std::string> warned;
    std::atomic<unsigned> temp_counter{0};

    Store() {
        const char *env = getenv("FLASH_SETTING_FILE");
        path = (env != nullptr && *env != '\0') ? env : "/opt/kvn/var/flash_setting.db";
        live = path + ".live";
        lock = path + ".lock";
        size_t slash = path.rfind('/');
        dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    }
};

Store &store() {
    static Store *instance = new Store();
    return *instance;
}

Identity identify(const std::string &path) {
    Identity id;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        id.present = true;
        id.dev = st.st_dev;
        id.ino = st.st_ino;
        id.size = st.st_size;
        id.mtime = st.st_mtim;
    }
    return id;
}

void make_dirs(const std::string &dir) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (!partial.empty()) mkdir(partial.c_str(), 0755);
    }
}

bool read_whole(const std::string &path, std::string *out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out->append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

// Parses one file into `values` (overlaying), warning once per damaged
// version of the file.
void load(Store &s, const std::string &path, const Identity &id, Values *values) {
    if (!id.present) return;
    std::string data;
    if (!read_whole(path, &data)) return;
    flash_setting::ParseResult parsed = flash_setting::parse(data.data(), data.size());
    bool damaged = parsed.damaged_lines > 0 || (!data.empty() && !parsed.header_ok);
    if (damaged) {
        std::string tag = path + "@" + std::to_string(id.ino) + ":" + std::to_string(id.size) +
                          ":" + std::to_string(id.mtime.tv_sec) + "." +
                          std::to_string(id.mtime.tv_nsec);
        if (s.warned.insert(tag).second) {
            fprintf(stderr,
                    "flash_setting: warning: %s is damaged (%zu unreadable line%s%s); keeping "
                    "the %zu entr%s that still read\n",
                    path.c_str(), parsed.damaged_lines, parsed.damaged_lines == 1 ? "" : "s",
                    parsed.header_ok ? "" : ", no valid header", parsed.values.size(),
                    parsed.values.size() == 1 ? "y" : "ies");
        }
    }
    for (auto &kv : parsed.values) (*values)[kv.first] = kv.second;
}

// The values in force; caller holds s.mutex.
const Values &current(Store &s) {
    Identity committed = identify(s.path);
    Identity live = identify(s.live);
    if (s.cache_valid && committed == s.cached_committed && live == s.cached_live) return s.cached;
    Values values;
    load(s, s.path, committed, &values);
    load(s, s.live, live, &values);
    s.cached.swap(values);
    s.cached_committed = committed;
    s.cached_live = live;
    s.cache_valid = true;
    return s.cached;
}

bool write_all(int fd, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces `target` by `data` through a temporary file and rename; with
// `durable`, the data and the directory entry reach the disk first.
bool replace_file(Store &s, const std::string &target, const std::string &data, bool durable) {
    std::string temp = s.path + ".tmp." + std::to_string(getpid()) + "." +
                       std::to_string(s.temp_counter.fetch_add(1));
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "flash_setting: cannot create %s: %s\n", temp.c_str(), strerror(errno));
        return false;
    }
    bool ok = write_all(fd, data) && (!durable || fsync(fd) == 0);
    if (close(fd) != 0) ok = false;
    if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "flash_setting: cannot write %s: %s\n", target.c_str(), strerror(errno));
        unlink(temp.c_str());
        return false;
    }
    if (durable) {
        int dfd = open(s.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd < 0 || fsync(dfd) != 0) ok = false;
        if (dfd >= 0) close(dfd);
        if (!ok) fprintf(stderr, "flash_setting: cannot sync %s: %s\n", s.dir.c_str(), strerror(errno));
    }
    return ok;
}

class FileLock {
public:
    explicit FileLock(Store &s) {
        make_dirs(s.dir);
        fd_ = open(s.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            fprintf(stderr, "flash_setting: cannot open lock %s: %s\n", s.lock.c_str(), strerror(errno));
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);  // closing drops the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Temporary files left by a writer that was killed mid-way; only called
// with the file lock held, when no other writer can be making one.
void remove_stale_temporaries(Store &s) {
    std::string prefix = s.path.substr(s.dir.size() + (s.dir == "/" ? 0 : 1)) + ".tmp.";
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

}  // namespace

extern "C" char *get_var_mem(const char *key) {
    if (key == nullptr) return nullptr;
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.mutex);
    const Values &values = current(s);
    auto it = values.find(key);
    if (it == values.end()) return nullptr;
    return strdup(it->second.c_str());
}

extern "C" int write_var(const char *key, const void *value, int kind) {
    char number[24];
    const char *text = nullptr;
    if (kind == 1 && value != nullptr) {
        snprintf(number, sizeof number, "%d", *static_cast<const int *>(value));
        text = number;
    } else if (kind == 0) {
        text = static_cast<const char *>(value);
    } else {
        fprintf(stderr, "flash_setting: write_var(%s): unknown kind %d or no value; nothing stored\n",
                key ? key : "(null)", kind);
        return -1;
    }
    if (!flash_setting::key_is_storable(key)) {
        fprintf(stderr,
                "flash_setting: write_var: key %s%s%s cannot be stored (empty, or holds '=' or a line "
                "end); nothing stored\n",
                key ? "\"" : "", key ? key : "(null)", key ? "\"" : "");
        return -1;
    }
    if (!flash_setting::value_is_storable(text)) {
        fprintf(stderr,
                "flash_setting: write_var(%s): the value is missing or holds a line end; nothing "
                "stored\n",
                key);
        return -1;
    }
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.mutex);
    FileLock lock(s);
    if (!lock.held()) return -1;
    s.cache_valid = false;  // another process may have written under the same identity tick
    Values values = current(s);
    auto it = values.find(key);
    if (it != values.end() && it->second == text && identify(s.live).present) return 0;
    values[key] = text;
    if (!replace_file(s, s.live, flash_setting::serialise(values), false)) return -1;
    s.cache_valid = false;
    return 0;
}

extern "C" int save_commit(void) {
    Store &s = store();
    std::lock_guard<std::mutex> guard(s.mutex);
    FileLock lock(s);
    if (!lock.held()) return -1;
    remove_stale_temporaries(s);
    s.cache_valid = false;
    Values values = current(s);
    bool ok = replace_file(s, s.path, flash_setting::serialise(values), true);
    s.cache_valid = false;
    return ok ? 0 : -1;
}

extern "C" const char *flash_setting_path(void) { return store().path.c_str(); }
