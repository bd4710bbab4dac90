// An application window made on the spied OSD layer and released again.
#include <gtest/gtest.h>

#include "kvn_dfb_kit.h"

using WindowCreation = kvn_test::SpiedOsdLayerTest;

// Layer-sized when no size is given, cleared, shown once at its opacity; released in reverse, once.
TEST_F(WindowCreation, MakesAClearedWindowOfTheLayerSizeAndCleanUpReleasesItInReverse) {
    const DFBDisplayLayerConfig &layer = kvn_dfb_global_context.kvn_layer_osd_config;
    const std::string size = std::to_string(layer.width) + "x" + std::to_string(layer.height);
    kvn_window w{};
    DFBWindowDescription desc;
    kvn_test::dfb_calls.clear();
    ASSERT_EQ(0,
              kvn_create_window_surface_events(&w, &desc, 10, 20, 0, 0, DWCAPS_ALPHACHANNEL, 0x40));
    const std::string id = "w" + std::to_string(kvn_test::window_id(w.window));
    EXPECT_EQ((std::vector<std::string>{
                  "GetConfiguration", "CreateWindow 10,20 " + size, "window GetSurface",
                  "SetDrawingFlags 0", "window CreateEventBuffer", "SetColor 00 00 00 00",
                  "FillRectangle 0,0 " + size, "Flip whole 0", id + " SetOpacity 64"}),
              kvn_test::dfb_calls);
    EXPECT_EQ(KVN_WINDOW_MAGIC, w.magic);
    EXPECT_EQ(0x7F, desc.flags);
    EXPECT_EQ(DSPF_ARGB, desc.pixelformat);
    EXPECT_EQ(DSCAPS_DOUBLE, desc.surface_caps);
    EXPECT_EQ(DWCAPS_ALPHACHANNEL, desc.caps);
    kvn_test::dfb_calls.clear();
    EXPECT_EQ(0, kvn_window_clean_up(&w));
    EXPECT_EQ(0, kvn_window_clean_up(&w)) << "again";
    EXPECT_EQ((std::vector<std::string>{"events released", "surface released", "window released"}),
              kvn_test::dfb_calls);
    EXPECT_EQ(nullptr, w.window);
}
