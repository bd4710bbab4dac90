// The OSD and background layers on real DirectFB (dummy system), seen through spies over the real
// interfaces (every call with its arguments, in order) and read back; the virtual screen size.
#include <gtest/gtest.h>

#include "kvn_dfb_kit.h"
#include "platform/imports.h"

namespace {

using kvn_test::dfb_calls;

void init_osd_layer() {
    kvn_dfb_context &c = kvn_dfb_global_context;
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
}

int background_init(IDirectFB *dfb) {
    kvn_dfb_context &c = kvn_dfb_global_context;
    return kvn_layer_background_init(dfb, &c.kvn_layer_background, &c.kvn_layer_background_config,
                                     &c.kvn_surface_background_of_layer_background);
}

// A screen whose mixer 0 works (the dummy system has none).
DFBDisplayLayerIDs g_mixer_layers = 0;
void give_screen_a_mixer(DFBDisplayLayerIDs initial_layers) {
    g_mixer_layers = initial_layers;
    auto *s = kvn_test::spy(kvn_dfb_global_context.kvn_screen);
    s->iface.GetMixerConfiguration = [](IDirectFBScreen *, int mixer,
                                        DFBScreenMixerConfig *config) {
        config->flags = static_cast<DFBScreenMixerConfigFlags>(DSMCONF_TREE | DSMCONF_LAYERS |
                                                               DSMCONF_BACKGROUND);
        config->layers = g_mixer_layers;
        return kvn_test::note("GetMixerConfiguration %d", mixer) ? DFB_FAILURE : DFB_OK;
    };
    s->iface.SetMixerConfiguration = [](IDirectFBScreen *, int mixer,
                                        const DFBScreenMixerConfig *config) {
        return kvn_test::note("SetMixerConfiguration %d flags %d layers 0x%X", mixer,
                              static_cast<int>(config->flags),
                              static_cast<unsigned>(config->layers))
                   ? DFB_FAILURE
                   : DFB_OK;
    };
    kvn_dfb_global_context.kvn_screen = &s->iface;
}

// Both set-ups at a layer height, with or without a backdrop: the calls in order, the help lines a
// font height apart, the font a fiftieth of the layer height; the OSD set-up seeds the mode file.
// The background's refusals leave no call in the journal.
void check_layers(int layer_height, int font_height, bool backdrop) {
    KVN_REQUIRE_SANDBOX();
    if (backdrop) kvn_test::write_png("/desktop.png", 64, 48, 0x2040a0);
    write_var("video_output", "5", 0);
    const int width = layer_height * 16 / 9;
    kvn_test::init_display(
        {"--dfb:mode=" + std::to_string(width) + "x" + std::to_string(layer_height)});
    kvn_dfb_context &c = kvn_dfb_global_context;
    give_screen_a_mixer(0x6);
    IDirectFB *dfb = kvn_test::spy_dfb(c.kvn_dfb);
    EXPECT_EQ(0,
              kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr));
    IDirectFBSurface *surface = nullptr;
    // A null address refused without touching the mixer; then the set-up, which runs once.
    EXPECT_EQ(-1, kvn_layer_background_init(dfb, &c.kvn_layer_background,
                                            &c.kvn_layer_background_config, nullptr));
    EXPECT_EQ(-1,
              kvn_layer_background_init(dfb, nullptr, &c.kvn_layer_background_config, &surface));
    EXPECT_EQ(-1, kvn_layer_background_init(dfb, &c.kvn_layer_background, nullptr, &surface));
    EXPECT_EQ(0, background_init(dfb));
    EXPECT_EQ(-1, kvn_layer_background_init(dfb, &c.kvn_layer_background,
                                            &c.kvn_layer_background_config, &surface));
    EXPECT_EQ(nullptr, surface);
    int fh = 0;  // what the real font reports
    DFBFontDescription font{};
    font.flags = DFDESC_HEIGHT;
    font.height = font_height;
    IDirectFBFont *f = nullptr;
    ASSERT_EQ(DFB_OK,
              c.kvn_dfb->CreateFont(c.kvn_dfb, "/opt/kvn/share/fonts/decker.ttf", &font, &f));
    f->GetHeight(f, &fh);
    f->Release(f);
    auto draw = [&](const char *text, int y) {
        return "DrawString \"" + std::string(text) + "\" -1 150," + std::to_string(y) + " flags " +
               std::to_string(DSTF_TOPLEFT);
    };
    // The primary layer added to the mixer's (bit 0), the other bits kept.
    const std::string mixer =
        "SetMixerConfiguration 0 flags " + std::to_string(DSMCONF_LAYERS) + " layers 0x7";
    const std::string font_made = "CreateFont /opt/kvn/share/fonts/decker.ttf flags " +
                                  std::to_string(DFDESC_HEIGHT) + " height " +
                                  std::to_string(font_height);
    const std::string image = backdrop ? "CreateImageProvider /desktop.png ok"
                                       : "CreateImageProvider /desktop.png failed";
    std::vector<std::string> expected = {"GetDisplayLayer 0",
                                         "SetCooperativeLevel ADMINISTRATIVE",
                                         "SetBackgroundMode DONTCARE",
                                         "GetConfiguration",
                                         "SetBackgroundColor 0 0 0 0",
                                         "SetBackgroundMode COLOR",
                                         "GetMixerConfiguration 0",
                                         mixer,
                                         "GetDisplayLayer 0",
                                         "SetCooperativeLevel ADMINISTRATIVE",
                                         "SetCooperativeLevel EXCLUSIVE",
                                         "GetSurface",
                                         "GetConfiguration",
                                         font_made,
                                         "font GetHeight",
                                         image};
    if (backdrop) expected.insert(expected.end(), {"RenderTo whole surface", "provider released"});
    expected.insert(
        expected.end(),
        {"SetFont", "SetColor CF CF FF FF",
         draw("Press the s/S/BLUE key to switch focus between window.", 20), "SetColor CF DF CF FF",
         draw("Press LEFT/RIGHT/UP/DOWN cursor key to move the window.", fh + 20),
         "SetColor CF FF 6F FF", draw("Press ESC/STOP/POWER key to exit.", 2 * fh + 20),
         "font released"});
    EXPECT_EQ(expected, dfb_calls) << "and never a Flip";
    EXPECT_EQ(layer_height, c.kvn_layer_osd_config.height);
    EXPECT_EQ(layer_height, c.kvn_layer_background_config.height);
    EXPECT_EQ("5\n", kvn_test::read_file("/tmp/tvmode"));
    kvn_clean_up();  // the surface holds the font it wrote with until then
}

// The background hook's calls: how many, and the last one's arguments.
struct {
    int count;
    IDirectFB *dfb;
    IDirectFBDisplayLayer *layer;
    DFBDisplayLayerConfig *config;
    void *data;
} g_hook{};
int recording_hook(IDirectFB *dfb, IDirectFBDisplayLayer *layer, DFBDisplayLayerConfig *config,
                   void *data) {
    g_hook = {g_hook.count + 1, dfb, layer, config, data};
    return 12345;  // ignored
}

}  // namespace

using VirtualScreen = kvn_test::DirectFBTest;
using OsdLayer = kvn_test::DirectFBTest;
using Background = kvn_test::DirectFBTest;

// Automatic (text without digits reads as 0) with any name forces the size; another mode, or
// nothing named yet, does not.
TEST_F(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode", "0\n");  // present, so the OSD set-up does not store a mode
    kvn_test::init_display({"--dfb:mode=800x600"});
    init_osd_layer();
    ASSERT_EQ("<null>", kvn_test::stored("video_output"));
    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    IDirectFBDisplayLayer *layer = kvn_dfb_global_context.kvn_layer_osd;
    const DFBSurfacePixelFormat format = config.pixelformat;
    write_var("tv_system", "PAL", 0);
    const int descriptors = kvn_test::open_descriptors();  // the store's files open from here on
    const struct {
        const char *video_output, *tvname;
        int width, height;
    } rows[] = {
        {nullptr, "720p60\n", 800, 600}, {"5", "720p60\n", 800, 600},  {"0", nullptr, 800, 600},
        {"0", "1080i50\n", 1280, 720},   {"a", "720p60\n", 1280, 720},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.video_output ? row.video_output : "no mode") + ", " +
                     (row.tvname ? row.tvname : "no name"));
        if (row.video_output) write_var("video_output", row.video_output, 0);
        if (row.tvname) kvn_test::write_file("/tmp/tvname", row.tvname);
        if (!row.tvname) kvn_test::remove_file("/tmp/tvname");
        config.width = 800;
        config.height = 600;
        ASSERT_EQ(DFB_OK, layer->SetConfiguration(layer, &config));
        kvn_confirm_virtual_screensize();
        DFBDisplayLayerConfig real;
        ASSERT_EQ(DFB_OK, layer->GetConfiguration(layer, &real));
        EXPECT_EQ(row.width, real.width);
        EXPECT_EQ(row.height, real.height);
        EXPECT_EQ(row.width, config.width);
        EXPECT_EQ(row.height, config.height);
    }
    EXPECT_EQ(DLCONF_WIDTH | DLCONF_HEIGHT, config.flags);
    EXPECT_EQ(format, config.pixelformat) << "the other members kept";
    EXPECT_EQ(descriptors, kvn_test::open_descriptors());
}

// Again: the layer is reused; only a hook with its data replaces the default background.
TEST_F(OsdLayer, LaterSetUpsReuseTheLayerAndCallTheHookOnlyWithItsData) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::init_display();
    init_osd_layer();
    kvn_dfb_context &c = kvn_dfb_global_context;
    IDirectFB *dfb = kvn_test::spy_dfb(c.kvn_dfb);
    IDirectFBDisplayLayer *given = c.kvn_layer_osd = kvn_test::spy_layer(c.kvn_layer_osd);
    int payload = 42;
    void *data = &payload;
    for (auto [with_data, hook] : {std::pair{false, recording_hook}, {true, nullptr}}) {
        EXPECT_EQ(0, kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config,
                                        with_data ? &data : nullptr, hook));
    }
    EXPECT_EQ(0, g_hook.count) << "a hook without data, data without a hook";
    EXPECT_EQ(0, kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, &data,
                                    recording_hook));
    const std::vector<std::string> own = {"GetConfiguration", "SetBackgroundColor 0 0 0 0",
                                          "SetBackgroundMode COLOR"};
    std::vector<std::string> expected = own;
    expected.insert(expected.end(), own.begin(), own.end());
    expected.push_back("GetConfiguration");
    EXPECT_EQ(expected, dfb_calls);
    EXPECT_EQ(given, c.kvn_layer_osd);
    EXPECT_EQ(1, g_hook.count);
    EXPECT_EQ(dfb, g_hook.dfb);
    EXPECT_EQ(given, g_hook.layer);
    EXPECT_EQ(&c.kvn_layer_osd_config, g_hook.config);
    EXPECT_EQ(&payload, g_hook.data);
}

// Before start-up there is nothing to set up, and nothing is touched.
TEST_F(OsdLayer, SetUpBeforeStartUpDoesNothing) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "0", 0);
    kvn_test::write_file("/tmp/tvname", "1080i59\n");
    kvn_confirm_virtual_screensize();
    kvn_dfb_context &c = kvn_dfb_global_context;
    EXPECT_EQ(-1, kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background,
                                            &c.kvn_layer_background_config,
                                            &c.kvn_surface_background_of_layer_background));
    EXPECT_EQ(nullptr, c.kvn_layer_background);
    EXPECT_EQ(nullptr, c.kvn_surface_background_of_layer_background);
}

TEST_F(Background, At720LinesPaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    check_layers(720, 14, true);
}
TEST_F(Background, At1080LinesWithoutABackdropTheHelpLinesAreStillDrawn) {
    check_layers(1080, 21, false);
}
