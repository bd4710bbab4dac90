// The layers on real DirectFB (dummy system), seen through spies and read back; the virtual size.
#include "kvn_dfb_kit.h"
#include "platform/imports.h"

namespace {

using kvn_test::dfb_calls;
using Calls = std::vector<std::string>;
kvn_dfb_context &c = kvn_dfb_global_context;

int background_init(IDirectFB *dfb, IDirectFBSurface **surface) {
    return kvn_layer_background_init(dfb, &c.kvn_layer_background, &c.kvn_layer_background_config,
                                     surface);
}

// A screen whose mixer 0 holds layers 1 and 2 (the dummy system has no mixer).
void give_screen_a_mixer() {
    auto *s = kvn_test::spy(c.kvn_screen);
    s->iface.GetMixerConfiguration = [](IDirectFBScreen *, int mixer, DFBScreenMixerConfig *cfg) {
        cfg->flags = static_cast<DFBScreenMixerConfigFlags>(DSMCONF_TREE | DSMCONF_LAYERS);
        cfg->layers = 0x6;
        kvn_test::note("GetMixerConfiguration %d", mixer);
        return DFB_OK;
    };
    s->iface.SetMixerConfiguration = [](IDirectFBScreen *, int mixer,
                                        const DFBScreenMixerConfig *cfg) {
        kvn_test::note("SetMixerConfiguration %d flags %d layers 0x%X", mixer,
                       static_cast<int>(cfg->flags), static_cast<unsigned>(cfg->layers));
        return DFB_OK;
    };
    c.kvn_screen = &s->iface;
}

std::string draw(const char *text, int y) {
    return "DrawString \"" + std::string(text) + "\" -1 150," + std::to_string(y) + " flags " +
           std::to_string(DSTF_TOPLEFT);
}

// Both set-ups at a layer height, with or without a backdrop: the calls in order, the help lines a
// font height apart (fh: what DirectFB's font reports), the font a fiftieth of the layer height.
void check_layers(int layer_height, int font_height, int fh, bool backdrop) {
    KVN_REQUIRE_SANDBOX();
    if (backdrop)  // a one-pixel PNG
        kvn_test::write_file(
            "/desktop.png",
            std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0"
                        "\x90wS\xde\0\0\0\x0cIDAT\x78\xda\x63\x50\x70\x58\0\0\x01\x84"
                        "\x01\x01\x41\x7e\xbc\x91\0\0\0\0IEND\xae\x42\x60\x82",
                        69));
    write_var("video_output", "5", 0);
    const std::string width = std::to_string(layer_height * 16 / 9);
    kvn_test::init_display({"--dfb:mode=" + width + "x" + std::to_string(layer_height)});
    give_screen_a_mixer();
    IDirectFB *dfb = kvn_test::spy_dfb(c.kvn_dfb);
    EXPECT_EQ(0,
              kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr));
    IDirectFBSurface *surface = nullptr;
    EXPECT_EQ(-1, background_init(dfb, nullptr)) << "no surface address: the mixer untouched";
    EXPECT_EQ(0, background_init(dfb, &c.kvn_surface_background_of_layer_background));
    EXPECT_EQ(-1, background_init(dfb, &surface)) << "runs once";
    EXPECT_EQ(nullptr, surface);
    Calls expected = {"GetDisplayLayer 0",
                      "SetCooperativeLevel ADMINISTRATIVE",
                      "SetBackgroundMode DONTCARE",
                      "GetConfiguration",
                      "SetBackgroundColor 0 0 0 0",
                      "SetBackgroundMode COLOR",
                      "GetMixerConfiguration 0",
                      "SetMixerConfiguration 0 flags " + std::to_string(DSMCONF_LAYERS) +
                          " layers 0x7",  // the primary layer (bit 0) added, the others kept
                      "GetDisplayLayer 0",
                      "SetCooperativeLevel ADMINISTRATIVE",
                      "SetCooperativeLevel EXCLUSIVE",
                      "GetSurface",
                      "GetConfiguration",
                      "CreateFont /opt/kvn/share/fonts/decker.ttf flags " +
                          std::to_string(DFDESC_HEIGHT) + " height " + std::to_string(font_height),
                      "font GetHeight",
                      "CreateImageProvider /desktop.png"};
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
    kvn_clean_up();  // the surface holds the font it wrote with until then
}

IDirectFB *g_dfb;  // the one the set-up is given
int recording_hook(IDirectFB *dfb, IDirectFBDisplayLayer *layer, DFBDisplayLayerConfig *config,
                   void *data) {
    kvn_test::note("hook: dfb %d, layer %d, config %d, data %d", dfb == g_dfb,
                   layer == c.kvn_layer_osd, config == &c.kvn_layer_osd_config,
                   *static_cast<int *>(data));
    return 12345;  // ignored
}

}  // namespace

// Automatic (text without digits reads as 0) with any name forces the size; nothing else does.
TEST(VirtualScreen, OnlyTheAutomaticModeWithANamedOutputForces1280x720) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::write_file("/tmp/tvmode", "0\n");  // present, so the OSD set-up does not store a mode
    kvn_test::init_display({"--dfb:mode=800x600"});
    kvn_layer_osd_init(c.kvn_dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr, nullptr);
    DFBDisplayLayerConfig &config = c.kvn_layer_osd_config;
    const DFBDisplayLayerConfig before = config;
    write_var("tv_system", "PAL", 0);
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
        row.tvname ? kvn_test::write_file("/tmp/tvname", row.tvname)
                   : kvn_test::remove_file("/tmp/tvname");
        ASSERT_EQ(DFB_OK, c.kvn_layer_osd->SetConfiguration(c.kvn_layer_osd, &(config = before)));
        kvn_confirm_virtual_screensize();
        DFBDisplayLayerConfig real;
        ASSERT_EQ(DFB_OK, c.kvn_layer_osd->GetConfiguration(c.kvn_layer_osd, &real));
        EXPECT_EQ((std::vector<int>{row.width, row.height, row.height}),
                  (std::vector<int>{real.width, real.height, config.height}));
    }
    EXPECT_EQ(DLCONF_WIDTH | DLCONF_HEIGHT, config.flags);
    EXPECT_EQ(before.pixelformat, config.pixelformat) << "the other members kept";
}

// Again: the layer is reused; only a hook with its data replaces the default background.
TEST(OsdLayer, LaterSetUpsReuseTheLayerAndCallTheHookOnlyWithItsData) {
    KVN_REQUIRE_SANDBOX();
    kvn_test::start_display();
    IDirectFB *dfb = g_dfb = kvn_test::spy_dfb(c.kvn_dfb);
    IDirectFBDisplayLayer *given = c.kvn_layer_osd = kvn_test::spy_layer(c.kvn_layer_osd);
    int payload = 42;
    void *data = &payload;
    EXPECT_EQ(0, kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, nullptr,
                                    recording_hook));
    EXPECT_EQ(0,
              kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, &data, nullptr));
    EXPECT_EQ(0, kvn_layer_osd_init(dfb, &c.kvn_layer_osd, &c.kvn_layer_osd_config, &data,
                                    recording_hook));
    const std::string color = "SetBackgroundColor 0 0 0 0", mode = "SetBackgroundMode COLOR";
    EXPECT_EQ((Calls{"GetConfiguration", color, mode, "GetConfiguration", color, mode,
                     "GetConfiguration", "hook: dfb 1, layer 1, config 1, data 42"}),
              dfb_calls);
    EXPECT_EQ(given, c.kvn_layer_osd);
}

TEST(Background, At720LinesPaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    check_layers(720, 14, 18, true);
}
TEST(Background, At1080LinesWithoutABackdropTheHelpLinesAreStillDrawn) {
    check_layers(1080, 21, 26, false);
}
