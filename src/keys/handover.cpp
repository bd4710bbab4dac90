// The hand-over of a power key to the flash player, taken exactly once.
#include "handover.h"

#include <chrono>

#include "common/clock.h"

namespace kvn {

namespace {

// How long the flash player may take before another application's power
// key takes the hand-over from it.
constexpr long long kGraceMs = 3000;

long long steady_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void Handover::offer(IDirectFBEventBuffer *buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
    since_ = steady_ms();
    if (buffer_ != buffer) {
        buffer_ = buffer;
        in_flight_ = 0;
    }
    ++in_flight_;
}

void Handover::withdraw() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = false;
    if (in_flight_ > 0) --in_flight_;
}

bool Handover::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    bool pending = pending_;
    pending_ = false;
    return pending;
}

bool Handover::take_if_overdue() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_) return false;
    long long waited = (steady_ms() - since_) * static_cast<long long>(time_divisor());
    if (waited < kGraceMs) return false;
    pending_ = false;
    return true;
}

bool Handover::meet(const kvn_window *window) {
    if (window == nullptr || window->window_id != FLASH_LITE) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->events == nullptr || window->events != buffer_ || in_flight_ == 0) return false;
    --in_flight_;
    return true;
}

void Handover::forget(const kvn_window *window) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window->events == buffer_) in_flight_ = 0;
}

Handover &handover() {
    static Handover the_handover;
    return the_handover;
}

}  // namespace kvn
