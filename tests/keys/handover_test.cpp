// A power key handed to the flash player while its thread is in the TV-mode menu, which reads the
// window's keys.
#include "keys/handover.h"

#include "standby_harness.h"

namespace {

using namespace standby_test;
using Handover = StandbyTest;

// A key queued behind the key that leaves the menu is taken once, by the menu's exit: the standby
// drops it with the window's other events, and the flash player's own press still starts the next.
// (A key the menu read and another application took once overdue: the standby's rows.)
TEST_F(Handover, AKeyQueuedBehindTheMenusExitIsTakenOnce) {
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    flash.start();
    // Both keys queued as the menu draws its first page, in the flash player's thread.
    struct Plan {
        App *browser, *flash;
        std::atomic<bool> armed{true};
    } plan{&browser, &flash};
    kvn_trace_set_listener(
        [](const char *line, void *data) {
            Plan *p = static_cast<Plan *>(data);
            if (strncmp(line, "osd ", 4) != 0 || !p->armed.exchange(false)) return;
            p->flash->press(DIKS_STOP);
            handle(*p->browser, DIKS_POWER);
        },
        &plan);
    flash.press(DIKS_TV);
    ASSERT_TRUE(eventually(in_standby));
    kvn_trace_set_listener(nullptr, nullptr);
    wake();
    ASSERT_TRUE(eventually([&] { return flash.idle() || in_standby(); }));
    settle();
    const bool again = in_standby();
    if (again) wake();  // so that a failing run still ends
    EXPECT_FALSE(again) << "dark again right after waking";
    EXPECT_EQ(1u, count_calls("power_led -standby 1 -poweron 0"));
    EXPECT_EQ(1, is_self_on_focus(FLASH_LITE));
    ASSERT_TRUE(power(flash)) << "a press in the flash player";
    wake();
}

}  // namespace
