// The 1280x720 virtual screen of the automatic TV mode.
#include <gtest/gtest.h>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

namespace {

void layer_size(int *w, int *h) {
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    DFBDisplayLayerConfig config;
    ASSERT_EQ(layer->GetConfiguration(layer, &config), DFB_OK);
    *w = config.width;
    *h = config.height;
}

}  // namespace

TEST(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    // /tmp/tvmode present, so the OSD set-up does not write the key.
    kvn_test::write_file("/tmp/tvmode", "0\n");
    ctx_test::init_display({"--dfb:mode=800x600"});
    ctx_test::init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    const DFBSurfacePixelFormat format = kvn_dfb_global_context.kvn_layer_osd_config.pixelformat;
    write_var("tv_system", "PAL", 0);  // the store keeps its files open from here on
    int before_fds = ctx_test::open_descriptor_count();
    const struct {
        const char *video_output;  // null: no value
        const char *tvname;        // null: no file
        int width, height;
    } cases[] = {
        {nullptr, "720p60\n", 800, 600},   // no stored mode
        {"5", "720p60\n", 800, 600},       // a fixed mode
        {"1", "720p60\n", 800, 600},
        {"9", "720p60\n", 800, 600},
        {"0", nullptr, 800, 600},          // automatic, but the output side has named nothing yet
        {"0", "1080i50\n", 1280, 720},     // whatever the name says
        {"a", "720p60\n", 1280, 720},      // decimal text without digits reads as 0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.video_output ? c.video_output : "no mode") + ", " + (c.tvname ? c.tvname : "no name"));
        if (c.video_output) write_var("video_output", c.video_output, 0);
        if (c.tvname) {
            kvn_test::write_file("/tmp/tvname", c.tvname);
        } else {
            kvn_test::remove_file("/tmp/tvname");
        }
        kvn_dfb_global_context.kvn_layer_osd_config.width = 800;
        kvn_dfb_global_context.kvn_layer_osd_config.height = 600;
        IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
        ASSERT_EQ(DFB_OK, layer->SetConfiguration(layer, &kvn_dfb_global_context.kvn_layer_osd_config));
        kvn_confirm_virtual_screensize();
        int w = 0, h = 0;
        layer_size(&w, &h);
        EXPECT_EQ(c.width, w);
        EXPECT_EQ(c.height, h);
        EXPECT_EQ(c.width, kvn_dfb_global_context.kvn_layer_osd_config.width);
        EXPECT_EQ(c.height, kvn_dfb_global_context.kvn_layer_osd_config.height);
    }
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.flags, DLCONF_WIDTH | DLCONF_HEIGHT);
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.pixelformat, format) << "the other members kept";
    EXPECT_EQ(ctx_test::open_descriptor_count(), before_fds);
    // The stored value's copy is freed on every call.
    write_var("video_output", "5", 0);
    kvn_confirm_virtual_screensize();
    size_t heap = kvn_test::heap_in_use();
    for (int i = 0; i < 300; ++i) kvn_confirm_virtual_screensize();
    EXPECT_LT(kvn_test::heap_in_use(), heap + 1000);
}
