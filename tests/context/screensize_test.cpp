// The 1280x720 virtual screen of the automatic TV mode.
#include <gtest/gtest.h>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

TEST(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode", "0\n");  // present, so the OSD set-up does not write the key
    ctx_test::init_display({"--dfb:mode=800x600"});
    ctx_test::init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    const DFBSurfacePixelFormat format = config.pixelformat;
    write_var("tv_system", "PAL", 0);  // the store keeps its files open from here on
    int before_fds = ctx_test::open_descriptor_count();
    // The stored mode (null: none) and /tmp/tvname (null: none): automatic, but the output side
    // has named nothing yet, is not enough; whatever the name says is; text without digits reads as 0.
    const struct { const char *video_output, *tvname; int width, height; } cases[] = {
        {nullptr, "720p60\n", 800, 600}, {"5", "720p60\n", 800, 600}, {"1", "720p60\n", 800, 600}, {"9", "720p60\n", 800, 600},
        {"0", nullptr, 800, 600}, {"0", "1080i50\n", 1280, 720}, {"a", "720p60\n", 1280, 720}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.video_output ? c.video_output : "no mode") + ", " + (c.tvname ? c.tvname : "no name"));
        if (c.video_output) write_var("video_output", c.video_output, 0);
        kvn_test::remove_file("/tmp/tvname");
        if (c.tvname) kvn_test::write_file("/tmp/tvname", c.tvname);
        config.width = 800, config.height = 600;
        ASSERT_EQ(DFB_OK, layer->SetConfiguration(layer, &config));
        kvn_confirm_virtual_screensize();
        DFBDisplayLayerConfig real;
        ASSERT_EQ(layer->GetConfiguration(layer, &real), DFB_OK);
        EXPECT_EQ((std::vector<int>{c.width, c.height, c.width, c.height}), (std::vector<int>{real.width, real.height, config.width, config.height}));
    }
    EXPECT_EQ(config.flags, DLCONF_WIDTH | DLCONF_HEIGHT);
    EXPECT_EQ(config.pixelformat, format) << "the other members kept";
    EXPECT_EQ(ctx_test::open_descriptor_count(), before_fds);
    // The stored value's copy is freed on every call.
    write_var("video_output", "5", 0);
    kvn_confirm_virtual_screensize();
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 300; ++i) kvn_confirm_virtual_screensize();
    EXPECT_LT(kvn_test::heap_in_use(), heap + 1000);
}
