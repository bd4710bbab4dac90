// The OSD and background layers on real DirectFB (dummy system), with
// spies over the interfaces to see which calls the set-up makes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "context_test_util.h"
#include "kvn_platform.h"
#include "kvn_test_support.h"

namespace {

using ctx_test::Spy;
using LayerSpy = Spy<IDirectFBDisplayLayer>;
using DfbSpy = Spy<IDirectFB>;
using ScreenSpy = Spy<IDirectFBScreen>;

std::vector<std::string> g_calls;

std::string level_name(DFBDisplayLayerCooperativeLevel level) {
    switch (level) {
        case DLSCL_SHARED:
            return "SHARED";
        case DLSCL_EXCLUSIVE:
            return "EXCLUSIVE";
        case DLSCL_ADMINISTRATIVE:
            return "ADMINISTRATIVE";
    }
    return "?";
}

DFBResult spy_set_level(IDirectFBDisplayLayer *thiz, DFBDisplayLayerCooperativeLevel level) {
    LayerSpy *s = LayerSpy::of(thiz);
    s->log->push_back("SetCooperativeLevel " + level_name(level));
    return s->real->SetCooperativeLevel(s->real, level);
}

DFBResult spy_set_bg_mode(IDirectFBDisplayLayer *thiz, DFBDisplayLayerBackgroundMode mode) {
    LayerSpy *s = LayerSpy::of(thiz);
    s->log->push_back(mode == DLBM_COLOR      ? "SetBackgroundMode COLOR"
                      : mode == DLBM_DONTCARE ? "SetBackgroundMode DONTCARE"
                                              : "SetBackgroundMode other");
    return s->real->SetBackgroundMode(s->real, mode);
}

DFBResult spy_set_bg_color(IDirectFBDisplayLayer *thiz, u8 r, u8 g, u8 b, u8 a) {
    LayerSpy *s = LayerSpy::of(thiz);
    char line[64];
    snprintf(line, sizeof line, "SetBackgroundColor %u %u %u %u", r, g, b, a);
    s->log->push_back(line);
    return s->real->SetBackgroundColor(s->real, r, g, b, a);
}

DFBResult spy_get_config(IDirectFBDisplayLayer *thiz, DFBDisplayLayerConfig *config) {
    LayerSpy *s = LayerSpy::of(thiz);
    s->log->push_back("GetConfiguration");
    return s->real->GetConfiguration(s->real, config);
}

LayerSpy *make_layer_spy(IDirectFBDisplayLayer *real) {
    LayerSpy *s = ctx_test::keep<LayerSpy>(real, &g_calls);
    s->iface.SetCooperativeLevel = spy_set_level;
    s->iface.SetBackgroundMode = spy_set_bg_mode;
    s->iface.SetBackgroundColor = spy_set_bg_color;
    s->iface.GetConfiguration = spy_get_config;
    return s;
}

DFBResult spy_get_layer(IDirectFB *thiz, DFBDisplayLayerID id, IDirectFBDisplayLayer **ret) {
    DfbSpy *s = DfbSpy::of(thiz);
    s->log->push_back("GetDisplayLayer " + std::to_string(id));
    IDirectFBDisplayLayer *real = nullptr;
    DFBResult r = s->real->GetDisplayLayer(s->real, id, &real);
    if (r == DFB_OK) *ret = &make_layer_spy(real)->iface;
    return r;
}

IDirectFB *make_dfb_spy() {
    DfbSpy *s = ctx_test::keep<DfbSpy>(kvn_dfb_global_context.kvn_dfb, &g_calls);
    s->iface.GetDisplayLayer = spy_get_layer;
    return &s->iface;
}

bool contains(const std::vector<std::string> &v, const std::string &x) {
    for (auto &e : v)
        if (e == x) return true;
    return false;
}

struct HookCall {
    int count = 0;
    IDirectFB *dfb = nullptr;
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig *config = nullptr;
    void *data = nullptr;
} g_hook;

int recording_hook(IDirectFB *dfb, IDirectFBDisplayLayer *layer, DFBDisplayLayerConfig *config,
                   void *data) {
    g_hook.count++;
    g_hook.dfb = dfb;
    g_hook.layer = layer;
    g_hook.config = config;
    g_hook.data = data;
    return 12345;  // ignored
}

}  // namespace

TEST(OsdLayer, FirstSetUpTakesThePrimaryLayerClearsItsBackgroundAndSeedsTheModeFile) {
    KVN_REQUIRE_SANDBOX();
    write_var("video_output", "5", 0);
    ctx_test::init_display();
    IDirectFB *dfb = make_dfb_spy();
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config{};
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, nullptr, nullptr), 0);

    std::vector<std::string> expected = {
        "GetDisplayLayer 0", "SetCooperativeLevel ADMINISTRATIVE", "SetBackgroundMode DONTCARE",
        "GetConfiguration",  "SetBackgroundColor 0 0 0 0",         "SetBackgroundMode COLOR"};
    EXPECT_EQ(g_calls, expected);
    ASSERT_NE(layer, nullptr);
    DFBDisplayLayerConfig real{};
    ASSERT_EQ(LayerSpy::of(layer)->real->GetConfiguration(LayerSpy::of(layer)->real, &real),
              DFB_OK);
    EXPECT_EQ(config.width, real.width);
    EXPECT_EQ(config.height, real.height);
    EXPECT_GT(config.width, 0);

    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "5\n");
    char *stored = get_var_mem("video_output");
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(stored, "5");
    free(stored);
}

TEST(OsdLayer, ASetLayerIsReusedButItsConfigurationAndBackgroundAreRedone) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    IDirectFB *real_dfb = kvn_dfb_global_context.kvn_dfb;
    IDirectFBDisplayLayer *real_layer = nullptr;
    ASSERT_EQ(real_dfb->GetDisplayLayer(real_dfb, DLID_PRIMARY, &real_layer), DFB_OK);
    ASSERT_EQ(real_layer->SetCooperativeLevel(real_layer, DLSCL_ADMINISTRATIVE), DFB_OK);
    IDirectFBDisplayLayer *layer = &make_layer_spy(real_layer)->iface;
    IDirectFBDisplayLayer *given = layer;
    DFBDisplayLayerConfig config{};

    EXPECT_EQ(kvn_layer_osd_init(make_dfb_spy(), &layer, &config, nullptr, nullptr), 0);
    std::vector<std::string> expected = {"GetConfiguration", "SetBackgroundColor 0 0 0 0",
                                         "SetBackgroundMode COLOR"};
    EXPECT_EQ(g_calls, expected);
    EXPECT_EQ(layer, given);
    EXPECT_GT(config.height, 0);
    // No stored mode: the automatic mode is seeded in both places.
    EXPECT_EQ(kvn_test::read_file("/tmp/tvmode"), "0\n");
}

TEST(OsdLayer, TheHookReplacesTheDefaultBackgroundOnlyWhenItComesWithData) {
    KVN_REQUIRE_SANDBOX();
    ctx_test::init_display();
    IDirectFB *dfb = make_dfb_spy();
    IDirectFBDisplayLayer *layer = nullptr;
    DFBDisplayLayerConfig config{};
    int payload = 42;
    void *data = &payload;

    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, &data, recording_hook), 0);
    EXPECT_EQ(g_hook.count, 1);
    EXPECT_EQ(g_hook.dfb, dfb);
    EXPECT_EQ(g_hook.layer, layer);
    EXPECT_EQ(g_hook.config, &config);
    EXPECT_EQ(g_hook.data, &payload);
    EXPECT_FALSE(contains(g_calls, "SetBackgroundColor 0 0 0 0"));
    EXPECT_FALSE(contains(g_calls, "SetBackgroundMode COLOR"));

    // Hook without data, then data without hook: the default background.
    g_calls.clear();
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, nullptr, recording_hook), 0);
    EXPECT_EQ(g_hook.count, 1);
    EXPECT_TRUE(contains(g_calls, "SetBackgroundColor 0 0 0 0"));
    EXPECT_TRUE(contains(g_calls, "SetBackgroundMode COLOR"));
    g_calls.clear();
    EXPECT_EQ(kvn_layer_osd_init(dfb, &layer, &config, &data, nullptr), 0);
    EXPECT_TRUE(contains(g_calls, "SetBackgroundColor 0 0 0 0"));
    EXPECT_TRUE(contains(g_calls, "SetBackgroundMode COLOR"));
    EXPECT_FALSE(contains(g_calls, "GetDisplayLayer 0"));  // reused after the first call
}
