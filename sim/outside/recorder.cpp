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
