// A DirectFB call that fails ends the process with a report that names this module and the line,
// then DirectFB's own report quoting the call as written; shown on a call of start-up, of the
// layer set-up and of window creation.
#include <gtest/gtest.h>
#include <string.h>

#include "kvn_dfb_kit.h"

namespace {

std::string report_quoting(const std::string &text) {
    std::string pattern = "korvan_framework_lib <[0-9]+>:\n\t.*DirectFBError \\[";
    for (char c : text) {
        if (strchr("()*&|.[]{}+?^$\\", c) != nullptr) pattern += '\\';
        pattern += c;
    }
    return pattern + "\\]";
}

void set_up_osd_layer() {
    kvn_dfb_context &c = kvn_dfb_global_context;
    c.kvn_layer_osd = nullptr;
    kvn_layer_osd_init(kvn_test::spy_dfb(c.kvn_dfb), &c.kvn_layer_osd, &c.kvn_layer_osd_config,
                       nullptr, nullptr);
}

void create_window() {
    kvn_dfb_global_context.kvn_layer_osd =
        kvn_test::spy_layer(kvn_dfb_global_context.kvn_layer_osd);
    kvn_window w{};
    DFBWindowDescription desc;
    kvn_create_window_surface_events(&w, &desc, 0, 0, 0, 0, DWCAPS_NONE, 0);
}

TEST(GuardDeathTest, AFailingCallIsReportedWithModuleLineAndTheCallAsWritten) {
    KVN_REQUIRE_SANDBOX();
    GTEST_FLAG_SET(death_test_style, "fast");  // DirectFB starts in the child only
    const struct {
        const char *call;
        void (*run)();
        const char *text;
    } rows[] = {
        {"DirectFBCreate", kvn_test::start_display, "DirectFBCreate( dfb )"},
        {"SetBackgroundMode COLOR", set_up_osd_layer,
         "(*kvn_layer_osd)->SetBackgroundMode( (*kvn_layer_osd), DLBM_COLOR )"},
        {"window GetSurface", create_window,
         "(kvn_window->window)->GetSurface((kvn_window->window), &(kvn_window->surface))"},
    };
    for (const auto &row : rows) {
        EXPECT_EXIT(
            {
                kvn_test::spy_main_interface = row.run == kvn_test::start_display;
                if (row.run != kvn_test::start_display) kvn_test::start_display();
                kvn_test::fail_dfb_call(row.call);
                row.run();
                exit(0);
            },
            testing::ExitedWithCode(DFB_FAILURE & 0xff),
            report_quoting(row.text))  // the result, as exit keeps it
            << row.call;
    }
}

}  // namespace
