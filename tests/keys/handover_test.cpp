// A power key handed to the flash player while its thread is in the TV-mode menu, which reads the
// window's keys.
#include "keys/handover.h"

#include "standby_harness.h"

namespace {

using namespace standby_test;
using Handover = StandbyTest;

// The key is taken exactly once: by the menu's exit when it waits behind the key that leaves the
// menu (the standby drops it with the window's other events), or, when the menu read it, by the
// browser's next press once the flash player has had it for 3 s (375 ms here; the menu's exit
// then finds it taken). One standby runs, and the flash player's own press still starts the next.
TEST_F(Handover, AKeyHandedToTheMenuIsTakenExactlyOnce) {
    kvn_set_time_divisor(8);
    App browser(BROWSER), flash(FLASH_LITE);
    ASSERT_TRUE(kvn_test::register_all({&browser, &flash}));
    ASSERT_EQ(0, focus_on_window(FLASH_LITE));
    flash.start();
    // Both keys queued as the menu draws its first page, in the flash player's thread.
    struct Plan {
        App *browser, *flash;
        std::atomic<bool> armed{false};
    } plan{&browser, &flash};
    kvn_trace_set_listener(
        [](const char *line, void *data) {
            Plan *p = static_cast<Plan *>(data);
            if (strncmp(line, "osd ", 4) != 0 || !p->armed.exchange(false)) return;
            p->flash->press(DIKS_STOP);
            handle(*p->browser, DIKS_POWER);
        },
        &plan);
    for (bool queued : {true, false}) {
        SCOPED_TRACE(queued ? "queued behind the menu's exit" : "read by the menu");
        kvn_test::clear_fake_calls();
        plan.armed = queued;
        const size_t dialogs = kvn_test::osd_calls().size();
        flash.press(DIKS_TV);
        ASSERT_TRUE(eventually([&] { return kvn_test::osd_calls().size() > dialogs; }));
        if (!queued) {
            ASSERT_EQ(0, handle(browser, DIKS_POWER));
            std::this_thread::sleep_for(std::chrono::milliseconds(450));
            std::thread rescue([&] { handle(browser, DIKS_POWER); });
            EXPECT_TRUE(eventually(in_standby));
            wake();
            rescue.join();
            flash.press(DIKS_STOP);  // leaves the menu
        } else {
            ASSERT_TRUE(eventually(in_standby));
            wake();
        }
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
    kvn_trace_set_listener(nullptr, nullptr);
}

}  // namespace
