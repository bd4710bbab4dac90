// A DirectFB call that fails ends the process with a report that names this module and the line,
// then DirectFB's own report quoting the call as written (here a call deep in window creation,
// through an interface, as most are).
#include <gtest/gtest.h>
#include <string.h>

#include "kvn_dfb_kit.h"

TEST(GuardDeathTest, AFailingCallIsReportedWithModuleLineAndTheCallAsWritten) {
    KVN_REQUIRE_SANDBOX();
    GTEST_FLAG_SET(death_test_style, "fast");  // DirectFB starts in the child only
    const std::string call =
        "(kvn_window->window)->GetSurface((kvn_window->window), &(kvn_window->surface))";
    std::string quoted;  // as a regular expression
    for (char c : call) quoted += (strchr("()*&|.[]{}+?^$\\", c) ? "\\" : "") + std::string(1, c);
    EXPECT_EXIT(
        {
            kvn_test::start_display();
            kvn_dfb_context &context = kvn_dfb_global_context;
            context.kvn_layer_osd = kvn_test::spy_layer(context.kvn_layer_osd);
            kvn_test::fail_dfb_call("window GetSurface");
            kvn_window w{};
            DFBWindowDescription desc;
            kvn_create_window_surface_events(&w, &desc, 0, 0, 0, 0, DWCAPS_NONE, 0);
            exit(0);
        },
        testing::ExitedWithCode(DFB_FAILURE & 0xff),  // the result, as exit keeps it
        "korvan_framework_lib <[0-9]+>:\n\t.*DirectFBError \\[" + quoted + "\\]");
}
