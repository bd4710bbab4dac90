#include "recorder.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
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

bool Recorder::open(const std::string &path, std::string &error) {
    // Opened without waiting: a FIFO nobody reads would otherwise hold the
    // launcher before the window opens.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error =
            "cannot write " + path + ": " +
            (errno == ENXIO ? std::string("it is a FIFO that no process reads") : strerror(errno));
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
