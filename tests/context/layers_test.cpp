// The OSD and background layers on real DirectFB (dummy system), seen through spies over the
// real interfaces: every call the set-up makes, with its arguments, in order, and the pixels
// that reach the background.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <type_traits>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

namespace {

using ctx_test::Spy;
using LayerSpy = Spy<IDirectFBDisplayLayer>;
using DfbSpy = Spy<IDirectFB>;
using SurfaceSpy = Spy<IDirectFBSurface>;
using FontSpy = Spy<IDirectFBFont>;
using ProviderSpy = Spy<IDirectFBImageProvider>;

std::vector<std::string> g_calls;
int g_font_height = 0;  // what the real font reports
IDirectFBSurface *g_real_background = nullptr;
std::string g_fail;  // a call to fail: the start of its logged line, and which occurrence
int g_fail_at = 1;

// Logs a call; true when it is the one to fail.
template <typename... Args>
bool note(const char *format, Args... args) {
    char line[256];
    snprintf(line, sizeof line, format, args...);
    g_calls.push_back(line);
    return !g_fail.empty() && g_calls.back().rfind(g_fail, 0) == 0 && --g_fail_at == 0;
}

// The call passed on to the real interface behind a spy.
#define PASS(SpyType, thiz, Method, ...) SpyType::of(thiz)->real->Method(SpyType::of(thiz)->real, __VA_ARGS__)
// A method of the spy `s` that logs its line (format and arguments after ARGS) and fails when asked to, else
// passes the call on to the real interface R with ARGS.
#define SPIED(Method, PARAMS, ARGS, ...) \
    s->iface.Method = [] PARAMS { auto *R = std::remove_pointer_t<decltype(s)>::of(thiz)->real; return note(__VA_ARGS__) ? DFB_FAILURE : R->Method ARGS; }

SurfaceSpy *surface_spy(IDirectFBSurface *real) {
    SurfaceSpy *s = ctx_test::keep<SurfaceSpy>(real, &g_calls);
    SPIED(SetFont, (IDirectFBSurface *thiz, IDirectFBFont *font), (R, font), "SetFont");
    SPIED(SetColor, (IDirectFBSurface *thiz, u8 r, u8 g, u8 b, u8 a), (R, r, g, b, a), "SetColor %02X %02X %02X %02X", r, g, b, a);
    SPIED(DrawString, (IDirectFBSurface *thiz, const char *text, int bytes, int x, int y, DFBSurfaceTextFlags flags),
          (R, text, bytes, x, y, flags), "DrawString \"%s\" %d %d,%d flags %d", text, bytes, x, y, static_cast<int>(flags));
    s->iface.Flip = [](IDirectFBSurface *, const DFBRegion_C *, DFBSurfaceFlipFlags) { return note("Flip"), DFB_OK; };
    return s;
}

LayerSpy *layer_spy(IDirectFBDisplayLayer *real) {
    LayerSpy *s = ctx_test::keep<LayerSpy>(real, &g_calls);
    SPIED(SetCooperativeLevel, (IDirectFBDisplayLayer *thiz, DFBDisplayLayerCooperativeLevel level), (R, level), "SetCooperativeLevel %s",
          level == DLSCL_ADMINISTRATIVE ? "ADMINISTRATIVE" : level == DLSCL_EXCLUSIVE ? "EXCLUSIVE" : "SHARED");
    SPIED(SetBackgroundMode, (IDirectFBDisplayLayer *thiz, DFBDisplayLayerBackgroundMode mode), (R, mode), "SetBackgroundMode %s",
          mode == DLBM_COLOR ? "COLOR" : mode == DLBM_DONTCARE ? "DONTCARE" : "other");
    SPIED(SetBackgroundColor, (IDirectFBDisplayLayer *thiz, u8 r, u8 g, u8 b, u8 a), (R, r, g, b, a), "SetBackgroundColor %u %u %u %u", r, g, b, a);
    SPIED(GetConfiguration, (IDirectFBDisplayLayer *thiz, DFBDisplayLayerConfig *config), (R, config), "GetConfiguration");
    SPIED(SetConfiguration, (IDirectFBDisplayLayer *thiz, const DFBDisplayLayerConfig *config), (R, config), "SetConfiguration %dx%d", config->width, config->height);
    s->iface.GetSurface = [](IDirectFBDisplayLayer *thiz, IDirectFBSurface **ret) {
        DFBResult r = note("GetSurface") ? DFB_FAILURE : PASS(LayerSpy, thiz, GetSurface, &g_real_background);
        if (r == DFB_OK) *ret = &surface_spy(g_real_background)->iface;
        return r;
    };
    return s;
}

IDirectFB *make_dfb_spy() {
    DfbSpy *s = ctx_test::keep<DfbSpy>(kvn_dfb_global_context.kvn_dfb, &g_calls);
    s->iface.GetDisplayLayer = [](IDirectFB *thiz, DFBDisplayLayerID id, IDirectFBDisplayLayer **ret) {
        IDirectFBDisplayLayer *real = nullptr;
        DFBResult r = note("GetDisplayLayer %u", id) ? DFB_FAILURE : PASS(DfbSpy, thiz, GetDisplayLayer, id, &real);
        if (r == DFB_OK) *ret = &layer_spy(real)->iface;
        return r;
    };
    s->iface.CreateFont = [](IDirectFB *thiz, const char *path, const DFBFontDescription *desc, IDirectFBFont **ret) {
        IDirectFBFont *real = nullptr;
        DFBResult r = note("CreateFont %s flags %d height %d", path, static_cast<int>(desc->flags), desc->height)
                          ? DFB_FAILURE : PASS(DfbSpy, thiz, CreateFont, path, desc, &real);
        if (r != DFB_OK) return r;
        real->GetHeight(real, &g_font_height);
        FontSpy *s = ctx_test::keep<FontSpy>(real, &g_calls);
        SPIED(GetHeight, (IDirectFBFont *thiz, int *height), (R, height), "Font GetHeight");
        s->iface.Release = [](IDirectFBFont *font) -> DirectResult { return note("Font Release"), FontSpy::of(font)->real->Release(FontSpy::of(font)->real); };
        *ret = &s->iface;
        return r;
    };
    s->iface.CreateImageProvider = [](IDirectFB *thiz, const char *path, IDirectFBImageProvider **ret) {
        IDirectFBImageProvider *real = nullptr;
        DFBResult r = PASS(DfbSpy, thiz, CreateImageProvider, path, &real);
        note("CreateImageProvider %s %s", path, r == DFB_OK ? "ok" : "failed");
        if (r != DFB_OK) return r;
        ProviderSpy *p = ctx_test::keep<ProviderSpy>(real, &g_calls);
        p->iface.RenderTo = [](IDirectFBImageProvider *thiz, IDirectFBSurface *to, const DFBRectangle_C *rect) {
            note("RenderTo %s", rect == nullptr ? "whole surface" : "a rectangle");
            return PASS(ProviderSpy, thiz, RenderTo, SurfaceSpy::of(to)->real, rect);
        };
        p->iface.Release = [](IDirectFBImageProvider *thiz) -> DirectResult {
            return note("Provider Release") ? DR_FAILURE : ProviderSpy::of(thiz)->real->Release(ProviderSpy::of(thiz)->real);
        };
        *ret = &p->iface;
        return r;
    };
    return &s->iface;
}

// A screen whose mixer 0 works (the dummy system has none).
DFBDisplayLayerIDs g_mixer_layers = 0;
void give_screen_a_mixer(DFBDisplayLayerIDs initial_layers) {
    g_mixer_layers = initial_layers;
    auto *s = ctx_test::keep<Spy<IDirectFBScreen>>(kvn_dfb_global_context.kvn_screen, &g_calls);
    s->iface.GetMixerConfiguration = [](IDirectFBScreen *, int mixer, DFBScreenMixerConfig *config) {
        config->flags = static_cast<DFBScreenMixerConfigFlags>(DSMCONF_TREE | DSMCONF_LAYERS | DSMCONF_BACKGROUND);
        config->layers = g_mixer_layers;
        return note("GetMixerConfiguration %d", mixer) ? DFB_FAILURE : DFB_OK;
    };
    s->iface.SetMixerConfiguration = [](IDirectFBScreen *, int mixer, const DFBScreenMixerConfig *config) {
        return note("SetMixerConfiguration %d flags %d layers 0x%X", mixer, static_cast<int>(config->flags), static_cast<unsigned>(config->layers))
                   ? DFB_FAILURE : DFB_OK;
    };
    kvn_dfb_global_context.kvn_screen = &s->iface;
}

int background_init(IDirectFB *dfb) {
    kvn_dfb_context &c = kvn_dfb_global_context;
    return kvn_layer_background_init(dfb, &c.kvn_layer_background, &c.kvn_layer_background_config, &c.kvn_surface_background_of_layer_background);
}

// The whole background set-up at a layer height, with or without a backdrop: the calls in order.
void check_background(int layer_height, int font_height, bool backdrop) {
    const unsigned colour = 0x2040a0;
    if (backdrop) kvn_test::write_png("/desktop.png", 64, 48, colour);
    ctx_test::init_display({"--dfb:mode=" + std::to_string(layer_height * 16 / 9) + "x" + std::to_string(layer_height)});
    ctx_test::init_osd_layer();
    give_screen_a_mixer(0x6);
    ASSERT_EQ(0, background_init(make_dfb_spy()));
    const int fh = g_font_height;
    ASSERT_GT(fh, 0);
    auto draw = [&](const char *text, int y) {
        return "DrawString \"" + std::string(text) + "\" -1 150," + std::to_string(y) + " flags " + std::to_string(DSTF_LEFT | DSTF_TOP);
    };
    std::vector<std::string> expected = {
        "GetMixerConfiguration 0", "SetMixerConfiguration 0 flags " + std::to_string(DSMCONF_LAYERS) + " layers 0x7",  // primary added
        "GetDisplayLayer 0", "SetCooperativeLevel ADMINISTRATIVE", "SetCooperativeLevel EXCLUSIVE", "GetSurface", "GetConfiguration",
        "CreateFont /opt/kvn/share/fonts/decker.ttf flags " + std::to_string(DFDESC_HEIGHT) + " height " + std::to_string(font_height),
        "Font GetHeight", std::string("CreateImageProvider /desktop.png ") + (backdrop ? "ok" : "failed")};
    if (backdrop) expected.insert(expected.end(), {"RenderTo whole surface", "Provider Release"});
    expected.insert(expected.end(), {"SetFont", "SetColor CF CF FF FF", draw("Press the s/S/BLUE key to switch focus between window.", 20),
                                     "SetColor CF DF CF FF", draw("Press LEFT/RIGHT/UP/DOWN cursor key to move the window.", fh + 20),
                                     "SetColor CF FF 6F FF", draw("Press ESC/STOP/POWER key to exit.", 2 * fh + 20), "Font Release"});
    EXPECT_EQ(expected, g_calls) << "and never a Flip";
    EXPECT_EQ(layer_height, kvn_dfb_global_context.kvn_layer_background_config.height);
    if (!backdrop) return;
    // The backdrop reached the whole surface (scaled from 64x48).
    IDirectFBSurface *bg = g_real_background;
    void *data = nullptr;
    int pitch = 0;
    ASSERT_EQ(DFB_OK, bg->Lock(bg, DSLF_READ, &data, &pitch));
    EXPECT_EQ(colour & 0xf0f0f0, *reinterpret_cast<const uint32_t *>(static_cast<char *>(data) + (layer_height - 1) * pitch) & 0xf0f0f0);
    bg->Unlock(bg);
}

// The background hook's calls: how many, and the last one's arguments.
struct { int count; IDirectFB *dfb; IDirectFBDisplayLayer *layer; DFBDisplayLayerConfig *config; void *data; } g_hook{};
int recording_hook(IDirectFB *dfb, IDirectFBDisplayLayer *layer, DFBDisplayLayerConfig *config, void *data) {
    g_hook = {g_hook.count + 1, dfb, layer, config, data};
    return 12345;  // ignored
}

}  // namespace

TEST(OsdLayer, FirstSetUpTakesThePrimaryLayerAndLaterOnesReuseItWithTheHookOrTheDefaultBackground) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "5", 0);
    ctx_test::init_display();
    IDirectFB *dfb = make_dfb_spy();
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config{};
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, nullptr, nullptr), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"GetDisplayLayer 0", "SetCooperativeLevel ADMINISTRATIVE", "SetBackgroundMode DONTCARE",
                                                 "GetConfiguration", "SetBackgroundColor 0 0 0 0", "SetBackgroundMode COLOR"}));
    ASSERT_NE(layer, nullptr);
    DFBDisplayLayerConfig real{};
    ASSERT_EQ(PASS(LayerSpy, layer, GetConfiguration, &real), DFB_OK);
    EXPECT_TRUE(config.width == real.width && config.height == real.height && real.height > 0);
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "5\n") << "the stored mode seeds the mode file";
    // Again with the layer set: it is reused; a hook with its data replaces the default
    // background, a hook without data or data without a hook does not.
    IDirectFBDisplayLayer *given = layer;
    int payload = 42;
    void *data = &payload;
    g_calls.clear();
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, &data, recording_hook), 0);
    EXPECT_EQ(g_calls, std::vector<std::string>{"GetConfiguration"});
    EXPECT_TRUE(layer == given && g_hook.count == 1 && g_hook.dfb == dfb && g_hook.layer == given && g_hook.config == &config && g_hook.data == &payload);
    for (int i = 0; i < 2; ++i) {
        g_calls.clear();
        EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, i == 0 ? nullptr : &data, i == 0 ? recording_hook : nullptr), 0);
        EXPECT_EQ(g_calls, (std::vector<std::string>{"GetConfiguration", "SetBackgroundColor 0 0 0 0", "SetBackgroundMode COLOR"}));
    }
    EXPECT_EQ(g_hook.count, 1);
}

TEST(Background, RefusesANullSurfaceAddressOrASecondSetUpWithoutTouchingTheMixer) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    give_screen_a_mixer(0);
    kvn_dfb_context &c = kvn_dfb_global_context;
    EXPECT_EQ(kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background, &c.kvn_layer_background_config, nullptr), -1);
    EXPECT_EQ(c.kvn_layer_background, nullptr);
    IDirectFBSurface *surface = nullptr;
    EXPECT_EQ(kvn_layer_background_init(c.kvn_dfb, nullptr, &c.kvn_layer_background_config, &surface) +
              kvn_layer_background_init(c.kvn_dfb, &c.kvn_layer_background, nullptr, &surface), -2);
    IDirectFBDisplayLayer *already = nullptr;
    ASSERT_EQ(c.kvn_dfb->GetDisplayLayer(c.kvn_dfb, VENDOR_LAYER_BKGND, &already), DFB_OK);
    EXPECT_EQ(kvn_layer_background_init(c.kvn_dfb, &already, &c.kvn_layer_background_config, &surface), -1);
    EXPECT_EQ(surface, nullptr);
    EXPECT_TRUE(g_calls.empty());
}

// The font is a fiftieth of the layer height: 14 at 720 lines, 21 at 1080.
TEST(Background, At720LinesPaintsTheBackdropAndThreeHelpLinesAFontHeightApart) {
    KVN_REQUIRE_SANDBOX();
    check_background(720, 14, true);
}

TEST(Background, At1080LinesWithoutABackdropTheHelpLinesAreStillDrawn) {
    KVN_REQUIRE_SANDBOX();
    check_background(1080, 21, false);
}

// Both layers, the mixer and the virtual screen set up, with a backdrop.
void set_up_everything() {
    kvn_test::write_png("/desktop.png", 8, 8, 0);
    ctx_test::init_display({"--dfb:mode=1280x720"});
    give_screen_a_mixer(0);
    IDirectFB *dfb = make_dfb_spy();
    kvn_layer_osd_init(dfb, &kvn_dfb_global_context.kvn_layer_osd, &kvn_dfb_global_context.kvn_layer_osd_config, nullptr, nullptr);
    background_init(dfb);
    write_var("video_output", "0", 0), kvn_test::write_file("/tmp/tvname", "720p60\n");
    kvn_confirm_virtual_screensize();
}

// Every guarded call of the layer set-ups ends the process with the report naming this module
// and quoting the call as written; rows first to last (in two tests, so that they run side by side).
static void check_guard_texts(size_t first, size_t last) {
    GTEST_FLAG_SET(death_test_style, "fast");  // DirectFB starts in the child only
    const std::string osd = "(*kvn_layer_osd)->", bg = "(*kvn_layer_background)->", s = "(*kvn_surface_background_of_layer_background)",
                      ctx = "(kvn_dfb_global_context.", draw = ", -1, 150, ", flags = ", DSTF_LEFT | DSTF_TOP )";
    const struct { const char *call; int occurrence; std::string text; } rows[] = {
        {"GetDisplayLayer", 1, "kvn_dfb->GetDisplayLayer(kvn_dfb, DLID_PRIMARY, kvn_layer_osd)"},
        {"SetCooperativeLevel ADMIN", 1, osd + "SetCooperativeLevel((*kvn_layer_osd), DLSCL_ADMINISTRATIVE)"},
        {"SetBackgroundMode DONTCARE", 1, osd + "SetBackgroundMode((*kvn_layer_osd), DLBM_DONTCARE)"},
        {"GetConfiguration", 1, osd + "GetConfiguration( *kvn_layer_osd, kvn_layer_osd_config )"},
        {"SetBackgroundColor", 1, osd + "SetBackgroundColor( (*kvn_layer_osd), 0, 0, 0, 0 )"},
        {"SetBackgroundMode COLOR", 1, osd + "SetBackgroundMode( (*kvn_layer_osd), DLBM_COLOR )"},
        {"GetMixerConfiguration", 1, ctx + "kvn_screen)->GetMixerConfiguration(" + ctx + "kvn_screen), 0, &mixcfg)"},
        {"SetMixerConfiguration", 1, ctx + "kvn_screen)->SetMixerConfiguration(" + ctx + "kvn_screen), 0, &mixcfg)"},
        {"GetDisplayLayer", 2, "kvn_dfb->GetDisplayLayer( kvn_dfb, VENDOR_LAYER_BKGND, kvn_layer_background )"},
        {"SetCooperativeLevel ADMIN", 2, bg + "SetCooperativeLevel( *kvn_layer_background, DLSCL_ADMINISTRATIVE )"},
        {"SetCooperativeLevel EXCL", 1, bg + "SetCooperativeLevel( *kvn_layer_background, DLSCL_EXCLUSIVE )"},
        {"GetSurface", 1, bg + "GetSurface((*kvn_layer_background), kvn_surface_background_of_layer_background)"},
        {"GetConfiguration", 2, bg + "GetConfiguration( *kvn_layer_background, kvn_layer_background_config )"},
        {"CreateFont", 1, "kvn_dfb->CreateFont(kvn_dfb, FONT, &font_desc, &font)"},
        {"Font GetHeight", 1, "font->GetHeight(font, &font_height)"}, {"Provider Release", 1, "provider->Release( provider )"},
        {"SetFont", 1, s + "->SetFont( " + s + ", font )"}, {"SetColor", 1, s + "->SetColor( " + s + ", 0xCF, 0xCF, 0xFF, 0xFF )"},
        {"DrawString", 1, s + "->DrawString( " + s + ", \"Press the s/S/BLUE key to switch focus between window.\"" + draw + "20" + flags},
        {"SetColor", 2, s + "->SetColor( " + s + ", 0xCF, 0xDF, 0xCF, 0xFF )"},
        {"DrawString", 2, s + "->DrawString( " + s + ", \"Press LEFT/RIGHT/UP/DOWN cursor key to move the window.\"" + draw + "font_height+20" + flags},
        {"SetColor", 3, s + "->SetColor( " + s + ", 0xCF, 0xFF, 0x6F, 0xFF )"},
        {"DrawString", 3, s + "->DrawString( " + s + ", \"Press ESC/STOP/POWER key to exit.\"" + draw + "(font_height * 2) + 20" + flags},
        {"SetConfiguration", 1, ctx + "kvn_layer_osd)->SetConfiguration(" + ctx + "kvn_layer_osd), &(kvn_dfb_global_context.kvn_layer_osd_config))"},
    };
    for (size_t i = first; i <= last && i < sizeof rows / sizeof rows[0]; ++i) {
        SCOPED_TRACE(rows[i].text);
        EXPECT_EXIT({ g_fail = rows[i].call; g_fail_at = rows[i].occurrence; set_up_everything(); exit(0); },
                    [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, ctx_test::guard_report(rows[i].text));
    }
}

TEST(LayersDeathTest, EachFailingCallOfTheOsdLayerAndTheMixerIsReportedWithItsOwnText) {
    KVN_REQUIRE_SANDBOX();
    check_guard_texts(0, 11);
}

TEST(LayersDeathTest, EachFailingCallOfTheBackgroundLayerIsReportedWithItsOwnText) {
    KVN_REQUIRE_SANDBOX();
    check_guard_texts(12, 99);
}
