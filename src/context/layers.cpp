// The two display layers: the OSD layer that every application window is
// created on, and the vendor's background layer with its backdrop and key
// help.
#include <stdlib.h>
#include <unistd.h>

#include "common/codes.h"
#include "common/files.h"
#include "common/guard.h"
#include "common/numbers.h"
#include "common/warn.h"
#include "korvan_framework_lib.h"

namespace kvn {

namespace {

constexpr const char *kFont = "/opt/kvn/share/fonts/decker.ttf";
constexpr const char *kBackdrop = "/desktop.png";
// The virtual screen of the automatic mode.
constexpr int kVirtualWidth = 1280;
constexpr int kVirtualHeight = 720;

int release_layer_and_surface(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface) {
    if (surface != nullptr) surface->Release(surface);
    if (layer != nullptr) layer->Release(layer);
    return 0;
}

}  // namespace

}  // namespace kvn

extern "C" int kvn_layer_osd_init(IDirectFB *kvn_dfb, IDirectFBDisplayLayer **kvn_layer_osd,
                                  DFBDisplayLayerConfig *kvn_layer_osd_config,
                                  void **background_hook_data,
                                  kvn_background_hook_fn background_hook) {
    // A second call reuses the layer that the first one took.
    if (*kvn_layer_osd == nullptr) {
        KVN_DFB_CHECK(kvn_dfb->GetDisplayLayer(kvn_dfb, DLID_PRIMARY, kvn_layer_osd),
                      "kvn_dfb->GetDisplayLayer(kvn_dfb, DLID_PRIMARY, kvn_layer_osd)");
        KVN_DFB_CHECK(
            (*kvn_layer_osd)->SetCooperativeLevel((*kvn_layer_osd), DLSCL_ADMINISTRATIVE),
            "(*kvn_layer_osd)->SetCooperativeLevel((*kvn_layer_osd), DLSCL_ADMINISTRATIVE)");
        KVN_DFB_CHECK((*kvn_layer_osd)->SetBackgroundMode((*kvn_layer_osd), DLBM_DONTCARE),
                      "(*kvn_layer_osd)->SetBackgroundMode((*kvn_layer_osd), DLBM_DONTCARE)");
    }
    KVN_DFB_CHECK((*kvn_layer_osd)->GetConfiguration(*kvn_layer_osd, kvn_layer_osd_config),
                  "(*kvn_layer_osd)->GetConfiguration( *kvn_layer_osd, kvn_layer_osd_config )");

    if (background_hook != nullptr && background_hook_data != nullptr) {
        background_hook(kvn_dfb, *kvn_layer_osd, kvn_layer_osd_config, *background_hook_data);
    } else {
        KVN_DFB_CHECK((*kvn_layer_osd)->SetBackgroundColor((*kvn_layer_osd), 0, 0, 0, 0),
                      "(*kvn_layer_osd)->SetBackgroundColor( (*kvn_layer_osd), 0, 0, 0, 0 )");
        KVN_DFB_CHECK((*kvn_layer_osd)->SetBackgroundMode((*kvn_layer_osd), DLBM_COLOR),
                      "(*kvn_layer_osd)->SetBackgroundMode( (*kvn_layer_osd), DLBM_COLOR )");
    }

    init_video_config(&kvn_dfb_global_context);
    init_audio_config();
    return 0;
}

extern "C" int kvn_layer_background_init(
    IDirectFB *kvn_dfb, IDirectFBDisplayLayer **kvn_layer_background,
    DFBDisplayLayerConfig *kvn_layer_background_config,
    IDirectFBSurface **kvn_surface_background_of_layer_background) {
    if (kvn_layer_background == nullptr || kvn_layer_background_config == nullptr) return -1;
    if (*kvn_layer_background != nullptr || kvn_surface_background_of_layer_background == nullptr)
        return -1;
    // Before start-up there is no DirectFB and no screen to ask.
    if (kvn_dfb == nullptr || kvn_dfb_global_context.kvn_screen == nullptr) {
        kvn::warn("kvn_layer_background_init", "called before kvn_dfb_init; nothing done");
        return -1;
    }

    // The primary layer has to be part of the mixer's output, whatever
    // else the mixer already shows.
    DFBScreenMixerConfig mixcfg;
    KVN_DFB_CHECK((kvn_dfb_global_context.kvn_screen)
                      ->GetMixerConfiguration((kvn_dfb_global_context.kvn_screen), 0, &mixcfg),
                  "(kvn_dfb_global_context.kvn_screen)->GetMixerConfiguration((kvn_dfb_global_"
                  "context.kvn_screen), 0, &mixcfg)");
    mixcfg.flags = DSMCONF_LAYERS;
    DFB_DISPLAYLAYER_IDS_ADD(mixcfg.layers, DLID_PRIMARY);
    KVN_DFB_CHECK((kvn_dfb_global_context.kvn_screen)
                      ->SetMixerConfiguration((kvn_dfb_global_context.kvn_screen), 0, &mixcfg),
                  "(kvn_dfb_global_context.kvn_screen)->SetMixerConfiguration((kvn_dfb_global_"
                  "context.kvn_screen), 0, &mixcfg)");

    KVN_DFB_CHECK(kvn_dfb->GetDisplayLayer(kvn_dfb, VENDOR_LAYER_BKGND, kvn_layer_background),
                  "kvn_dfb->GetDisplayLayer( kvn_dfb, VENDOR_LAYER_BKGND, kvn_layer_background )");
    KVN_DFB_CHECK(
        (*kvn_layer_background)->SetCooperativeLevel(*kvn_layer_background, DLSCL_ADMINISTRATIVE),
        "(*kvn_layer_background)->SetCooperativeLevel( *kvn_layer_background, DLSCL_ADMINISTRATIVE "
        ")");
    KVN_DFB_CHECK(
        (*kvn_layer_background)->SetCooperativeLevel(*kvn_layer_background, DLSCL_EXCLUSIVE),
        "(*kvn_layer_background)->SetCooperativeLevel( *kvn_layer_background, DLSCL_EXCLUSIVE )");
    KVN_DFB_CHECK(
        (*kvn_layer_background)
            ->GetSurface((*kvn_layer_background), kvn_surface_background_of_layer_background),
        "(*kvn_layer_background)->GetSurface((*kvn_layer_background), "
        "kvn_surface_background_of_layer_background)");
    KVN_DFB_CHECK((*kvn_layer_background)
                      ->GetConfiguration(*kvn_layer_background, kvn_layer_background_config),
                  "(*kvn_layer_background)->GetConfiguration( *kvn_layer_background, "
                  "kvn_layer_background_config )");

    DFBFontDescription font_desc;
    font_desc.flags = DFDESC_HEIGHT;
    font_desc.height = kvn_layer_background_config->height / 50;
    IDirectFBFont *font = nullptr;
    KVN_DFB_CHECK(kvn_dfb->CreateFont(kvn_dfb, kvn::kFont, &font_desc, &font),
                  "kvn_dfb->CreateFont(kvn_dfb, FONT, &font_desc, &font)");
    int font_height = 0;
    KVN_DFB_CHECK(font->GetHeight(font, &font_height), "font->GetHeight(font, &font_height)");

    // No backdrop is no error: the help text is drawn over what is there.
    IDirectFBImageProvider *provider = nullptr;
    if (kvn_dfb->CreateImageProvider(kvn_dfb, kvn::kBackdrop, &provider) == DFB_OK) {
        provider->RenderTo(provider, *kvn_surface_background_of_layer_background, nullptr);
        KVN_DFB_CHECK(static_cast<DFBResult>(provider->Release(provider)),
                      "provider->Release( provider )");
    }

    IDirectFBSurface *s = *kvn_surface_background_of_layer_background;
    KVN_DFB_CHECK(s->SetFont(s, font),
                  "(*kvn_surface_background_of_layer_background)->SetFont( "
                  "(*kvn_surface_background_of_layer_background), font )");

    KVN_DFB_CHECK(s->SetColor(s, 0xCF, 0xCF, 0xFF, 0xFF),
                  "(*kvn_surface_background_of_layer_background)->SetColor( "
                  "(*kvn_surface_background_of_layer_background), 0xCF, 0xCF, 0xFF, 0xFF )");
    KVN_DFB_CHECK(s->DrawString(s, "Press the s/S/BLUE key to switch focus between window.", -1,
                                150, 20, static_cast<DFBSurfaceTextFlags>(DSTF_LEFT | DSTF_TOP)),
                  "(*kvn_surface_background_of_layer_background)->DrawString( "
                  "(*kvn_surface_background_of_layer_background), \"Press the s/S/BLUE key to "
                  "switch focus between window.\", -1, 150, 20, DSTF_LEFT | DSTF_TOP )");

    KVN_DFB_CHECK(s->SetColor(s, 0xCF, 0xDF, 0xCF, 0xFF),
                  "(*kvn_surface_background_of_layer_background)->SetColor( "
                  "(*kvn_surface_background_of_layer_background), 0xCF, 0xDF, 0xCF, 0xFF )");
    KVN_DFB_CHECK(
        s->DrawString(s, "Press LEFT/RIGHT/UP/DOWN cursor key to move the window.", -1, 150,
                      font_height + 20, static_cast<DFBSurfaceTextFlags>(DSTF_LEFT | DSTF_TOP)),
        "(*kvn_surface_background_of_layer_background)->DrawString( "
        "(*kvn_surface_background_of_layer_background), \"Press LEFT/RIGHT/UP/DOWN cursor key to "
        "move the window.\", -1, 150, font_height+20, DSTF_LEFT | DSTF_TOP )");

    KVN_DFB_CHECK(s->SetColor(s, 0xCF, 0xFF, 0x6F, 0xFF),
                  "(*kvn_surface_background_of_layer_background)->SetColor( "
                  "(*kvn_surface_background_of_layer_background), 0xCF, 0xFF, 0x6F, 0xFF )");
    KVN_DFB_CHECK(
        s->DrawString(s, "Press ESC/STOP/POWER key to exit.", -1, 150, (font_height * 2) + 20,
                      static_cast<DFBSurfaceTextFlags>(DSTF_LEFT | DSTF_TOP)),
        "(*kvn_surface_background_of_layer_background)->DrawString( "
        "(*kvn_surface_background_of_layer_background), \"Press ESC/STOP/POWER key to exit.\", -1, "
        "150, (font_height * 2) + 20, DSTF_LEFT | DSTF_TOP )");

    font->Release(font);
    return 0;
}

extern "C" void kvn_confirm_virtual_screensize(void) {
    int mode = 0;
    if (!kvn::stored_number("video_output", &mode) || mode != kvn::kModeAuto) return;

    // Only once the output side has named the mode it picked (in a regular
    // file: a FIFO there must not hold up the start).
    int name = kvn::open_regular("/tmp/tvname", nullptr);
    if (name < 0) return;
    close(name);

    if (kvn_dfb_global_context.kvn_layer_osd == nullptr) {
        kvn::warn("kvn_confirm_virtual_screensize",
                  "called before kvn_layer_osd_init; nothing done");
        return;
    }

    DFBDisplayLayerConfig &config = kvn_dfb_global_context.kvn_layer_osd_config;
    config.flags = static_cast<DFBDisplayLayerConfigFlags>(DLCONF_WIDTH | DLCONF_HEIGHT);
    config.width = kvn::kVirtualWidth;
    config.height = kvn::kVirtualHeight;
    KVN_DFB_CHECK((kvn_dfb_global_context.kvn_layer_osd)
                      ->SetConfiguration((kvn_dfb_global_context.kvn_layer_osd),
                                         &(kvn_dfb_global_context.kvn_layer_osd_config)),
                  "(kvn_dfb_global_context.kvn_layer_osd)->SetConfiguration((kvn_dfb_global_"
                  "context.kvn_layer_osd), &(kvn_dfb_global_context.kvn_layer_osd_config))");
}

extern "C" int kvn_layer_osd_clean_up(IDirectFBDisplayLayer *layer, IDirectFBSurface *surface) {
    return kvn::release_layer_and_surface(layer, surface);
}

extern "C" int kvn_layer_background_clean_up(IDirectFBDisplayLayer *layer,
                                             IDirectFBSurface *surface) {
    return kvn::release_layer_and_surface(layer, surface);
}
