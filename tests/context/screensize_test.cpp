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
    ctx_test::init_display({"--dfb:mode=800x600"});
    ctx_test::init_osd_layer();
    int before_fds = ctx_test::open_descriptor_count();
    int w = 0, h = 0;

    // A fixed mode: the layer keeps the size DirectFB gave it.
    write_var("video_output", "5", 0);
    kvn_test::write_file("/tmp/tvname", "720p60\n");
    kvn_confirm_virtual_screensize();
    layer_size(&w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);

    // Automatic, but the output side has not named its choice yet.
    write_var("video_output", "0", 0);
    kvn_test::remove_file("/tmp/tvname");
    kvn_confirm_virtual_screensize();
    layer_size(&w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.width, 800);

    // Whatever the name says, the virtual screen is 1280x720.
    kvn_test::write_file("/tmp/tvname", "1080i50\n");
    kvn_confirm_virtual_screensize();
    layer_size(&w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.width, 1280);
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.height, 720);
    EXPECT_EQ(kvn_dfb_global_context.kvn_layer_osd_config.flags, DLCONF_WIDTH | DLCONF_HEIGHT);

    EXPECT_EQ(ctx_test::open_descriptor_count(), before_fds);
}

TEST(VirtualScreen, AMissingModeKeyLeavesTheLayerAlone) {
    KVN_REQUIRE_SANDBOX();
    // /tmp/tvmode present, so the OSD set-up does not write the key.
    kvn_test::write_file("/tmp/tvmode", "0\n");
    kvn_test::write_file("/tmp/tvname", "720p60\n");
    ctx_test::init_display({"--dfb:mode=800x600"});
    ctx_test::init_osd_layer();
    char *stored = get_var_mem("video_output");
    ASSERT_EQ(stored, nullptr);
    kvn_confirm_virtual_screensize();
    int w = 0, h = 0;
    layer_size(&w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
}
