// The background layer: the dummy system has no screen mixer, so the real
// set-up ends the process at the mixer; the rest of it runs behind a mixer
// that a spy over the real screen provides.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "context_test_util.h"
#include "kvn_test_support.h"

namespace {

using ScreenSpy = ctx_test::Spy<IDirectFBScreen>;

std::vector<std::string> g_calls;
DFBDisplayLayerIDs g_mixer_layers = 0;
DFBScreenMixerConfigFlags g_set_flags = DSMCONF_NONE;
DFBDisplayLayerIDs g_set_layers = 0;

DFBResult fake_get_mixer(IDirectFBScreen *thiz, int mixer, DFBScreenMixerConfig *config) {
    ScreenSpy::of(thiz)->log->push_back("GetMixerConfiguration " + std::to_string(mixer));
    config->flags =
        static_cast<DFBScreenMixerConfigFlags>(DSMCONF_TREE | DSMCONF_LAYERS | DSMCONF_BACKGROUND);
    config->layers = g_mixer_layers;
    return DFB_OK;
}

DFBResult fake_set_mixer(IDirectFBScreen *thiz, int mixer, const DFBScreenMixerConfig *config) {
    ScreenSpy::of(thiz)->log->push_back("SetMixerConfiguration " + std::to_string(mixer));
    g_set_flags = config->flags;
    g_set_layers = config->layers;
    return DFB_OK;
}

// Puts a screen with a working mixer 0 in the global context.
void give_screen_a_mixer(DFBDisplayLayerIDs initial_layers) {
    g_mixer_layers = initial_layers;
    ScreenSpy *s = ctx_test::keep<ScreenSpy>(kvn_dfb_global_context.kvn_screen, &g_calls);
    s->iface.GetMixerConfiguration = fake_get_mixer;
    s->iface.SetMixerConfiguration = fake_set_mixer;
    kvn_dfb_global_context.kvn_screen = &s->iface;
}

// Reads the surface as 32-bit RGB; rows of 0xRRGGBB.
std::vector<std::vector<unsigned>> read_back(IDirectFBSurface *surface) {
    std::vector<std::vector<unsigned>> rows;
    int w = 0, h = 0;
    surface->GetSize(surface, &w, &h);
    DFBSurfacePixelFormat format;
    surface->GetPixelFormat(surface, &format);
    void *data = nullptr;
    int pitch = 0;
    if (surface->Lock(surface, DSLF_READ, &data, &pitch) != DFB_OK) return rows;
    for (int y = 0; y < h; ++y) {
        std::vector<unsigned> row(static_cast<size_t>(w));
        const unsigned char *line = static_cast<const unsigned char *>(data) + y * pitch;
        for (int x = 0; x < w; ++x) {
            if (format == DSPF_RGB16) {
                unsigned v = reinterpret_cast<const uint16_t *>(line)[x];
                row[static_cast<size_t>(x)] =
                    ((v >> 11) & 0x1f) << 19 | ((v >> 5) & 0x3f) << 10 | (v & 0x1f) << 3;
            } else {
                row[static_cast<size_t>(x)] =
                    reinterpret_cast<const uint32_t *>(line)[x] & 0xffffff;
            }
        }
        rows.push_back(row);
    }
    surface->Unlock(surface);
    return rows;
}

bool row_band_has_other_than(const std::vector<std::vector<unsigned>> &px, int y0, int y1, int x0,
                             unsigned colour) {
    for (int y = y0; y < y1 && y < static_cast<int>(px.size()); ++y)
        for (size_t x = static_cast<size_t>(x0); x < px[static_cast<size_t>(y)].size(); ++x)
            if (px[static_cast<size_t>(y)][x] != colour) return true;
    return false;
}

int background_init() {
    kvn_dfb_context &c = kvn_dfb_global_context;
    return kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background,
                                     &c.kvn_layer_background_config,
                                     &c.kvn_surface_background_of_layer_background);
}

}  // namespace

using BackgroundDeathTest = ::testing::Test;

TEST_F(BackgroundDeathTest, WithoutAScreenMixerTheSetUpEndsTheProcessAtTheMixer) {
    KVN_REQUIRE_SANDBOX();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ctx_test::init_display();
            ctx_test::init_osd_layer();
            background_init();
            exit(0);
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); },
        "korvan_framework_lib <[0-9]+>:\n\t.*\\(kvn_dfb_global_context.kvn_screen\\)->"
        "GetMixerConfiguration\\(\\(kvn_dfb_global_context.kvn_screen\\), 0, &mixcfg\\)");
}

TEST(Background, RefusesANullSurfaceAddressOrASecondSetUpWithoutTouchingTheMixer) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    give_screen_a_mixer(0);
    kvn_dfb_context &c = kvn_dfb_global_context;
    EXPECT_EQ(kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background,
                                        &c.kvn_layer_background_config, nullptr),
              -1);
    EXPECT_EQ(c.kvn_layer_background, nullptr);

    IDirectFBDisplayLayer *already = nullptr;
    ASSERT_EQ(c.kvn_dfb->GetDisplayLayer(c.kvn_dfb, VENDOR_LAYER_BKGND, &already), DFB_OK);
    IDirectFBSurface *surface = nullptr;
    EXPECT_EQ(
        kvn_layer_background_init(c.kvn_dfb, &already, &c.kvn_layer_background_config, &surface),
        -1);
    EXPECT_EQ(surface, nullptr);
    EXPECT_TRUE(g_calls.empty());
}

TEST(Background, PaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    KVN_REQUIRE_SANDBOX();
    const unsigned backdrop = 0x2040a0;
    kvn_test::write_png("/desktop.png", 64, 48, backdrop);
    ctx_test::init_display({"--dfb:mode=1280x720"});
    ctx_test::init_osd_layer();
    give_screen_a_mixer(0x6);

    ASSERT_EQ(background_init(), 0);
    std::vector<std::string> mixer = {"GetMixerConfiguration 0", "SetMixerConfiguration 0"};
    EXPECT_EQ(g_calls, mixer);
    EXPECT_EQ(g_set_flags, DSMCONF_LAYERS);
    EXPECT_EQ(g_set_layers, 0x7u);  // primary added, the others kept

    kvn_dfb_context &c = kvn_dfb_global_context;
    ASSERT_NE(c.kvn_layer_background, nullptr);
    ASSERT_NE(c.kvn_surface_background_of_layer_background, nullptr);
    int h = c.kvn_layer_background_config.height;
    ASSERT_EQ(h, 720);
    int fh = 0;
    {
        // The font the set-up chose: a fiftieth of the layer height.
        IDirectFBFont *font = nullptr;
        DFBFontDescription desc;
        desc.flags = DFDESC_HEIGHT;
        desc.height = h / 50;
        ASSERT_EQ(c.kvn_dfb->CreateFont(c.kvn_dfb, "/opt/kvn/share/fonts/decker.ttf", &desc, &font),
                  DFB_OK);
        font->GetHeight(font, &fh);
        font->Release(font);
    }
    ASSERT_GT(fh, 0);

    auto px = read_back(c.kvn_surface_background_of_layer_background);
    ASSERT_EQ(static_cast<int>(px.size()), h);
    // The backdrop covers the whole surface (scaled), text only right of x=150.
    EXPECT_EQ(px[static_cast<size_t>(h - 1)].back() & 0xf0f0f0, backdrop & 0xf0f0f0);
    EXPECT_EQ(px[0][0] & 0xf0f0f0, backdrop & 0xf0f0f0);
    unsigned bg = px[static_cast<size_t>(h - 1)].back();
    EXPECT_FALSE(row_band_has_other_than(px, 0, 20, 0, bg));
    EXPECT_TRUE(row_band_has_other_than(px, 20, 20 + fh, 150, bg));
    EXPECT_TRUE(row_band_has_other_than(px, 20 + fh, 20 + 2 * fh, 150, bg));
    EXPECT_TRUE(row_band_has_other_than(px, 20 + 2 * fh, 20 + 3 * fh, 150, bg));
    EXPECT_FALSE(row_band_has_other_than(px, 20 + 3 * fh + 2, h, 0, bg));
    for (size_t y = 0; y < px.size(); ++y)
        for (size_t x = 0; x < 150; ++x) ASSERT_EQ(px[y][x], bg) << x << "," << y;
}

TEST(Background, WithoutABackdropTheHelpTextIsStillDrawn) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display({"--dfb:mode=1920x1080"});
    ctx_test::init_osd_layer();
    give_screen_a_mixer(0);
    ASSERT_EQ(background_init(), 0);
    auto px = read_back(kvn_dfb_global_context.kvn_surface_background_of_layer_background);
    ASSERT_FALSE(px.empty());
    unsigned corner = px.back().back();
    EXPECT_TRUE(row_band_has_other_than(px, 20, 40, 150, corner));
}
