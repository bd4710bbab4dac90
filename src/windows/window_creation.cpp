// An application window: a DirectFB window on the OSD layer with a
// double-buffered ARGB surface and its own event buffer.
#include "common/guard.h"
#include "korvan_framework_lib.h"

extern "C" int kvn_create_window_surface_events(kvn_window *kvn_window, DFBWindowDescription *desc,
                                                int posx, int posy, int width, int height,
                                                DFBWindowCapabilities caps, uint8_t opacity) {
    DFBDisplayLayerConfig dlcfg;
    KVN_DFB_CHECK(kvn_dfb_global_context.kvn_layer_osd->GetConfiguration(
                      kvn_dfb_global_context.kvn_layer_osd, &dlcfg),
                  "kvn_dfb_global_context.kvn_layer_osd->GetConfiguration(kvn_dfb_global_context."
                  "kvn_layer_osd, &dlcfg)");
    if (width == 0) width = dlcfg.width;
    if (height == 0) height = dlcfg.height;

    desc->flags = static_cast<DFBWindowDescriptionFlags>(
        DWDESC_CAPS | DWDESC_WIDTH | DWDESC_HEIGHT | DWDESC_PIXELFORMAT | DWDESC_POSX |
        DWDESC_POSY | DWDESC_SURFACE_CAPS);
    desc->caps = caps;
    desc->width = width;
    desc->height = height;
    desc->pixelformat = DSPF_ARGB;
    desc->posx = posx;
    desc->posy = posy;
    desc->surface_caps = DSCAPS_DOUBLE;

    kvn_window->magic = KVN_WINDOW_MAGIC;
    KVN_DFB_CHECK(kvn_dfb_global_context.kvn_layer_osd->CreateWindow(
                      kvn_dfb_global_context.kvn_layer_osd, desc, &(kvn_window->window)),
                  "kvn_dfb_global_context.kvn_layer_osd->CreateWindow(kvn_dfb_global_context.kvn_"
                  "layer_osd, desc, &(kvn_window->window))");
    KVN_DFB_CHECK((kvn_window->window)->GetSurface((kvn_window->window), &(kvn_window->surface)),
                  "(kvn_window->window)->GetSurface((kvn_window->window), &(kvn_window->surface))");
    KVN_DFB_CHECK(kvn_window->surface->SetDrawingFlags(kvn_window->surface, DSDRAW_NOFX),
                  "kvn_window->surface->SetDrawingFlags(kvn_window->surface, DSDRAW_NOFX )");
    KVN_DFB_CHECK(
        (kvn_window->window)->CreateEventBuffer((kvn_window->window), &(kvn_window->events)),
        "(kvn_window->window)->CreateEventBuffer( (kvn_window->window), &(kvn_window->events))");
    KVN_DFB_CHECK((kvn_window->surface)->SetColor(kvn_window->surface, 0x00, 0x00, 0x00, 0x00),
                  "(kvn_window->surface)->SetColor(kvn_window->surface, 0x00, 0x00, 0x00, 0x00)");
    KVN_DFB_CHECK(
        (kvn_window->surface)->FillRectangle(kvn_window->surface, 0, 0, desc->width, desc->height),
        "(kvn_window->surface)->FillRectangle(kvn_window->surface, 0, 0, desc->width, "
        "desc->height)");
    KVN_DFB_CHECK((kvn_window->surface)->Flip(kvn_window->surface, NULL, DSFLIP_NONE),
                  "(kvn_window->surface)->Flip(kvn_window->surface, NULL, DSFLIP_NONE)");
    KVN_DFB_CHECK((kvn_window->window)->SetOpacity((kvn_window->window), opacity),
                  "(kvn_window->window)->SetOpacity( (kvn_window->window), opacity )");
    return 0;
}

extern "C" int kvn_window_clean_up(kvn_window *kvn_window) {
    if (kvn_window == nullptr) return 0;
    if (kvn_window->events != nullptr) {
        kvn_window->events->Release(kvn_window->events);
        kvn_window->events = nullptr;
    }
    if (kvn_window->surface != nullptr) {
        kvn_window->surface->Release(kvn_window->surface);
        kvn_window->surface = nullptr;
    }
    if (kvn_window->window != nullptr) {
        kvn_window->window->Release(kvn_window->window);
        kvn_window->window = nullptr;
    }
    return 0;
}
