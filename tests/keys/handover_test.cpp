// The hand-over of a power key to the flash player, taken exactly once.
#include "keys/handover.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "korvan_framework_dev.h"

namespace {

// The flash player takes a hand-over at once, another application only once it is overdue (3 s of
// player time); once taken it is gone. A handed key read later from the flash player's window is
// met once per key handed into that window, not once the window's queued events were dropped.
TEST(Handover, TakenOnceAndEachHandedKeyMetOnce) {
    kvn::Handover handover;
    auto *queue = reinterpret_cast<IDirectFBEventBuffer *>(&handover);  // never read through
    kvn_window flash{}, browser{};
    flash.window_id = FLASH_LITE;
    flash.events = browser.events = queue;
    kvn_set_time_divisor(10);  // 3 s are 300 ms
    handover.offer(queue);
    handover.offer(queue);
    EXPECT_FALSE(handover.take_if_overdue());
    usleep(400000);
    EXPECT_TRUE(handover.take_if_overdue());
    EXPECT_FALSE(handover.take());
    EXPECT_FALSE(handover.meet(&browser)) << "only the flash player's window";
    EXPECT_TRUE(handover.meet(&flash));
    handover.forget(&flash);
    EXPECT_FALSE(handover.meet(&flash)) << "the second key went with the window's events";
    kvn_set_time_divisor(1);
}

}  // namespace
