#include "common/clock.h"

#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "korvan_framework_dev.h"

namespace kvn {

namespace {

// The player's real timing unless a test or the simulator asks otherwise
// through kvn_set_time_divisor; never from the environment, where a stray
// variable on the player would shorten the spin-down delay, the torrent
// script's limit and the key-sequence window.
std::atomic<unsigned> g_divisor{1};

/* Scaled wall clock in microseconds: real time times the divisor.  At 1 it
 * is the plain wall clock, so seconds match `time`. */
uint64_t scaled_now_us() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    uint64_t us = static_cast<uint64_t>(tv.tv_sec) * 1000000u + static_cast<uint64_t>(tv.tv_usec);
    return us * g_divisor.load(std::memory_order_relaxed);
}

}  // namespace

unsigned time_divisor() { return g_divisor.load(std::memory_order_relaxed); }

void sleep_us(unsigned long us) {
    unsigned d = time_divisor();
    unsigned long scaled = us / d;
    if (us > 0 && scaled == 0) scaled = 1;
    while (scaled >= 1000000ul) {
        usleep(999999);
        scaled -= 999999;
    }
    usleep(static_cast<useconds_t>(scaled));
}

DFBResult wait_for_event(IDirectFBEventBuffer *buffer, unsigned seconds, unsigned milliseconds) {
    unsigned d = time_divisor();
    if (d == 1) return buffer->WaitForEventWithTimeout(buffer, seconds, milliseconds);
    uint64_t total_ms = static_cast<uint64_t>(seconds) * 1000u + milliseconds;
    uint64_t scaled = total_ms / d;
    if (total_ms > 0 && scaled == 0) scaled = 1;
    return buffer->WaitForEventWithTimeout(buffer, static_cast<unsigned>(scaled / 1000),
                                           static_cast<unsigned>(scaled % 1000));
}

long now_seconds() {
    if (time_divisor() == 1) return static_cast<long>(time(nullptr));
    return static_cast<long>(scaled_now_us() / 1000000u);
}

int now_milliseconds() {
    uint64_t ms = scaled_now_us() / 1000u;
    return static_cast<int>(static_cast<uint32_t>(ms));
}

}  // namespace kvn

extern "C" void kvn_set_time_divisor(unsigned divisor) {
    kvn::g_divisor.store(divisor == 0 ? 1 : divisor, std::memory_order_relaxed);
}

extern "C" unsigned kvn_get_time_divisor(void) { return kvn::time_divisor(); }
