/*
 * The library's waits and clocks go through here so that a development
 * host can run them faster (kvn_set_time_divisor, korvan_framework_dev.h);
 * on the player the divisor is 1 and every value is the real one.
 */
#ifndef KVN_COMMON_CLOCK_H
#define KVN_COMMON_CLOCK_H

#include <directfb.h>
#include <stdint.h>

namespace kvn {

unsigned time_divisor();

/* Sleep for `us` microseconds of player time. */
void sleep_us(unsigned long us);

/* WaitForEventWithTimeout with a player-time time-out. */
DFBResult wait_for_event(IDirectFBEventBuffer *buffer, unsigned seconds, unsigned milliseconds);

/* Seconds since the epoch as `time` gives them, on the scaled clock. */
long now_seconds();

/* Wall-clock milliseconds on the scaled clock, kept in 32 bits (it wraps). */
int now_milliseconds();

}  // namespace kvn

#endif
