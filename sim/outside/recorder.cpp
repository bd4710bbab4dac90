#include "recorder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_script.h"

namespace kvn_sim {

std::vector<long> recorded_waits(long long real_ms) {
    std::vector<long> waits;
    if (real_ms <= 0) return waits;
    long long player = (real_ms + 50) / 100 * 100;
    while (player > 0) {
        long part = player > kMaxWaitMs ? kMaxWaitMs : static_cast<long>(player);
        waits.push_back(part);
        player -= part;
    }
    return waits;
}

Recorder::~Recorder() {
    if (file_ != nullptr) fclose(file_);
}

int open_output(const std::string &path, std::string &error) {
    // Opened without waiting, and without O_TRUNC: a FIFO nobody reads
    // would otherwise hold the launcher before the window opens, and what
    // is at the path is judged before anything of it changes.
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0666);
    const char *why = nullptr;
    struct stat st;
    if (fd < 0) {
        why = errno == ENXIO   ? "it is a FIFO that no process reads"
              : errno == ELOOP ? "it is a symbolic link"
                               : strerror(errno);
    } else if (fstat(fd, &st) != 0) {
        why = strerror(errno);
    } else if (S_ISREG(st.st_mode) && (st.st_uid != geteuid() || st.st_nlink != 1)) {
        why = st.st_uid != geteuid() ? "it is another user's file" : "it has another name";
    } else if (S_ISREG(st.st_mode) ? ftruncate(fd, 0) != 0 : !S_ISFIFO(st.st_mode)) {
        why = S_ISREG(st.st_mode) ? strerror(errno) : "it is neither a plain file nor a FIFO";
    }
    if (why == nullptr) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    error = "cannot write " + path + ": " + why;
    if (fd >= 0) ::close(fd);
    return -1;
}

bool Recorder::open(const std::string &path, std::string &error) {
    int fd = open_output(path, error);
    if (fd < 0) return false;
    file_ = fdopen(fd, "w");
    if (file_ == nullptr) {
        error = "cannot write " + path + ": " + strerror(errno);
        ::close(fd);
        return false;
    }
    start();
    return true;
}

void Recorder::open_in_memory() {
    in_memory_ = true;
    full_ = false;
    text_.clear();
    start();
}

void Recorder::start() {
    last_ = Clock::now();
    write(
        "# Recorded at the desk of korvan-sim; waits are in player time.\n"
        "# Replay: korvan-sim --script THIS-FILE [--time-divisor N]\n");
}

void Recorder::write(const std::string &text) {
    if (file_ != nullptr) {
        fputs(text.c_str(), file_);
        // Each line reaches the file at once: a session cut off is still a script.
        fflush(file_);
    } else if (in_memory_ && !full_) {
        // Past the longest script the recording ends where it stands.
        full_ = text_.size() + text.size() > static_cast<size_t>(kMaxScriptBytes) - 256;
        text_ += full_ ? "# (the recording stops here: the longest script there may be)\n" : text;
    }
}

void Recorder::line(const std::string &text, Clock::time_point at) {
    if (!active()) return;
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(at - last_).count();
    last_ = at;
    std::string lines;
    for (long wait : recorded_waits(gap)) lines += "wait " + std::to_string(wait) + "\n";
    if (!text.empty()) lines += text + "\n";
    write(lines);
}

void Recorder::key(DFBInputDeviceKeySymbol key, Clock::time_point at) {
    line("key " + key_name(key), at);
}

void Recorder::shot(const std::string &name, Clock::time_point at) { line("shot " + name, at); }

void Recorder::close(Clock::time_point at) {
    line("", at);
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
    in_memory_ = false;
}

}  // namespace kvn_sim
