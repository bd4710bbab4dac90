#include "recorder.h"

#include <errno.h>
#include <string.h>

#include "sim_script.h"

namespace kvn_sim {

std::vector<long> recorded_waits(long long real_ms, unsigned divisor) {
    std::vector<long> waits;
    if (real_ms <= 0) return waits;
    long long player = real_ms * (divisor == 0 ? 1 : divisor);
    player = (player + 50) / 100 * 100;
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

bool Recorder::open(const std::string &path, unsigned divisor, std::string &error) {
    file_ = fopen(path.c_str(), "we");
    if (file_ == nullptr) {
        error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    divisor_ = divisor;
    last_ = Clock::now();
    fprintf(file_, "# Recorded at the live window of korvan-sim (--time-divisor %u); waits are\n"
                   "# in player time.  Replay: korvan-sim --script THIS-FILE --time-divisor %u\n",
            divisor, divisor);
    fflush(file_);
    return true;
}

void Recorder::line(const std::string &text, Clock::time_point at) {
    if (file_ == nullptr) return;
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(at - last_).count();
    last_ = at;
    for (long wait : recorded_waits(gap, divisor_)) fprintf(file_, "wait %ld\n", wait);
    if (!text.empty()) fprintf(file_, "%s\n", text.c_str());
    // Each line reaches the file at once: a session cut off is still a script.
    fflush(file_);
}

void Recorder::key(DFBInputDeviceKeySymbol key, Clock::time_point at) { line("key " + key_name(key), at); }

void Recorder::shot(const std::string &name, Clock::time_point at) { line("shot " + name, at); }

void Recorder::close(Clock::time_point at) {
    line("", at);
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
}

}  // namespace kvn_sim
