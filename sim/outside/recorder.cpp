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
    last_ = Clock::now();
    fprintf(file_,
            "# Recorded at the live window of korvan-sim; waits are in player time.\n"
            "# Replay: korvan-sim --script THIS-FILE [--time-divisor N]\n");
    fflush(file_);
    return true;
}

void Recorder::line(const std::string &text, Clock::time_point at) {
    if (file_ == nullptr) return;
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(at - last_).count();
    last_ = at;
    for (long wait : recorded_waits(gap)) fprintf(file_, "wait %ld\n", wait);
    if (!text.empty()) fprintf(file_, "%s\n", text.c_str());
    // Each line reaches the file at once: a session cut off is still a script.
    fflush(file_);
}

void Recorder::key(DFBInputDeviceKeySymbol key, Clock::time_point at) {
    line("key " + key_name(key), at);
}

void Recorder::shot(const std::string &name, Clock::time_point at) { line("shot " + name, at); }

void Recorder::close(Clock::time_point at) {
    line("", at);
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
}

}  // namespace kvn_sim
