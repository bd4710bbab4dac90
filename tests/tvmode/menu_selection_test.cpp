// A menu choice made a mode: the reply to the user interface, the store, the change, the commit.
#include "tvmode/menu_selection.h"

#include <gtest/gtest.h>

#include "kvn_menu_harness.h"

namespace {

using namespace kvn_test;

TEST(MenuSelection, EveryChoiceAppliesItsMode) {
    KVN_REQUIRE_SANDBOX();
    start_display();
    smpoutd_stub_set_auto_name(nullptr);  // the automatic mode names nothing: no event line
    const std::string k1080i60 = "<tvmode>1080i 60Hz</tvmode>";
    const struct {
        int group, frequency, code;
        const char *reply;
        std::string event;
    } rows[] = {{10, 2, 6, "tv=720p", "<tvmode>720p 50Hz</tvmode>"},
                {10, 3, 5, "tv=720p", "<tvmode>720p 60Hz</tvmode>"},
                {11, 2, 8, "tv=1080i", "<tvmode>1080i 50Hz</tvmode>"},
                {11, 3, 7, "tv=1080i", k1080i60},
                {12, 1, 11, "tv=1080p", "<tvmode>1080p 24Hz</tvmode>"},
                {12, 2, 10, "tv=1080p", "<tvmode>1080p 50Hz</tvmode>"},
                {12, 3, 9, "tv=1080p", "<tvmode>1080p 60Hz</tvmode>"},
                {13, 1, 22, "tv=4k", k1080i60},
                {13, 4, 21, "tv=4k", k1080i60},
                {13, 2, 20, "tv=4k", k1080i60},
                {0, 3, 0, "tv=auto", ""},
                {14, 1, 0, "tv=auto", ""}};
    const int descriptors = open_descriptors();
    for (const auto &row : rows) {
        Journal journal;
        EXPECT_EQ(0, kvn::apply_tvmode_selection(row.group, row.frequency)) << row.group;
        EXPECT_EQ(applied(row.code, row.reply, "a", row.event), journal.lines())
            << row.group << ", " << row.frequency;
    }
    EXPECT_EQ(descriptors, open_descriptors()) << "every reply closed";
}

}  // namespace
